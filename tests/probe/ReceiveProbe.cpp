// A window started as the program starts one, that reports what it shows and ends: the title,
// the picture's size and whether its first pixel is the inverse of the test picture's, and the
// number of messages it would have shown. Arguments: the report file, then the window's.
#include "app/Unit1.h"

#include <QApplication>

#include <fstream>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // Messages are counted, not shown.
    struct Counting : nolvi2::TWindowServices {
        int messages = 0;
        int MessageBox(const QString&, nolvi2::TMsgDlgType, nolvi2::TMsgDlgButtons, bool) override
        {
            ++messages;
            return int(nolvi2::mrOk);
        }
    };
    const auto services = std::make_shared<Counting>();
    nolvi2::TForm1 window(services);
    window.FormCreate(std::vector<std::string>(argv + 2, argv + argc));
    const nolvi2::TBitmap& p = window.Picture();
    std::ofstream out(argv[1]);
    out << window.windowTitle().toStdString() << '\n'
        << p.Width() << ' ' << p.Height() << (!p.Empty() && p.ScanLine(0)[0] == 255 - 200 ? " inverted" : "") << '\n'
        << services->messages << '\n';
    return 0;
}
