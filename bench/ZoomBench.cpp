// Rebuilding the window's display bitmap of a 6000 x 4000 24-bit picture: zoomed out, and
// with the surroundings of a selection shaded at zoom 1. Single thread; bytes/s is the
// source picture's data.
#include "SyntheticPicture.h"
#include "app/ZoomView.h"

#include <benchmark/benchmark.h>

namespace {

using namespace nolvi2;

const TBitmap& Picture()
{
    static const TBitmap pic = bench::SyntheticPicture(6000, 4000);
    return pic;
}

void Run(benchmark::State& state, float zoom, std::optional<TRect> selection, uint8_t outOfSelection)
{
    const TBitmap& pic = Picture();
    for (auto _ : state) {
        auto display = BuildDisplayBitmap(pic, zoom, selection, outOfSelection);
        benchmark::DoNotOptimize(display.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

const TRect kSelection{1500, 1000, 4500, 3000};

void BM_ZoomOut50(benchmark::State& s) { Run(s, 0.5f, std::nullopt, 0); }
void BM_ZoomOut25(benchmark::State& s) { Run(s, 0.25f, std::nullopt, 0); }
void BM_ZoomOut50Darkened(benchmark::State& s) { Run(s, 0.5f, kSelection, 1); }
void BM_Zoom1Darkened(benchmark::State& s) { Run(s, 1.0f, kSelection, 1); }
void BM_Zoom1Lightened(benchmark::State& s) { Run(s, 1.0f, kSelection, 2); }
}  // namespace

BENCHMARK(BM_ZoomOut50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomOut25)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomOut50Darkened)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zoom1Darkened)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zoom1Lightened)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
