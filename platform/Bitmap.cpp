#include "Bitmap.h"

#include "Exceptions.h"
#include "PixelConvert.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>

namespace nolvi2 {

namespace {
std::unique_ptr<TGraphic> CreateBitmap() { return std::make_unique<TBitmap>(); }
}  // namespace

const TGraphicClass& TBitmap::ClassInfo()
{
    static const TGraphicClass cls{"TBitmap", nullptr, &CreateBitmap};
    return cls;
}

int PaletteEntryCount(TPixelFormat pf)
{
    switch (pf) {
    case TPixelFormat::pf1bit: return 2;
    case TPixelFormat::pf4bit: return 16;
    case TPixelFormat::pf8bit: return 256;
    default: return 0;
    }
}

TBitmap::TBitmap(int32_t width, int32_t height, TPixelFormat pf)
{
    SetPixelFormat(pf);
    SetSize(width, height);
}

void PixelStorageDeleter::operator()(uint8_t* p) const
{
    if (mapped)
        ::munmap(p, mapped);
    else
        std::free(p);
}

TBitmap::Storage TBitmap::Allocate(TPixelFormat pf, int32_t width, int32_t height)
{
    const std::size_t bytes = CheckedMul(RowStride(pf, width), std::size_t(std::max(height, 0)));
    if (bytes == 0)
        return Storage{};
    // Large pictures get a mapping of their own, zeroed by the kernel as it is touched, with
    // huge pages where the system allows them: most of the cost of a fresh large picture is
    // the kernel clearing it one small page at a time, each with a fault of its own. The
    // mapping starts on a huge page's boundary, so that all of it but its tail can have them.
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (bytes >= kHugePage) {
        if (bytes > std::numeric_limits<std::size_t>::max() - kHugePage)
            throw EPictureSize("メモリが足りません（画像を確保できません）。");
        void* whole = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (whole == MAP_FAILED)
            throw EPictureSize("メモリが足りません（画像を確保できません）。");
        auto* start = static_cast<uint8_t*>(whole);
        auto* p = reinterpret_cast<uint8_t*>((reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1));
        if (p > start)
            ::munmap(start, std::size_t(p - start));
        static const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
        const std::size_t kept = (bytes + page - 1) / page * page;
        if (const std::size_t tail = kHugePage - std::size_t(p - start) - (kept - bytes))
            ::munmap(p + kept, tail);
        ::madvise(p, kept, MADV_HUGEPAGE);
        return Storage{p, PixelStorageDeleter{kept}};
    }
    auto* p = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!p)
        throw EPictureSize("メモリが足りません（画像を確保できません）。");
    return Storage{p};
}

void TBitmap::AdoptPixels(TPixelFormat pf, int32_t width, int32_t height, uint8_t* bits)
{
    Storage owned(bits);
    CheckPictureSize(width, height);
    FPalette = StandardPalette(pf);
    Reset(pf, width, height, std::move(owned));
}

void TBitmap::Reset(TPixelFormat pf, int32_t width, int32_t height, Storage bits)
{
    FPixelFormat = pf;
    FWidth = width;
    FHeight = height;
    FStride = RowStride(pf, width);
    FBits = std::move(bits);
}

void TBitmap::SetSize(int32_t width, int32_t height)
{
    if (width == FWidth && height == FHeight)
        return;
    CheckPictureSize(width, height);
    Storage bits = Allocate(FPixelFormat, width, height);
    const std::size_t stride = RowStride(FPixelFormat, width);
    const std::size_t copy = std::min(RowBytes(), nolvi2::RowBytes(FPixelFormat, width));
    const int32_t rows = std::min(FHeight, height);
    if (copy)
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(bits.get() + std::size_t(y) * stride, ScanLine(y), copy);
    Reset(FPixelFormat, width, height, std::move(bits));
}

void TBitmap::SetPixelFormat(TPixelFormat pf)
{
    if (pf == FPixelFormat)
        return;
    Storage bits = Allocate(pf, FWidth, FHeight);
    const std::size_t stride = RowStride(pf, FWidth);
    const TPixelFormat from = FPixelFormat;
    const bool viaTemp = from != TPixelFormat::pf24bit && pf != TPixelFormat::pf24bit;
    std::vector<uint8_t> row(viaTemp ? std::size_t(FWidth) * 3 : 0);
    for (int32_t y = 0; y < FHeight; ++y) {
        uint8_t* dst = bits.get() + std::size_t(y) * stride;
        if (from == TPixelFormat::pf24bit) {
            ConvertRowFrom24(pf, ScanLine(y), dst, FWidth);
        } else if (pf == TPixelFormat::pf24bit) {
            ConvertRowTo24(from, FPalette, ScanLine(y), dst, FWidth);
        } else {
            ConvertRowTo24(from, FPalette, ScanLine(y), row.data(), FWidth);
            ConvertRowFrom24(pf, row.data(), dst, FWidth);
        }
    }
    FPalette = StandardPalette(pf);
    Reset(pf, FWidth, FHeight, std::move(bits));
}

void TBitmap::Assign(const TBitmap& source)
{
    if (&source == this)
        return;
    Storage bits = Allocate(source.FPixelFormat, source.FWidth, source.FHeight);
    if (source.ImageBytes())
        std::memcpy(bits.get(), source.FBits.get(), source.ImageBytes());
    FPalette = source.FPalette;
    Reset(source.FPixelFormat, source.FWidth, source.FHeight, std::move(bits));
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept
{
    if (&other != this) {
        OnProgress = std::move(other.OnProgress);
        other.OnProgress = nullptr;
        TakeOver(other);
    }
    return *this;
}

void TBitmap::TakeOver(TBitmap& source)
{
    if (&source == this)
        return;
    FPalette = std::move(source.FPalette);
    Reset(source.FPixelFormat, source.FWidth, source.FHeight, std::move(source.FBits));
    source.FPalette.clear();
    source.Reset(source.FPixelFormat, 0, 0, Storage{});
}

}  // namespace nolvi2
