#include "Chronograph.h"

#include "common/OZCommon.h"
#include "platform/Tick.h"

namespace nolvi2 {

void TChronograph::Start(const std::string& name)
{
    FRunningName = name;
    FRunning = true;
    FStartTick = timeGetTime();
}

void TChronograph::Stop()
{
    if (!FRunning)
        return;
    FElapsed = timeGetTime() - FStartTick;  // unsigned: wraps like the tick
    FName = std::move(FRunningName);
    Cancel();
}

void TChronograph::Cancel()
{
    FRunning = false;
    FRunningName.clear();
    FStartTick = 0;
}

std::optional<std::string> TChronograph::TakeReport()
{
    if (FElapsed == 0)
        return std::nullopt;
    std::string text = FName + ": " + std::to_string(FElapsed) + "ミリ秒かかりました。";
    FElapsed = 0;
    return text;
}

void TChronograph::SaveToStream(TStream& stream) const
{
    WriteStreamString(stream, FName);
    WriteStreamInteger(stream, static_cast<int32_t>(FElapsed));
}

void TChronograph::LoadFromStream(TStream& stream)
{
    // Both items are read before either is taken, so a short stream changes nothing.
    std::string name;
    ReadStreamString(stream, name);
    const auto elapsed = static_cast<uint32_t>(ReadStreamInteger(stream));
    FName = std::move(name);
    FElapsed = elapsed;
}

}  // namespace nolvi2
