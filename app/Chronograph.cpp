#include "Chronograph.h"

#include "platform/Tick.h"

namespace nolvi2 {

void TChronograph::Start(const std::string& name)
{
    FName = name;
    FStartTick = timeGetTime();
}

void TChronograph::Stop()
{
    FElapsed = timeGetTime() - FStartTick;  // unsigned: wraps like the tick
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

}  // namespace nolvi2
