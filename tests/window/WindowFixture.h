#pragma once
// The window test fixture: a temporary folder, the message boxes collected instead of shown,
// pictures made on disk and windows of a fixed client size.

#include "Pictures.h"
#include "SettingsSandbox.h"
#include "TempDir.h"
#include "app/Unit1.h"
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

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHook([this](const QString& text, TMsgDlgType kind, TMsgDlgButtons) {
            messages.push_back({text, kind});
            return int(mrOk);
        });
    }
    void TearDown() override
    {
        SetMessageBoxHook({});
    }

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
        auto w = std::make_unique<TForm1>();
        w->resize(cw, ch);
        w->FormCreate(params);
        w->show();
        w->resize(cw, ch);  // opening (and framing) fits the window to the picture; undo that
        return w;
    }

    SettingsSandbox settings;  // before any window: windows read the store when created
    TempDir temp{"nolvi2-window"};
    const fs::path dir = temp.Path();
    std::vector<Message> messages;
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
