#pragma once
// The plug-in registry: finds picture plug-ins ("*.spi" shared objects, see spi.h) on disk,
// loads each, classifies it by the API version it reports, binds its exports and keeps the
// loaded plug-ins in order. Import plug-ins enter their extensions in the picture-format
// table, so that the open dialog offers them and picture loading reaches them. One registry
// per process.

#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "spi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nolvi2 {

class ESPIFOpenErrorSPI : public Exception {
public:
    using Exception::Exception;
};
class ESPIInvalidAPI : public Exception {
public:
    using Exception::Exception;
};
class ESPIDupCreateSPIs : public Exception {
public:
    using Exception::Exception;
};
class ESPIInvalidSPI : public Exception {
public:
    using Exception::Exception;
};

enum class TSPIKind : uint8_t { Plain, Loader, In, Am, Xn };

// One loaded plug-in library. Objects are made by Load (which binds and checks the exports
// for the kind) and release the library when destroyed.
class TSPI {
public:
    virtual ~TSPI();
    TSPI(const TSPI&) = delete;
    TSPI& operator=(const TSPI&) = delete;

    // A plug-in object of that kind for fileName: ESPIFOpenErrorSPI when the library cannot
    // be loaded, ESPIInvalidAPI when an export the kind needs is missing.
    static std::unique_ptr<TSPI> Load(TSPIKind kind, const std::string& fileName);

    // The most pairs of extension patterns and format names read from a plug-in: one that
    // answers every number must not keep the search going for ever.
    static constexpr int32_t kMaxFormatPairs = 256;

    TSPIKind Kind() const { return FKind; }
    // Whether this plug-in is of that kind or one derived from it (In and Am are loaders).
    bool Is(TSPIKind kind) const;

    const std::string& FileName() const { return FFileName; }
    const std::string& APIVersion() const { return FAPIVersion; }
    const std::string& About() const { return FAbout; }
    const std::vector<std::string>& Extensions() const { return FExtensions; }
    const std::vector<std::string>& Formats() const { return FFormats; }

    // The exports; ESPIInvalidAPI when the plug-in does not have the one called.
    int32_t GetPluginInfo(int32_t infoNo, char* buffer, int32_t bufferLength);
    int32_t IsSupported(const char* fileName, const void* header);
    int32_t GetPictureInfo(const char* buffer, int32_t length, uint32_t flag, SpiPictureInfo* info);
    int32_t GetPicture(const char* buffer, int32_t length, uint32_t flag, void** infoHandle, void** bitsHandle,
                       SpiProgressCallback callback, intptr_t userData);
    int32_t GetPreview(const char* buffer, int32_t length, uint32_t flag, void** infoHandle, void** bitsHandle,
                       SpiProgressCallback callback, intptr_t userData);
    // SetThreadShare when the plug-in exports it (spi.h); nothing otherwise.
    void SetThreadShare(int32_t threads);

protected:
    TSPI() = default;

private:
    void CheckAPIs() const;
    void RequireAPI(const void* entry, const char* name) const;

    TSPIKind FKind = TSPIKind::Plain;
    void* FHandle = nullptr;
    std::string FFileName;
    std::string FAPIVersion;
    std::string FAbout;
    std::vector<std::string> FExtensions;
    std::vector<std::string> FFormats;
    enum Export { xGetPluginInfo, xIsSupported, xGetPictureInfo, xGetPicture, xGetPreview, xGetArchiveInfo,
                  xGetFileInfo, xGetFile, xConfigurationDlg, xCount };
    void* FEntries[xCount] = {};
    void* FSetThreadShare = nullptr;
};

enum TSPISearchOption : uint8_t {
    spsSusieDir = 1,
    spsAppDir = 2,
    spsCurrentDir = 4,
    spsSystemDir = 8,
    spsWindowsDir = 16,
};
using TSPISearchOptions = uint8_t;

class TSPIs {
public:
    // ESPIDupCreateSPIs ("TSPIs は複数生成できません") while another registry exists.
    TSPIs();
    ~TSPIs();
    TSPIs(const TSPIs&) = delete;
    TSPIs& operator=(const TSPIs&) = delete;

    // The registry of the process, or null.
    static TSPIs* GetSPIs();
    // The class that import plug-ins' extensions are registered with.
    static void SetDefaultGraphicClass(const TGraphicClass* cls);
    static const TGraphicClass* DefaultGraphicClass();

    // Finds, loads and registers the plug-ins that mask names: with a folder part, that folder
    // only; else every folder of SearchOptions, in their order. ESPIInvalidAPI from a plug-in
    // ends the search (those registered before it stay).
    void Search(const std::string& mask);

    int Count() const { return int(FList.size()); }
    TSPI& Items(int index) const { return *FList.at(std::size_t(index)); }
    void Add(std::unique_ptr<TSPI> spi) { Insert(Count(), std::move(spi)); }
    void Insert(int index, std::unique_ptr<TSPI> spi);
    void Delete(int index);
    void Clear();
    // The first plug-in whose file name equals fileName (A to Z without regard to case); -1.
    int IndexOf(const std::string& fileName) const;
    // Appends the plug-ins of any of kinds to list: those that list fileName's extension first
    // (the later registered before the earlier), then the others in registry order.
    void GetPluginList(std::initializer_list<TSPIKind> kinds, std::vector<TSPI*>& list,
                       const std::string& fileName) const;

    // A new plug-in object of the kind its API version selects; null when the file cannot be
    // loaded as a library.
    static std::unique_ptr<TSPI> LoadPlugin(const std::string& fileName);

    // The threads each decoding may use (SetThreadShare of spi.h), for the plug-ins loaded and
    // those loaded later: 0, every processor, unless several pictures are decoded at once.
    void SetThreadShare(int32_t threads);
    int32_t ThreadShare() const { return FThreadShare; }

    TSPISearchOptions SearchOptions = spsSusieDir | spsAppDir;
    bool MacBinary = true;
    bool GraphicPreview = false;
    // Called for each loaded plug-in; Accept false frees it.
    std::function<void(TSPIs& sender, TSPI& spi, bool& accept)> OnSearch;
    // Called for each file before it is loaded; Accept false skips it.
    std::function<void(TSPIs& sender, const std::string& fileName, bool& accept)> OnSearching;
    // Called for each extension before it enters the picture-format table; clearing the class
    // keeps it (and the rest of its entry) out.
    std::function<void(TSPIs& sender, TSPI& spi, const std::string& extension, const std::string& description,
                       const TGraphicClass*& graphicClass)>
        OnPictureRegister;

    // The folders searched with spsSystemDir and spsWindowsDir.
    static constexpr const char* kSystemDir = "/usr/lib/susie-plugins";
    static constexpr const char* kWindowsDir = "/usr/local/lib/susie-plugins";

private:
    void SearchFolder(const std::string& folder, const std::string& pattern);
    void RegisterFormats(TSPI& spi);

    std::vector<std::unique_ptr<TSPI>> FList;
    int32_t FThreadShare = 0;
};

// The folder of the running executable.
std::string ExecutableFolder();

}  // namespace nolvi2
