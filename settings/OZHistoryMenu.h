#pragma once
// The recent-files menu: the list of OZHistoryList shown as sixteen numbered items under a
// menu item. TOZHistoryFileMenu knows that the data texts are file names: it adds the two
// clearing commands and asks before it forgets a file that is gone.

#include "OZHistoryList.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <string>

namespace nolvi2 {

// An entry item of the menu (no behaviour of its own).
class TOZHistoryMenuItem : public QAction {
    Q_OBJECT
public:
    using QAction::QAction;
};

class TOZHistoryMenu : public QObject, public TOZHistoryList {
    Q_OBJECT
public:
    // Adds the sixteen entry items to menuItem, which owns them.
    explicit TOZHistoryMenu(QMenu* menuItem);
    ~TOZHistoryMenu() override;

    // Called with the chosen entry's data text.
    std::function<void(TOZHistoryMenu* sender, const std::string& data)> OnClick;
    // Called after the items were brought up to date.
    std::function<void()> OnUpdate;

    void UpdateMenu() override;
    QMenu* MenuItem() const { return FMenuItem; }
    TOZHistoryMenuItem* EntryItem(int i) const { return FMenuItems.at(std::size_t(i)); }

protected:
    virtual void ItemClick(QAction* sender);
    // The index of an entry item that stands for an entry, or -1.
    int EntryIndex(QAction* sender) const;

    QMenu* FMenuItem;
    std::array<TOZHistoryMenuItem*, kItemCount> FMenuItems{};
};

class TOZHistoryFileMenu : public TOZHistoryMenu {
    Q_OBJECT
public:
    // With addCommands, a separator, "クリア(&C)" and "存在しないファイルをクリア(&N)" follow the
    // entry items.
    TOZHistoryFileMenu(QMenu* menuItem, bool addCommands);

    // Asks whether a missing file leaves the list (Yes and No); by default the program's
    // confirmation box.
    std::function<bool(const QString& text)> ConfirmMissing;

protected:
    void ItemClick(QAction* sender) override;
};

}  // namespace nolvi2
