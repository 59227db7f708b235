#pragma once
// The progress protocol shared by every operation: a starting report (0 %), running reports
// of (index of the row just finished * 100) div rows, and an ending report (100 %), each with
// Sender = the source bitmap, RedrawNow false, the empty rectangle and the operation's
// display name. Nothing is sent unless reports are asked for and the bitmap has a handler.

#include "platform/Bitmap.h"

#include <string>

namespace nolvi2 {

class TProgressReporter {
public:
    // rows: the number of rows the operation processes. interval: the rows between two
    // running reports (1 for operations that report every row).
    TProgressReporter(TBitmap& source, bool report, const char* msg, int32_t rows, int32_t interval = 1)
        : FSource(source), FActive(report && bool(source.OnProgress)), FRows(rows), FInterval(interval),
          FMsg(FActive ? msg : "")
    {
    }

    bool Active() const { return FActive; }

    void Start() { Send(psStarting, 0); }

    // After the row with this index (counted from 0 at the first processed row).
    void RowDone(int32_t index)
    {
        if (!FActive)
            return;
        if (++FCounter != FInterval)
            return;
        FCounter = 0;
        Send(psRunning, uint8_t(int32_t(index * 100) / FRows));
    }

    void End() { Send(psEnding, 100); }

private:
    void Send(TProgressStage stage, uint8_t percent)
    {
        if (FActive)
            FSource.OnProgress(&FSource, stage, percent, false, TRect{}, FMsg);
    }

    TBitmap& FSource;
    bool FActive;
    int32_t FRows;
    int32_t FInterval;
    int32_t FCounter = 0;
    std::string FMsg;
};

}  // namespace nolvi2
