#include "DialogFilters.h"

#include "platform/Graphics.h"
#include "platform/JPEGImage.h"
#include "png/VelPNG.h"
#include "susie/SPIBmp.h"

#include <vector>

namespace nolvi2 {

namespace {

std::vector<std::string_view> Split(std::string_view s, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t i = s.find(separator);
        parts.push_back(s.substr(0, i));
        if (i == std::string_view::npos)
            return parts;
        s.remove_prefix(i + 1);
    }
}

}  // namespace

std::string QtFilter(std::string_view filter)
{
    const std::vector<std::string_view> parts = Split(filter, '|');
    std::string out;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string description(parts[i]);
        std::string pattern(parts[i + 1]);
        for (char& c : pattern)
            if (c == ';')
                c = ' ';
        if (description.ends_with(')'))
            if (const std::size_t open = description.rfind(" ("); open != std::string::npos)
                description.resize(open);
        if (description == "PNG Format")
            description = "PNG 画像ファイル";
        if (!out.empty())
            out += ";;";
        out.append(description).append(" (").append(pattern).append(")");
    }
    return out;
}

std::string OpenDialogFilter()
{
    const TPictureFormats& t = TPictureFormats::Instance();
    std::string mask, filters;
    for (const TGraphicClass* c : {&TSPIBitmap::ClassInfo(), &TJPEGImage::ClassInfo(), &TVelPNG::ClassInfo()}) {
        const std::string m = t.GraphicFileMask(*c);
        if (m.empty())
            continue;
        if (!mask.empty())
            mask += ';';
        mask += m;
        filters.append("|").append(t.GraphicFilter(*c));
    }
    return QtFilter("読み込み可能なファイル (" + mask + ")|" + mask + filters + "|すべてのファイル|*.*");
}

std::string SaveDialogFilter(bool jpeg)
{
    const TPictureFormats& t = TPictureFormats::Instance();
    // The class's own extensions only: the plug-ins' formats derive from the bitmap class, but
    // what is written is a BMP or JPEG file.
    return QtFilter(t.GraphicFilter(jpeg ? TJPEGImage::ClassInfo() : TBitmap::ClassInfo(), false));
}

}  // namespace nolvi2
