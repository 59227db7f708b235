// The 3x3 filter on a 6000 x 4000 24-bit picture, single thread, progress on with interval
// 128, as the window's commands call it. Bytes/s is source picture data. Every run allocates
// its result, so the figures include the first touch of the result's fresh pages
// (BM_FreshCopy shows that floor).
#include "SyntheticPicture.h"
#include "image/OZBLibFilter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

using namespace nolvi2;

TBitmap& Picture() { return bench::LargePicture(); }

template <class Op>
void Run(benchmark::State& state, Op op)
{
    TBitmap& pic = Picture();
    bench::InstallWindowLikeProgress(pic);
    for (auto _ : state) {
        std::unique_ptr<TBitmap> result = op(pic);
        benchmark::DoNotOptimize(result->ScanLine(0));
        benchmark::ClobberMemory();
    }
    pic.OnProgress = nullptr;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

// Kinds 0..8 of the kernel table over the whole picture.
void BM_Filter(benchmark::State& state)
{
    TFilterKernel kernel{};
    MakeFilterKernel(uint8_t(state.range(0)), kernel);
    Run(state, [&](TBitmap& b) { return CustomFilter(b, kernel, 128, true); });
}

// A selection of half the width and height in the middle (the rest is copied).
void BM_FilterSelection(benchmark::State& state)
{
    TFilterKernel kernel{};
    MakeFilterKernel(0, kernel);
    Run(state, [&](TBitmap& b) { return CustomFilterRect(b, TRect{1500, 1000, 4500, 3000}, 128, true, kernel); });
}

// A hand-made kernel outside the fast path (its divisor is too large for it): the exact
// pixel-by-pixel path, for scale.
void BM_FilterHandMade(benchmark::State& state)
{
    const TFilterKernel kernel{{1, 2, 1, 2, 300, 2, 1, 2, 1}, 312};
    Run(state, [&](TBitmap& b) { return CustomFilter(b, kernel, 128, true); });
}

// A fresh picture of the same size filled by one copy: the floor of any result operation.
void BM_FreshCopy(benchmark::State& state)
{
    Run(state, [](TBitmap& b) {
        auto copy = std::make_unique<TBitmap>(b.Width(), b.Height(), b.PixelFormat());
        std::memcpy(copy->ScanLine(0), b.ScanLine(0), b.ImageBytes());
        return copy;
    });
}

}  // namespace

BENCHMARK(BM_FreshCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterSelection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterHandMade)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
