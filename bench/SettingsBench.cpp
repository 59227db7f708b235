// Reading and writing the window's settings with a full recent list, in both stores: what a
// window costs at start-up and when it closes. Writing includes flushing each file to disk.
#include "app/WindowSettings.h"
#include "settings/OZHistoryList.h"
#include "settings/OZIniFile2.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace nolvi2 {
namespace {

// A store of the given kind in a temporary folder, holding the settings and 32 recent files.
class Place {
public:
    explicit Place(TIniStyle style)
    {
        char folder[] = "/tmp/nolvi2-bench-settings-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        FFolder = folder;
        ::setenv("XDG_CONFIG_HOME", folder, 1);
        TOZIniFile2::SetExecutableName(FFolder + "/nolvi2");
        TOZIniFile2::InitializeStore(style);
        for (int i = 0; i < 32; ++i)
            Recent.AddFile("/home/user/Pictures/2026/holiday/IMG_" + std::to_string(1000 + i) + ".jpg");
        SaveSettings(Settings, Recent);
    }
    ~Place()
    {
        TOZIniFile2::SetExecutableName({});
        std::filesystem::remove_all(FFolder);
    }
    TWindowSettings Settings;
    TOZHistoryList Recent;

private:
    std::string FFolder;
};

void BM_LoadSettings(benchmark::State& state)
{
    Place place(TIniStyle(state.range(0)));
    for (auto _ : state) {
        TWindowSettings settings;
        TOZHistoryList recent;
        benchmark::DoNotOptimize(LoadSettings(settings, recent));
    }
}
BENCHMARK(BM_LoadSettings)->ArgName("registry")->Arg(isIniFile)->Arg(isRegistry)->Unit(benchmark::kMicrosecond);

void BM_SaveSettings(benchmark::State& state)
{
    Place place(TIniStyle(state.range(0)));
    for (auto _ : state)
        SaveSettings(place.Settings, place.Recent);
}
BENCHMARK(BM_SaveSettings)->ArgName("registry")->Arg(isIniFile)->Arg(isRegistry)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nolvi2

BENCHMARK_MAIN();
