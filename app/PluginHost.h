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
    // the executable's folder): at once, or when deferred, the first time the picture-format
    // table or SPIs is asked for (loading the plug-ins and their libraries takes a noticeable
    // part of a start). A search that ended with an error leaves its message in Message; the
    // plug-ins found before it stay. In a process that has a registry already (tests with
    // several windows), this one has none and that one serves.
    explicit TPluginHost(bool deferred = false);
    // Takes the plug-ins' extensions out of the picture-format table again.
    ~TPluginHost();
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;

    // The registry, searched.
    TSPIs* SPIs() const;
    const std::string& Message() const { return FMessage; }

    // The window's two handlers.
    static void OnSearch(TSPIs& sender, TSPI& spi, bool& accept);
    static void OnPictureRegister(TSPIs& sender, TSPI& spi, const std::string& extension,
                                  const std::string& description, const TGraphicClass*& graphicClass);

private:
    void Search();

    std::unique_ptr<TSPIs> FSPIs;
    bool FPending = false;
    std::string FMessage;
};

}  // namespace nolvi2
