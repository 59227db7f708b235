#include "PluginHost.h"

#include "platform/Format.h"
#include "platform/Graphics.h"
#include "susie/SPIBmp.h"

namespace nolvi2 {

TPluginHost::TPluginHost(bool deferred)
{
    if (TSPIs::GetSPIs())
        return;
    TSPIs::SetDefaultGraphicClass(&TSPIBitmap::ClassInfo());
    FSPIs = std::make_unique<TSPIs>();
    FSPIs->OnSearch = &OnSearch;
    FSPIs->OnPictureRegister = &OnPictureRegister;
    if (!deferred) {
        Search();
        return;
    }
    FPending = true;
    TPictureFormats::Defer([this] { Search(); });
}

TPluginHost::~TPluginHost()
{
    if (FPending)
        TPictureFormats::Defer({});
    if (FSPIs)
        TPictureFormats::Instance().Unregister(TSPIBitmap::ClassInfo());
}

TSPIs* TPluginHost::SPIs() const
{
    TPictureFormats::Instance();  // runs a deferred search
    return FSPIs.get();
}

void TPluginHost::Search()
{
    FPending = false;
    try {
        FSPIs->Search("*.spi");
    } catch (const std::exception& e) {
        FMessage = e.what();
    }
}

void TPluginHost::OnSearch(TSPIs&, TSPI& spi, bool& accept) { accept = spi.Kind() == TSPIKind::In; }

void TPluginHost::OnPictureRegister(TSPIs&, TSPI&, const std::string& extension, const std::string&,
                                    const TGraphicClass*& graphicClass)
{
    // A substring test, so that "jp" or "pn" stay with the built-in decoders too.
    if (std::string_view("bmp,jpg,jpeg,png").find(LowerAscii(extension)) != std::string_view::npos)
        graphicClass = nullptr;
}

}  // namespace nolvi2
