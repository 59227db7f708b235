#pragma once
// The stopwatch of processing commands: one measurement at a time, reported once.

#include "platform/Streams.h"

#include <cstdint>
#include <optional>
#include <string>

namespace nolvi2 {

class TChronograph {
public:
    void Start(const std::string& name);
    void Stop();
    // The report text ("<name>: <ms>ミリ秒かかりました。") when there is a measurement, which is
    // then cleared; nothing for a measurement of 0 ms.
    std::optional<std::string> TakeReport();

    const std::string& Name() const { return FName; }
    uint32_t Elapsed() const { return FElapsed; }
    void SetMeasurement(std::string name, uint32_t elapsed)
    {
        FName = std::move(name);
        FElapsed = elapsed;
    }

    // The measurement as a new window receives it: the name as a stream string, then the
    // elapsed milliseconds as a 32-bit little-endian integer.
    void SaveToStream(TStream& stream) const;
    void LoadFromStream(TStream& stream);

private:
    std::string FName;
    uint32_t FStartTick = 0;
    uint32_t FElapsed = 0;
};

}  // namespace nolvi2
