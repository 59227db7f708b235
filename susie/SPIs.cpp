#include "SPIs.h"

#include "platform/Format.h"
#include "platform/KeyStore.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

namespace {

TSPIs*& Instance()
{
    static TSPIs* instance = nullptr;
    return instance;
}

const TGraphicClass*& DefaultClass()
{
    static const TGraphicClass* cls = nullptr;
    return cls;
}

const char* const kExportNames[] = {"GetPluginInfo", "IsSupported", "GetPictureInfo", "GetPicture",       "GetPreview",
                                    "GetArchiveInfo", "GetFileInfo", "GetFile",       "ConfigurationDlg"};

// The text from the last "." of the name part on, or empty.
std::string ExtensionOf(std::string_view name)
{
    const auto slash = name.rfind('/');
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return std::string(name.substr(dot));
}

// One text of GetPluginInfo: the buffer's text when the result is above 0.
bool InfoText(TSPI& spi, int32_t n, std::string& text)
{
    char buffer[257] = {};
    if (spi.GetPluginInfo(n, buffer, 255) <= 0)
        return false;
    buffer[256] = '\0';
    text = buffer;
    return true;
}

}  // namespace

std::string ExecutableFolder()
{
    const std::string exe = ExecutablePath();
    return exe.empty() ? std::string(".") : FolderOf(exe);
}

TSPI::~TSPI()
{
    if (FHandle)
        ::dlclose(FHandle);
}

bool TSPI::Is(TSPIKind kind) const
{
    if (kind == FKind || kind == TSPIKind::Plain)
        return true;
    return kind == TSPIKind::Loader && (FKind == TSPIKind::In || FKind == TSPIKind::Am);
}

std::unique_ptr<TSPI> TSPI::Load(TSPIKind kind, const std::string& fileName)
{
    std::unique_ptr<TSPI> spi(new TSPI);
    spi->FKind = kind;
    spi->FHandle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!spi->FHandle)
        throw ESPIFOpenErrorSPI(Format("%s:Susie Pluginがロードできませんでした", fileName.c_str()));
    char real[PATH_MAX];
    spi->FFileName = ::realpath(fileName.c_str(), real) ? std::string(real) : fileName;
    for (int i = 0; i < xCount; ++i)
        spi->FEntries[i] = ::dlsym(spi->FHandle, kExportNames[i]);
    spi->FSetThreadShare = ::dlsym(spi->FHandle, "SetThreadShare");
    spi->CheckAPIs();
    InfoText(*spi, 0, spi->FAPIVersion);
    InfoText(*spi, 1, spi->FAbout);
    for (int32_t n = 2; n < 2 + 2 * kMaxFormatPairs; n += 2) {
        std::string extension, format;
        if (!InfoText(*spi, n, extension) || !InfoText(*spi, n + 1, format))
            break;
        spi->FExtensions.push_back(std::move(extension));
        spi->FFormats.push_back(std::move(format));
    }
    return spi;
}

void TSPI::RequireAPI(const void* entry, const char* name) const
{
    if (!entry)
        throw ESPIInvalidAPI(Format("%sは[%s]では使えないSusie Plugin APIです", name, FFileName.c_str()));
}

void TSPI::CheckAPIs() const
{
    // Each kind checks its parent's exports first, then its own.
    RequireAPI(FEntries[xGetPluginInfo], kExportNames[xGetPluginInfo]);
    if (FKind == TSPIKind::Loader || FKind == TSPIKind::In || FKind == TSPIKind::Am)
        RequireAPI(FEntries[xIsSupported], kExportNames[xIsSupported]);
    if (FKind == TSPIKind::In)
        for (const Export e : {xGetPictureInfo, xGetPicture})
            RequireAPI(FEntries[e], kExportNames[e]);
    if (FKind == TSPIKind::Am)
        for (const Export e : {xGetArchiveInfo, xGetFileInfo, xGetFile})
            RequireAPI(FEntries[e], kExportNames[e]);
}

int32_t TSPI::GetPluginInfo(int32_t infoNo, char* buffer, int32_t bufferLength)
{
    RequireAPI(FEntries[xGetPluginInfo], kExportNames[xGetPluginInfo]);
    return reinterpret_cast<SpiGetPluginInfo>(FEntries[xGetPluginInfo])(infoNo, buffer, bufferLength);
}

int32_t TSPI::IsSupported(const char* fileName, const void* header)
{
    RequireAPI(FEntries[xIsSupported], kExportNames[xIsSupported]);
    return reinterpret_cast<SpiIsSupported>(FEntries[xIsSupported])(fileName, header);
}

int32_t TSPI::GetPictureInfo(const char* buffer, int32_t length, uint32_t flag, SpiPictureInfo* info)
{
    RequireAPI(FEntries[xGetPictureInfo], kExportNames[xGetPictureInfo]);
    return reinterpret_cast<SpiGetPictureInfo>(FEntries[xGetPictureInfo])(buffer, length, flag, info);
}

int32_t TSPI::GetPicture(const char* buffer, int32_t length, uint32_t flag, void** infoHandle, void** bitsHandle,
                         SpiProgressCallback callback, intptr_t userData)
{
    RequireAPI(FEntries[xGetPicture], kExportNames[xGetPicture]);
    return reinterpret_cast<SpiGetPicture>(FEntries[xGetPicture])(buffer, length, flag, infoHandle, bitsHandle,
                                                                  callback, userData);
}

int32_t TSPI::GetPreview(const char* buffer, int32_t length, uint32_t flag, void** infoHandle, void** bitsHandle,
                         SpiProgressCallback callback, intptr_t userData)
{
    RequireAPI(FEntries[xGetPreview], kExportNames[xGetPreview]);
    return reinterpret_cast<SpiGetPicture>(FEntries[xGetPreview])(buffer, length, flag, infoHandle, bitsHandle,
                                                                  callback, userData);
}

void TSPI::SetThreadShare(int32_t threads)
{
    if (FSetThreadShare)
        reinterpret_cast<SpiSetThreadShare>(FSetThreadShare)(threads);
}

TSPIs::TSPIs()
{
    if (Instance())
        throw ESPIDupCreateSPIs("TSPIs は複数生成できません");
    Instance() = this;
}

TSPIs::~TSPIs()
{
    if (Instance() == this)
        Instance() = nullptr;
    Clear();
}

TSPIs* TSPIs::GetSPIs() { return Instance(); }

void TSPIs::SetDefaultGraphicClass(const TGraphicClass* cls) { DefaultClass() = cls; }

const TGraphicClass* TSPIs::DefaultGraphicClass() { return DefaultClass(); }

void TSPIs::Insert(int index, std::unique_ptr<TSPI> spi)
{
    index = std::clamp(index, 0, Count());
    TSPI& added = *spi;
    added.SetThreadShare(FThreadShare);
    FList.insert(FList.begin() + index, std::move(spi));
    if (added.Kind() != TSPIKind::In)
        return;
    try {
        RegisterFormats(added);
    } catch (...) {
        // The plug-in is not registered when its formats fail: it leaves the list again.
        FList.erase(FList.begin() + index);
        throw;
    }
}

void TSPIs::RegisterFormats(TSPI& spi)
{
    for (std::size_t i = 0; i < spi.Extensions().size(); ++i) {
        const std::string& description = spi.Formats()[i];
        const TGraphicClass* graphicClass = DefaultClass();
        const std::string& entry = spi.Extensions()[i];
        std::size_t start = 0;
        while (start <= entry.size()) {
            const std::size_t end = std::min(entry.find(';', start), entry.size());
            const std::string pattern = entry.substr(start, end - start);
            start = end + 1;
            const auto dot = pattern.find('.');
            const std::string extension = dot == std::string::npos ? pattern : pattern.substr(dot + 1);
            if (OnPictureRegister)
                OnPictureRegister(*this, spi, extension, description, graphicClass);
            if (graphicClass)
                TPictureFormats::Instance().Register(extension, description, *graphicClass);
        }
    }
}

void TSPIs::SetThreadShare(int32_t threads)
{
    FThreadShare = std::max(threads, 0);
    for (const auto& spi : FList)
        spi->SetThreadShare(FThreadShare);
}

void TSPIs::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    FList.erase(FList.begin() + index);
}

void TSPIs::Clear()
{
    while (!FList.empty())
        Delete(0);
}

int TSPIs::IndexOf(const std::string& fileName) const
{
    for (std::size_t i = 0; i < FList.size(); ++i)
        if (SameTextAscii(FList[i]->FileName(), fileName))
            return int(i);
    return -1;
}

void TSPIs::GetPluginList(std::initializer_list<TSPIKind> kinds, std::vector<TSPI*>& list,
                          const std::string& fileName) const
{
    const std::string ext = ExtensionOf(fileName);
    for (const auto& spi : FList) {
        if (std::none_of(kinds.begin(), kinds.end(), [&](TSPIKind k) { return spi->Is(k); }))
            continue;
        // An entry's own extension is the text from its last "." on.
        const bool preferred = !ext.empty() && std::any_of(spi->Extensions().begin(), spi->Extensions().end(),
                                                           [&](const std::string& e) { return SameTextAscii(ExtensionOf(e), ext); });
        if (preferred)
            list.insert(list.begin(), spi.get());
        else
            list.push_back(spi.get());
    }
}

std::unique_ptr<TSPI> TSPIs::LoadPlugin(const std::string& fileName)
{
    try {
        std::unique_ptr<TSPI> probe = TSPI::Load(TSPIKind::Plain, fileName);
        const std::string& version = probe->APIVersion();
        const TSPIKind kind = version == "00IN"   ? TSPIKind::In
                              : version == "00AM" ? TSPIKind::Am
                              : version == "00XN" ? TSPIKind::Xn
                                                  : TSPIKind::Plain;
        return TSPI::Load(kind, fileName);
    } catch (const ESPIFOpenErrorSPI&) {
        return nullptr;
    } catch (const ESPIInvalidSPI&) {
        return nullptr;
    }
}

void TSPIs::Search(const std::string& mask)
{
    if (const auto slash = mask.rfind('/'); slash != std::string::npos) {
        SearchFolder(slash == 0 ? "/" : mask.substr(0, slash), mask.substr(slash + 1));
        return;
    }
    if (SearchOptions & spsSusieDir) {
        try {
            TRegistry reg;
            if (reg.OpenKey("Software\\Yurokan\\Susie\\Plug-in", false) && reg.ValueExists("Path")) {
                const std::string path = reg.ReadString("Path");
                if (!path.empty())
                    SearchFolder(path, mask);
            }
        } catch (const ERegistryException&) {
            // A value of another type: the shared folder is not searched.
        } catch (const EStreamError&) {
            // An unreadable key: likewise.
        }
    }
    if (SearchOptions & spsAppDir)
        SearchFolder(ExecutableFolder(), mask);
    if (SearchOptions & spsCurrentDir) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd))
            SearchFolder(cwd, mask);
    }
    if (SearchOptions & spsSystemDir)
        SearchFolder(kSystemDir, mask);
    if (SearchOptions & spsWindowsDir)
        SearchFolder(kWindowsDir, mask);
}

void TSPIs::SearchFolder(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.empty() || name[0] == '.' || ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0)
                continue;
            struct stat st {};
            if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    // By name without regard to case, so the order does not depend on the file system.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = LowerAscii(a), lb = LowerAscii(b);
        return la != lb ? la < lb : a < b;
    });
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        std::string path = prefix + name;
        char real[PATH_MAX];
        // A plug-in is known by its real path, so one that two folders reach is loaded once.
        const std::string known = ::realpath(path.c_str(), real) ? std::string(real) : path;
        if (IndexOf(known) < 0)
            paths.push_back(std::move(path));
    }
    for (const std::string& path : paths) {
        bool accept = true;
        if (OnSearching)
            OnSearching(*this, path, accept);
        if (!accept)
            continue;
        std::unique_ptr<TSPI> spi = LoadPlugin(path);
        if (!spi || IndexOf(spi->FileName()) >= 0)
            continue;
        try {
            accept = true;
            if (OnSearch)
                OnSearch(*this, *spi, accept);
            if (accept)
                Add(std::move(spi));
        } catch (...) {
            // That plug-in is not registered; the search goes on.
        }
    }
}

}  // namespace nolvi2
