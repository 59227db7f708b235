// nolvi2: one picture, one window, one process.
#include "Unit1.h"
#include "EarlyRead.h"
#include "common/OZVista.h"
#include "platform/Process.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // New windows start from the file this process started from, resolved before anything
    // could replace it.
    nolvi2::ProgramPath();
    // The picture is read while the toolkit starts.
    nolvi2::StartEarlyRead(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    // X11 (XWayland on a Wayland desktop) unless a platform is chosen explicitly.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The window paints with the raster engine: no OpenGL to look for at start.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QApplication::setWindowIcon(nolvi2::ProgramIcon());  // every window's icon

    // The interface is Japanese whatever the locale: a Japanese font, so that kanji take their
    // Japanese forms, and Qt's own Japanese texts.
    // Families in order of preference, so that the font database is not searched at start.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                      font.family()});
    QApplication::setFont(font);
    QTranslator qtbase;
    if (qtbase.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtbase);

    nolvi2::SetApplicationTitle(QStringLiteral("nolvi2"));
    nolvi2::TForm1 window;
    // argv as it is (QApplication has taken its own options out of it): names are bytes, and
    // a name that is not valid UTF-8 would not survive a trip through QString.
    const std::vector<std::string> parameters(argv + std::min(argc, 1), argv + argc);
    window.FormCreate(parameters);
    window.show();
    return app.exec();
}
