#pragma once
// The window test fixture: a temporary folder, the message boxes collected instead of shown,
// pictures made on disk and windows of a fixed client size.

#include "Pictures.h"
#include "SettingsSandbox.h"
#include "TempDir.h"
#include "app/DialogFilters.h"
#include "app/Unit1.h"
#include "app/dlgPreferences.h"
#include "app/dlgResize.h"
#include "common/OZCommon.h"
#include "common/OZVista.h"
#include "platform/Exceptions.h"
#include "platform/JPEGImage.h"
#include "png/VelPNG.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace nolvi2::test {

namespace fs = std::filesystem;

struct Message {
    QString text;
    int kind;
};

// The window's services for tests: messages collected and answered (OK unless answer says
// otherwise), dialogs answered by the test (cancelled when it gives no answer), and no
// process started unless start says what to do.
class FakeServices : public TWindowServices {
public:
    std::vector<Message> messages;
    std::function<int(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons)> answer;
    std::function<bool(int32_t& width, int32_t& height, uint8_t& algorithm)> resize;
    std::function<bool(TWindowOptions& options, const TPreferencesTargets& targets)> preferences;
    std::function<bool(const QString& keyPathText, TIniStyle& style)> iniStyle;
    std::function<QString(const QString& title, const QString& filter)> save;  // the name typed
    TProgramStarter start;
    bool realBoxes = false;       // the program's real message and about boxes
    bool realSaveDialog = false;  // the program's real save dialog

    int MessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar) override
    {
        if (realBoxes)
            return TWindowServices::MessageBox(text, kind, buttons, taskBar);
        messages.push_back({text, kind});
        return answer ? answer(text, kind, buttons) : int(mrOk);
    }
    void AboutBox() override
    {
        if (realBoxes)
            TWindowServices::AboutBox();
        else
            MessageBox(Text(AboutBoxText()), mtInformation, Buttons({mbOK}), false);
    }
    bool ResizeDialog(int32_t& width, int32_t& height, uint8_t& algorithm) override
    {
        return resize && resize(width, height, algorithm);
    }
    bool PreferencesDialog(QWidget*, TWindowOptions& options, const TPreferencesTargets& targets, const TSPIs*) override
    {
        return preferences && preferences(options, targets);
    }
    QString SaveFileDialog(QWidget* owner, const QString& title, const QString& suffix, const QString& filter,
                           const QString& directory) override
    {
        if (realSaveDialog)
            return TWindowServices::SaveFileDialog(owner, title, suffix, filter, directory);
        return save ? save(title, filter) : QString();
    }
    bool IniStyleDialog(QWidget*, const std::string& keyPathText, TIniStyle& style) override
    {
        return iniStyle && iniStyle(Text(keyPathText), style);
    }
    pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments, int handOver) override
    {
        return start ? start(program, arguments, handOver) : pid_t(0);
    }
};

class Window : public ::testing::Test {
protected:
    // A 24-bit picture whose pixel (x, y) is (x, y, 200) as red, green, blue.
    std::string MakePicture(const std::string& name, int32_t w, int32_t h)
    {
        TBitmap b(w, h, TPixelFormat::pf24bit);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* p = b.ScanLine(y) + 3 * x;
                p[0] = 200;
                p[1] = uint8_t(y);
                p[2] = uint8_t(x);
            }
        const std::string path = (dir / name).string();
        b.SaveToFile(path);
        return path;
    }

    // A window with a fixed client (no fitting) of the given size: the store says so.
    std::unique_ptr<TForm1> MakeWindow(const std::vector<std::string>& params = {}, int cw = 300, int ch = 200)
    {
        {
            TOZIniFile2 store;
            store.OpenSection("Config", true);
            store.WriteBool("WindowResizeByZoom", false);
            // Results replace the picture here; the new-window tests turn this on.
            store.WriteBool("OpenResultInNewWindow", false);
            store.UpdateFile();
        }
        auto w = std::make_unique<TForm1>(services);
        w->resize(cw, ch);
        w->FormCreate(params);
        w->show();
        w->resize(cw, ch);  // opening (and framing) fits the window to the picture; undo that
        return w;
    }

    // What a window opening file without an early read shows: its picture into read, and
    // its title.
    QString OpenedNormally(const std::string& file, TBitmap& read)
    {
        auto w = MakeWindow({file});
        read.Assign(w->Picture());
        return w->windowTitle();
    }

    SettingsSandbox settings;  // before any window: windows read the store when created
    std::shared_ptr<FakeServices> services = std::make_shared<FakeServices>();
    std::vector<Message>& messages = services->messages;
    TempDir temp{"nolvi2-window"};
    const fs::path dir = temp.Path();
};

inline QRgb PixelAt(QWidget& w, int x, int y) { return w.grab().toImage().pixel(x, y); }

// Mouse events at a logical client position, as the toolkit delivers them.
inline void Mouse(QWidget& w, QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, p, w.mapToGlobal(p), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}
inline void Press(QWidget& w, QPointF p) { Mouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
inline void DragTo(QWidget& w, QPointF p) { Mouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
inline void Hover(QWidget& w, QPointF p) { Mouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
inline void Release(QWidget& w, QPointF p) { Mouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }


}  // namespace nolvi2::test
