#pragma once
// What the window asks of the world outside it: message boxes, its dialogs, the first
// start's question and the start of new windows. The window is handed one services object;
// this class is the real one, and tests derive fakes from it that answer without showing
// anything or starting a process.

#include "WindowSettings.h"
#include "common/OZVista.h"
#include "settings/OZIniFile2.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

class QWidget;

namespace nolvi2 {

class TSPIs;
struct TPreferencesTargets;

class TWindowServices {
public:
    virtual ~TWindowServices() = default;

    // The program's message box; taskBar for a box that stands for the program before any
    // window shows. Returns the modal result.
    virtual int MessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar = false);
    virtual void AboutBox();
    // The resize dialog: true with the new size and algorithm on OK.
    virtual bool ResizeDialog(int32_t& width, int32_t& height, uint8_t& algorithm);
    // The preferences dialog: true when the user confirmed (options and targets then changed).
    virtual bool PreferencesDialog(QWidget* owner, TWindowOptions& options, const TPreferencesTargets& targets,
                                   const TSPIs* spis);
    // The save dialog with its title, default suffix, filter (Qt's form) and starting folder:
    // the chosen name (after asking before overwriting it), or empty when cancelled.
    virtual QString SaveFileDialog(QWidget* owner, const QString& title, const QString& defaultSuffix,
                                   const QString& filter, const QString& directory);
    // The settings store's dialog: the choice starting from style; true with the chosen one.
    virtual bool IniStyleDialog(QWidget* owner, const std::string& keyPathText, TIniStyle& style);
    // The first start's question: true for the INI file.
    virtual bool FirstStartQuestion();
    // Starts a program (a new window); see StartProgram.
    virtual pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments, int handOver);
};

}  // namespace nolvi2
