#include "OZHistoryMenu.h"

#include "common/OZVista.h"

#include "platform/SafeFile.h"

namespace nolvi2 {

namespace {

// A caption as the menu shows it: the text itself, "&" not taken as a mnemonic and a tab
// not taken as the start of a shortcut.
QString MenuText(const std::string& caption)
{
    QString text = QString::fromUtf8(caption);
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

}  // namespace

TOZHistoryMenu::TOZHistoryMenu(QMenu* menuItem) : FMenuItem(menuItem)
{
    if (!FMenuItem)
        return;
    for (auto& item : FMenuItems) {
        item = new TOZHistoryMenuItem(FMenuItem);
        FMenuItem->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { ItemClick(item); });
    }
    UpdateMenu();
}

TOZHistoryMenu::~TOZHistoryMenu()
{
    for (TOZHistoryMenuItem* item : FMenuItems)
        delete item;
}

void TOZHistoryMenu::UpdateMenu()
{
    if (!FMenuItem)
        return;
    for (int i = 0; i < kItemCount; ++i) {
        TOZHistoryMenuItem* item = FMenuItems[std::size_t(i)];
        const bool visible = i < FVisibleCount && i < Count();
        if (visible)
            item->setText(QStringLiteral("&%1 ").arg(i + 1) + MenuText(FCaptions[std::size_t(i)]));
        item->setVisible(visible);
    }
    if (OnUpdate)
        OnUpdate();
}

int TOZHistoryMenu::EntryIndex(QAction* sender) const
{
    for (int i = 0; i < kItemCount; ++i)
        if (FMenuItems[std::size_t(i)] == sender)
            return i < Count() ? i : -1;
    return -1;
}

void TOZHistoryMenu::ItemClick(QAction* sender)
{
    const int i = EntryIndex(sender);
    if (OnClick && i >= 0)
        OnClick(this, FDataItems[std::size_t(i)]);
}

TOZHistoryFileMenu::TOZHistoryFileMenu(QMenu* menuItem, bool addCommands) : TOZHistoryMenu(menuItem)
{
    CaseSensitive = true;  // file names: B.jpg and b.jpg are two files
    ConfirmMissing = [](const QString& text) {
        return ShowMessageBox(text, mtConfirmation, Buttons({mbYes, mbNo})) == mrYes;
    };
    if (!menuItem || !addCommands)
        return;
    menuItem->addSeparator();
    connect(menuItem->addAction(QStringLiteral("クリア(&C)")), &QAction::triggered, this, [this] { Clear(); });
    connect(menuItem->addAction(QStringLiteral("存在しないファイルをクリア(&N)")), &QAction::triggered, this,
            [this] { ClearMissing(); });
}

void TOZHistoryFileMenu::ItemClick(QAction* sender)
{
    const int i = EntryIndex(sender);
    if (i < 0)
        return;
    const std::string name = FDataItems[std::size_t(i)];
    if (FileExists(name)) {
        if (OnClick)
            OnClick(this, name);
        return;
    }
    const QString text = QStringLiteral("ファイルが見つかりません。\r\n") + QString::fromUtf8(name) +
                         QStringLiteral("\r\n履歴から削除しますか？");
    if (ConfirmMissing && ConfirmMissing(text))
        Delete(IndexOf(name));
}

}  // namespace nolvi2
