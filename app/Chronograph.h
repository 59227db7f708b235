#pragma once
// The stopwatch of processing commands: one measurement at a time, reported once.

#include "platform/Streams.h"

#include <cstdint>
#include <optional>
#include <string>

namespace nolvi2 {

class TChronograph {
public:
    // Starts timing the work called name. Name and time become the measurement at Stop; until
    // then Name(), Elapsed() and TakeReport() give the last completed measurement.
    void Start(const std::string& name);
    // Completes the running measurement; does nothing when none runs.
    void Stop();
    // Drops the running measurement (work that failed): the last completed one stays as it was.
    void Cancel();
    bool Running() const { return FRunning; }
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
    uint32_t FElapsed = 0;
    bool FRunning = false;
    std::string FRunningName;
    uint32_t FStartTick = 0;
};

// One timed piece of work: started when made, completed by Stop. Left without Stop (the work
// threw), it cancels the measurement, so no report names the failed work.
class TChronographRun {
public:
    TChronographRun(TChronograph& chronograph, const std::string& name) : FChronograph(chronograph)
    {
        FChronograph.Start(name);
    }
    ~TChronographRun()
    {
        if (!FStopped)
            FChronograph.Cancel();
    }
    TChronographRun(const TChronographRun&) = delete;
    TChronographRun& operator=(const TChronographRun&) = delete;

    void Stop()
    {
        FChronograph.Stop();
        FStopped = true;
    }

private:
    TChronograph& FChronograph;
    bool FStopped = false;
};

}  // namespace nolvi2
