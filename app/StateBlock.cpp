#include "StateBlock.h"

#include "common/OZCommon.h"
#include "platform/BmpCodec.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <array>

namespace nolvi2 {

namespace {

constexpr int kOptionsSize = 20;
constexpr int kUnitSlotSize = 4;

void WriteByte(TStream& stream, uint8_t b) { stream.WriteBuffer(&b, 1); }

uint8_t ReadByte(TStream& stream)
{
    uint8_t b = 0;
    stream.ReadBuffer(&b, 1);
    return b;
}

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

TRect SelectionInBlock(const std::optional<TRect>& selection) { return selection ? *selection : TRect{-1, -1, -1, -1}; }

void WriteState(TStream& stream, const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture)
{
    std::array<uint8_t, kOptionsSize + kUnitSlotSize + 1> head{};
    const TWindowOptions& o = state.Options;
    head[0] = o.WindowResizeByZoom;
    head[1] = o.OpenResultInNewWindow;
    head[2] = o.OutOfSelection;
    head[3] = o.GrassWidth;
    head[4] = o.RainbowMaskSize;
    head[5] = o.ShowProgressTime;
    head[6] = o.ApplyColorProfile;
    head[7] = o.AutoRotate;
    head[kOptionsSize] = state.MinimumUnit;
    head[kOptionsSize + kUnitSlotSize] = state.HandInverted;
    stream.WriteBuffer(head.data(), int64_t(head.size()));
    recent.SaveToStream(stream);
    WriteByte(stream, state.JpegQuality);
    WriteByte(stream, state.JpegProgressive);
    for (const int32_t v : {state.Selection.Left, state.Selection.Top, state.Selection.Right, state.Selection.Bottom})
        WriteStreamInteger(stream, v);
    WriteByte(stream, state.IsFile);
    WriteStreamString(stream, state.Title);
    WriteBmp(stream, picture);
    WriteStreamString(stream, state.StopwatchName);
    WriteStreamInteger(stream, int32_t(state.StopwatchElapsed));
}

void ReadState(TStream& stream, TWindowState& state, TOZHistoryList& recent, TBitmap& picture)
{
    TWindowState s;
    std::array<uint8_t, kOptionsSize + kUnitSlotSize + 1> head{};
    stream.ReadBuffer(head.data(), int64_t(head.size()));
    s.Options.WindowResizeByZoom = head[0] != 0;
    s.Options.OpenResultInNewWindow = head[1] != 0;
    s.Options.OutOfSelection = head[2];
    s.Options.GrassWidth = head[3];
    s.Options.RainbowMaskSize = head[4];
    s.Options.ShowProgressTime = head[5] != 0;
    s.Options.ApplyColorProfile = head[6] != 0;
    s.Options.AutoRotate = head[7] != 0;
    s.MinimumUnit = head[kOptionsSize];
    s.HandInverted = head[kOptionsSize + kUnitSlotSize] != 0;

    // The list is read into a list of its own and handed over with the rest.
    TOZHistoryList list;
    list.CaseSensitive = recent.CaseSensitive;
    list.LoadFromStream(stream);

    s.JpegQuality = ReadByte(stream);
    s.JpegProgressive = ReadByte(stream) != 0;
    s.Selection.Left = ReadStreamInteger(stream);
    s.Selection.Top = ReadStreamInteger(stream);
    s.Selection.Right = ReadStreamInteger(stream);
    s.Selection.Bottom = ReadStreamInteger(stream);
    s.IsFile = ReadByte(stream) != 0;
    ReadStreamString(stream, s.Title);

    // The picture ends where its file header says; the stopwatch follows it.
    const int64_t bmpStart = stream.Position();
    uint8_t fileHeader[14];
    stream.ReadBuffer(fileHeader, sizeof fileHeader);
    const int64_t bmpSize = Get32(fileHeader + 2);
    if (bmpSize < int64_t(sizeof fileHeader) || bmpSize > stream.Size() - bmpStart)
        throw EReadError("ストリームの読み込みエラーです（データが足りません）。");
    stream.SetPosition(bmpStart);
    TBitmap bmp;
    ReadBmp(stream, bmp);
    stream.SetPosition(bmpStart + bmpSize);

    ReadStreamString(stream, s.StopwatchName);
    s.StopwatchElapsed = uint32_t(ReadStreamInteger(stream));

    TMemoryStream listBytes;
    list.SaveToStream(listBytes);
    listBytes.SetPosition(0);
    recent.LoadFromStream(listBytes);
    picture.TakeOver(bmp);
    state = std::move(s);
}

}  // namespace nolvi2
