// Reading a 6000 x 4000 JPEG (quality 90) with an embedded profile against the same file
// without one: no profile, sRGB's (recognised, nothing converted) and a wide-gamut RGB profile
// (primaries and curve of Adobe RGB (1998)). Wall time: the conversion runs beside the decoder. BM_ConvertWideGamut is
// the conversion alone, one thread. Compare the medians
// of an interleaved run:
//   bench_profile --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//                 --benchmark_report_aggregates_only=true
#include "SyntheticPicture.h"
#include "platform/ColorProfile.h"
#include "platform/JPEGImage.h"
#include "platform/Streams.h"

#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <cstring>
#include <vector>

namespace {

using namespace nolvi2;

std::vector<uint8_t> Saved(cmsHPROFILE p)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

std::vector<uint8_t> WideGamutProfile()
{
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return Saved(p);
}

// The JPEG with the profile in one APP2 segment right after SOI.
std::vector<uint8_t> WithProfile(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& profile)
{
    if (profile.empty())
        return jpeg;
    const std::size_t length = 2 + 12 + 2 + profile.size();
    const char head[] = "\xFF\xD8\xFF\xE2__ICC_PROFILE\0\1\1";
    std::vector<uint8_t> out(head, head + sizeof head - 1);
    out[4] = uint8_t(length >> 8);
    out[5] = uint8_t(length);
    out.insert(out.end(), profile.begin(), profile.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

const std::vector<uint8_t>& PlainJpeg()
{
    static const std::vector<uint8_t> jpeg = [] {
        TJPEGImage image;
        image.Borrow(bench::LargePicture());
        image.SetCompressionQuality(90);
        TMemoryStream stream;
        image.SaveToStream(stream);
        return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
    }();
    return jpeg;
}

void Decode(benchmark::State& state, const std::vector<uint8_t>& profile)
{
    const std::vector<uint8_t> file = WithProfile(PlainJpeg(), profile);
    for (auto _ : state) {
        TJPEGImage image;
        image.LoadFromMemory(file.data(), file.size());
        benchmark::DoNotOptimize(image.Picture().ScanLine(0));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 6000 * 4000);
}

// The conversion alone, one thread, in place on a copy of the picture.
void BM_ConvertWideGamut(benchmark::State& state)
{
    const auto conversion = TSrgbConversion::For(WideGamutProfile(), TProfileInput::Bgr);
    TBitmap picture;
    picture.Assign(bench::LargePicture());
    for (auto _ : state)
        for (int32_t y = 0; y < picture.Height(); ++y)
            conversion->Convert(picture.ScanLine(y), picture.ScanLine(y), std::size_t(picture.Width()));
    state.SetItemsProcessed(int64_t(state.iterations()) * 6000 * 4000);
}

void BM_JpegNoProfile(benchmark::State& s) { Decode(s, {}); }
void BM_JpegSrgbProfile(benchmark::State& s) { Decode(s, Saved(cmsCreate_sRGBProfile())); }
void BM_JpegWideGamutProfile(benchmark::State& s) { Decode(s, WideGamutProfile()); }

}  // namespace

BENCHMARK(BM_ConvertWideGamut)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegNoProfile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegSrgbProfile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegWideGamutProfile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
