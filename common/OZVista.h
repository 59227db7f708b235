#pragma once
// The base of every window and dialog, and the program's message box. Only the main
// window has a task-bar entry: every other window is a dialog transient for it.

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string_view>

namespace nolvi2 {

// UTF-8 text (the program's strings and messages) as Qt text.
inline QString Text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn : uint8_t {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp,
};
using TMsgDlgButtons = uint16_t;
constexpr TMsgDlgButtons Buttons(std::initializer_list<TMsgDlgBtn> list)
{
    TMsgDlgButtons set = 0;
    for (const TMsgDlgBtn b : list)
        set = TMsgDlgButtons(set | (1u << b));
    return set;
}

// Modal results of the buttons.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

// The application's title, as the program keeps it (the main window's title shows it when
// no picture is loaded).
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Qt keeps its own settings in QtProject.conf under the user's configuration folder: a file
// dialog writes its history, last folder and layout there when it is destroyed, readable by
// anyone who may read that folder. After this call that file is never read or written: the
// user-scope place of Qt's settings becomes one where no file can be made.
void KeepToolkitSettingsUnwritten();

// The first TOZVistaForm created owns the task-bar entry (the main window); dialogs
// (TOZVistaDialog, message boxes) are transient for it and stay in front of it.
class TOZVistaForm : public QWidget {
    Q_OBJECT
public:
    explicit TOZVistaForm(QWidget* parent = nullptr);
    ~TOZVistaForm() override;
    static QWidget* TaskBarOwner();
};

class TOZVistaDialog : public QDialog {
    Q_OBJECT
public:
    TOZVistaDialog();
};

// A message box laid out as the program's own (captions, icon, default and cancel
// buttons, sizes from the dialog font's average character size).
class TOZVistaMessageForm : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    QWidget* DefaultButton() const { return FDefault; }
    QWidget* CancelButton() const { return FCancel; }
    void SetButtons(QWidget* defaultButton, QWidget* cancelButton)
    {
        FDefault = defaultButton;
        FCancel = cancelButton;
    }

protected:
    void reject() override;
    // A letter without Ctrl, Alt or Meta presses the button whose mnemonic it is (はい(&Y) on
    // Y), as in the desktop's own message boxes.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* FDefault = nullptr;
    QWidget* FCancel = nullptr;
};

// The box is placed in the middle of the screen and kept inside its available area. Its
// text wraps within half the screen's width; a word too long for that breaks at any letter.
std::unique_ptr<TOZVistaMessageForm> CreateMessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons,
                                                      bool taskBar = false);
// Shows the box modally; returns the modal result of the button pressed.
int ShowMessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar = false);

// The program's icon (drawn at 16 to 256 pixels), which main makes every window's icon.
QIcon ProgramIcon();

// The about box: the version text in an information box captioned with the application's
// title and "について", showing the program's icon.
std::unique_ptr<TOZVistaMessageForm> CreateAboutBox();
void ShowAboutBox();

// The dialog font's average character width (the 52 letters A-Z a-z divided by 52) and height.
QSize AverageCharSize(const QFont& font);

}  // namespace nolvi2
