// Flips, rotations, glass strips and the WIN mask on a 6000 x 4000 24-bit picture (and 32-bit),
// single thread, progress on with interval 128; the packed and 8-bit paths on a 2000 x 1500
// picture. Bytes/s is source picture data. Every run allocates its result, as the window's
// commands do, so the figures include the first touch of the result's fresh pages
// (BM_FreshCopy shows that floor).
#include "SyntheticPicture.h"
#include "image/OZBLibMask.h"
#include "image/OZBLibTrans.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

namespace {

using namespace nolvi2;

// The synthetic picture converted to the format asked for (cached per format and size).
TBitmap& Picture(TPixelFormat pf, int32_t width, int32_t height)
{
    static std::map<std::tuple<int, int32_t, int32_t>, std::unique_ptr<TBitmap>> cache;
    auto& slot = cache[{int(pf), width, height}];
    if (!slot) {
        slot = std::make_unique<TBitmap>(bench::SyntheticPicture(width, height));
        slot->SetPixelFormat(pf);
    }
    return *slot;
}

using Op = std::function<std::unique_ptr<TBitmap>(TBitmap&)>;

void Run(benchmark::State& state, TPixelFormat pf, int32_t width, int32_t height, const Op& op)
{
    TBitmap& pic = Picture(pf, width, height);
    bench::InstallWindowLikeProgress(pic);
    for (auto _ : state) {
        auto result = op(pic);
        benchmark::DoNotOptimize(result->ScanLine(0));
        benchmark::ClobberMemory();
    }
    pic.OnProgress = nullptr;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

const Op kFlipVertical = [](TBitmap& b) { return FlipVertical(b); };
const Op kFlipHorizontal = [](TBitmap& b) { return FlipHorizontal(b, true, 128); };
const Op kRotate90 = [](TBitmap& b) { return Rotate90(b, true, 128); };
const Op kRotate180 = [](TBitmap& b) { return Rotate180(b, true, 128); };
const Op kRotate270 = [](TBitmap& b) { return Rotate270(b, true, 128); };
const Op kGlassHorizontal = [](TBitmap& b) { return GlassHorizontal(b, 8); };
const Op kGlassVertical = [](TBitmap& b) { return GlassVertical(b, 8, true, 128); };
const Op kWinMask = [](TBitmap& b) { return WinMask(b, true, 128); };

constexpr TPixelFormat k1 = TPixelFormat::pf1bit, k4 = TPixelFormat::pf4bit, k8 = TPixelFormat::pf8bit,
                       k24 = TPixelFormat::pf24bit, k32 = TPixelFormat::pf32bit;

#define NOLVI2_BENCH_OP(name, op)                                                                    \
    void BM_##name##_24(benchmark::State& s) { Run(s, k24, 6000, 4000, op); }                     \
    void BM_##name##_32(benchmark::State& s) { Run(s, k32, 6000, 4000, op); }                     \
    void BM_##name##_8(benchmark::State& s) { Run(s, k8, 2000, 1500, op); }                       \
    void BM_##name##_4(benchmark::State& s) { Run(s, k4, 2000, 1500, op); }                       \
    void BM_##name##_1(benchmark::State& s) { Run(s, k1, 2000, 1500, op); }                       \
    BENCHMARK(BM_##name##_24)->Unit(benchmark::kMillisecond);                                      \
    BENCHMARK(BM_##name##_32)->Unit(benchmark::kMillisecond);                                      \
    BENCHMARK(BM_##name##_8)->Unit(benchmark::kMillisecond);                                       \
    BENCHMARK(BM_##name##_4)->Unit(benchmark::kMillisecond);                                       \
    BENCHMARK(BM_##name##_1)->Unit(benchmark::kMillisecond)

NOLVI2_BENCH_OP(FlipVertical, kFlipVertical);
NOLVI2_BENCH_OP(GlassHorizontal, kGlassHorizontal);
NOLVI2_BENCH_OP(FlipHorizontal, kFlipHorizontal);
NOLVI2_BENCH_OP(Rotate180, kRotate180);
NOLVI2_BENCH_OP(GlassVertical, kGlassVertical);
NOLVI2_BENCH_OP(WinMask, kWinMask);
NOLVI2_BENCH_OP(Rotate90, kRotate90);
NOLVI2_BENCH_OP(Rotate270, kRotate270);

// The rainbow mask works in place: the picture alternates between masked and restored.
void BM_RainbowMask_24(benchmark::State& state)
{
    TBitmap& pic = Picture(k24, 6000, 4000);
    for (auto _ : state) {
        RainbowMask(pic, 8);
        benchmark::ClobberMemory();
    }
    if (state.iterations() % 2)
        RainbowMask(pic, 8);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}
BENCHMARK(BM_RainbowMask_24)->Unit(benchmark::kMillisecond);

// The floor every result operation stands on: a fresh result picture of the source's size,
// filled by one copy (the kernel zeroes each new page on its first touch).
void BM_FreshCopy_24(benchmark::State& state)
{
    TBitmap& pic = Picture(k24, 6000, 4000);
    for (auto _ : state) {
        auto copy = std::make_unique<TBitmap>(pic.Width(), pic.Height(), pic.PixelFormat());
        std::memcpy(copy->ScanLine(0), pic.ScanLine(0), pic.ImageBytes());
        benchmark::DoNotOptimize(copy->ScanLine(0));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}
BENCHMARK(BM_FreshCopy_24)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
