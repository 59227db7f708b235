// Tone adjustments on a 6000 x 4000 24-bit picture, single thread. Bytes/s is picture data.
#include "SyntheticPicture.h"
#include "image/OZBLibAdjust.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace nolvi2;

TBitmap& Picture() { return bench::LargePicture(); }

template <class Op>
void Run(benchmark::State& state, Op op)
{
    TBitmap& pic = Picture();
    bench::InstallWindowLikeProgress(pic);
    // Each run starts from the original picture: several operations are much faster on
    // their own output (a grey picture rounds the same way everywhere).
    static const TBitmap original = bench::SyntheticPicture(6000, 4000);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(pic.ScanLine(0), original.ScanLine(0), pic.ImageBytes());
        state.ResumeTiming();
        op(pic);
        benchmark::ClobberMemory();
    }
    pic.OnProgress = nullptr;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

void BM_Invert(benchmark::State& s) { Run(s, [](TBitmap& b) { Invert(b, true); }); }
void BM_Xor(benchmark::State& s) { Run(s, [](TBitmap& b) { XorChannels(b, true, true, true, true); }); }
void BM_Solarize(benchmark::State& s) { Run(s, [](TBitmap& b) { Solarize(b, true); }); }
void BM_Desaturate(benchmark::State& s) { Run(s, [](TBitmap& b) { Desaturate(b, true); }); }
void BM_SwapRGB(benchmark::State& s) { Run(s, [&](TBitmap& b) { SwapRGB(b, uint8_t(s.range(0)), true); }); }
void BM_GrayScale(benchmark::State& s) { Run(s, [](TBitmap& b) { GrayScale(b, true); }); }
void BM_GammaPlus(benchmark::State& s) { Run(s, [](TBitmap& b) { GammaPlus(b, true); }); }
void BM_GammaMinus(benchmark::State& s) { Run(s, [](TBitmap& b) { GammaMinus(b, true); }); }

// The memory copy rate of this machine, for scale.
void BM_Memcpy(benchmark::State& state)
{
    TBitmap& pic = Picture();
    TBitmap copy(pic.Width(), pic.Height(), pic.PixelFormat());
    for (auto _ : state) {
        std::memcpy(copy.ScanLine(0), pic.ScanLine(0), pic.ImageBytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.ImageBytes()));
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Invert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Solarize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Desaturate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwapRGB)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GammaPlus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GammaMinus)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
