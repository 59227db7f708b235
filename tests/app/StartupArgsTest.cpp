// What a new window takes from its command line: the position, a picture to receive, or files.
#include "app/StartupArgs.h"

#include "platform/Exceptions.h"

#include <gtest/gtest.h>

using namespace nolvi2;

TEST(StartupArgs, Table)
{
    struct Case {
        std::vector<std::string> params;
        std::optional<int32_t> left, top;
        bool receive;
        std::string block;
        int32_t size;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {{}, {}, {}, false, "", 0, {}},
        {{"pos:10,20", "a.jpg"}, 10, 20, false, "", 0, {"a.jpg"}},
        {{"a.jpg", "pos:-5,7", "b.jpg", "c.png"}, -5, 7, false, "", 0, {"a.jpg", "b.jpg", "c.png"}},
        // each coordinate on its own; only the first "pos:" counts, later ones are files
        {{"pos:x,30", "pos:1,2"}, {}, 30, false, "", 0, {"pos:1,2"}},
        {{"pos:12,"}, 12, {}, false, "", 0, {}},
        {{"pos:12"}, {}, {}, false, "", 0, {}},
        {{"pos:1,2,3"}, 1, {}, false, "", 0, {}},
        {{"pos:99999999999,5"}, {}, 5, false, "", 0, {}},
        {{"POS:1,2"}, {}, {}, false, "", 0, {"POS:1,2"}},
        // the handed-over picture, the word in any case; nothing else is opened
        {{"pos:3,4", "common:nolvi", "4294967295", "1234"}, 3, 4, true, "4294967295", 1234, {}},
        {{"a.jpg", "COMMON:Nolvi", "77", "$10"}, {}, {}, true, "77", 16, {}},
        {{"a file with spaces.jpg", "名前.png"}, {}, {}, false, "", 0, {"a file with spaces.jpg", "名前.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.params));
        const TStartup s = ParseStartup(c.params);
        EXPECT_EQ(s.Left, c.left);
        EXPECT_EQ(s.Top, c.top);
        EXPECT_EQ(s.Receive, c.receive);
        EXPECT_EQ(s.BlockFd, c.block);
        EXPECT_EQ(s.BlockSize, c.size);
        EXPECT_EQ(s.Files, c.files);
    }
}

TEST(StartupArgs, ReceiveWithoutItsParametersFails)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"common:nolvi"}, "リストのインデックスが範囲を超えています (1)"},
        {{"common:nolvi", "123"}, "リストのインデックスが範囲を超えています (2)"},
        {{"common:nolvi", "123", "12x"}, "'12x' は有効な整数値ではありません"},
        {{"common:nolvi", "123", ""}, "'' は有効な整数値ではありません"},
        {{"common:nolvi", "123", "4294967296"}, "'4294967296' は有効な整数値ではありません"},
    };
    for (const auto& [params, message] : cases) {
        try {
            ParseStartup(params);
            ADD_FAILURE() << "no error for " << testing::PrintToString(params);
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
}
