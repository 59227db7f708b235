#pragma once
// The program's plug-in registry, set up as the window and the tool use it: only picture
// plug-ins are kept, and BMP, JPEG and PNG stay with the built-in decoders.

#include "susie/SPIs.h"

#include <memory>
#include <string>

namespace nolvi2 {

class TPluginHost {
public:
    // Creates the registry and searches "*.spi" (the shared Susie folder of the key store and
    // the executable's folder). A search that ended with an error leaves its message in
    // Message; the plug-ins found before it stay. In a process that has a registry already
    // (tests with several windows), this one has none and that one serves.
    TPluginHost();
    // Takes the plug-ins' extensions out of the picture-format table again.
    ~TPluginHost();
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;

    TSPIs* SPIs() const { return FSPIs.get(); }
    const std::string& Message() const { return FMessage; }

    // The window's two handlers.
    static void OnSearch(TSPIs& sender, TSPI& spi, bool& accept);
    static void OnPictureRegister(TSPIs& sender, TSPI& spi, const std::string& extension,
                                  const std::string& description, const TGraphicClass*& graphicClass);

private:
    std::unique_ptr<TSPIs> FSPIs;
    std::string FMessage;
};

}  // namespace nolvi2
