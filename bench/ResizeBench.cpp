// Resampling a 6000 x 4000 24-bit picture, single thread. Bytes/s is source picture data.
#include "SyntheticPicture.h"
#include "image/OZBLibResize.h"

#include <benchmark/benchmark.h>

namespace {

using namespace nolvi2;

TBitmap& Picture() { return bench::LargePicture(); }

// state.range: algorithm, new width, new height.
void BM_Resize(benchmark::State& state)
{
    TBitmap& pic = Picture();
    const auto algorithm = uint8_t(state.range(0));
    const auto newWidth = int32_t(state.range(1)), newHeight = int32_t(state.range(2));
    bench::InstallWindowLikeProgress(pic);
    for (auto _ : state) {
        auto result = ResizeBitmap(pic, newWidth, newHeight, 128, true, algorithm);
        benchmark::DoNotOptimize(result->ScanLine(0));
    }
    pic.OnProgress = nullptr;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"algorithm", "w", "h"});
    for (const int algorithm : {raNearest, raBilinear, raIntegral})
        for (const auto& [w, h] : {std::pair{3000, 2000}, {1234, 987}, {8000, 5333}})
            b->Args({algorithm, w, h});
    // The display's reduced copies at 25 % and 10 %.
    b->Args({raNearest, 1500, 1000});
    b->Args({raNearest, 600, 400});
    // Large integral reductions: a thumbnail, and one pixel (sums far past 2^24).
    b->Args({raIntegral, 600, 400});
    b->Args({raIntegral, 1, 1});
}

}  // namespace

BENCHMARK(BM_Resize)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
