#include "app/ActionTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace nolvi2 {
namespace {

TEST(ActionTable, EveryCommandHasItsActionAndEveryNameItsId)
{
    ASSERT_EQ(Actions().size(), kActionCount);
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const TActionInfo& a = Actions()[i];
        EXPECT_EQ(std::size_t(a.Id), i);
        EXPECT_TRUE(names.insert(a.Name).second) << a.Name;
        EXPECT_EQ(FindAction(a.Name), a.Id) << a.Name;
        EXPECT_FALSE(a.Caption.empty()) << a.Name;
        EXPECT_EQ(a.Kind == TActionKind::Command, a.Command != nullptr) << a.Name;
    }
    for (const TCommand& c : ProcessingCommands()) {
        const TActionInfo& a = ActionInfo(CommandAction(c));
        EXPECT_EQ(a.Command, &c);
        EXPECT_EQ(a.Name, c.Action);
        EXPECT_EQ(a.Caption, c.Caption);
    }
    EXPECT_EQ(FindAction("actNoSuchThing"), std::nullopt);
    EXPECT_EQ(FindAction("Open"), std::nullopt);
}

TEST(ActionTable, KeysBelongToOneActionAndMenuKeysToTheirActions)
{
    std::set<uint32_t> taken;
    for (const TActionInfo& a : Actions()) {
        bool ended = false;
        for (const TKeyStroke k : a.Keys) {
            if (k.Empty()) {
                ended = true;
                continue;
            }
            EXPECT_FALSE(ended) << a.Name << ": keys after an empty one";
            EXPECT_TRUE(taken.insert(k.Combined).second) << a.Name << " " << std::hex << k.Combined;
        }
        if (!a.MenuKey.Empty()) {
            EXPECT_NE(std::find(a.Keys.begin(), a.Keys.end(), a.MenuKey), a.Keys.end()) << a.Name;
        }
    }
    // The keys users know.
    const auto keyOf = [](TActionId id) { return ActionInfo(id).Keys[0].Combined; };
    EXPECT_EQ(keyOf(TActionId::Open), uint32_t('O'));
    EXPECT_EQ(keyOf(TActionId::Resize), uint32_t('R'));
    EXPECT_EQ(ActionInfo(TActionId::Resize).Keys[1].Combined, keys::Shift | 'R');
    EXPECT_EQ(keyOf(TActionId::Invert), keys::Ctrl | 'I');
    EXPECT_EQ(keyOf(TActionId::JpegPreview), uint32_t('J'));
    EXPECT_EQ(keyOf(TActionId::NextFile), keys::Right);
}

// The context menu offers every action once, its submenus close, and the recent files and the
// JPEG preview have their submenus.
TEST(ActionTable, ContextMenuOffersEveryActionOnce)
{
    std::vector<int> seen(kActionCount, 0);
    int depth = 0, recent = 0, preview = 0, hidden = 0;
    for (const TMenuEntry& e : ContextMenu()) {
        switch (e.Kind) {
        case TMenuEntryKind::Item: ++seen[std::size_t(e.Id)]; break;
        case TMenuEntryKind::Separator: break;
        case TMenuEntryKind::Begin:
            ++depth;
            EXPECT_FALSE(e.Caption.empty());
            recent += e.Role == TSubmenuRole::Recent;
            preview += e.Role == TSubmenuRole::JpegPreview;
            hidden += e.Role == TSubmenuRole::Hidden;
            break;
        case TMenuEntryKind::End:
            --depth;
            ASSERT_GE(depth, 0);
            break;
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(recent, 1);
    EXPECT_EQ(preview, 1);
    EXPECT_EQ(hidden, 1);
    for (std::size_t i = 0; i < kActionCount; ++i)
        EXPECT_EQ(seen[i], 1) << Actions()[i].Name;
}

}  // namespace
}  // namespace nolvi2
