#include "WindowServices.h"

#include "dlgPreferences.h"
#include "dlgResize.h"
#include "platform/Process.h"
#include "settings/OZRegIniDlg.h"

#include <QFileDialog>

namespace nolvi2 {

int TWindowServices::MessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar)
{
    return ShowMessageBox(text, kind, buttons, taskBar);
}

void TWindowServices::AboutBox() { ShowAboutBox(); }

bool TWindowServices::ResizeDialog(int32_t& width, int32_t& height, uint8_t& algorithm)
{
    return TResizeDialog::Execute(width, height, algorithm);
}

bool TWindowServices::PreferencesDialog(QWidget* owner, TWindowOptions& options, const TPreferencesTargets& targets,
                                        const TSPIs* spis)
{
    return TPreferencesDialog::Execute(owner, options, targets, spis);
}

QString TWindowServices::SaveFileDialog(QWidget* owner, const QString& title, const QString& defaultSuffix,
                                        const QString& filter, const QString& directory)
{
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowTitle(title);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setNameFilter(filter);
    if (!directory.isEmpty())
        dialog.setDirectory(directory);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

bool TWindowServices::IniStyleDialog(QWidget* owner, const std::string& keyPathText, TIniStyle& style)
{
    return TOZIniStyleDialog::Execute(owner, QString::fromUtf8(keyPathText), style);
}

bool TWindowServices::FirstStartQuestion()
{
    const QString text = QString::fromUtf8(kFirstStartQuestion.data(), qsizetype(kFirstStartQuestion.size()));
    return MessageBox(text, mtConfirmation, Buttons({mbYes, mbNo}), true) == mrYes;
}

pid_t TWindowServices::StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                                    int handOver)
{
    return nolvi2::StartProgram(program, arguments, handOver);
}

}  // namespace nolvi2
