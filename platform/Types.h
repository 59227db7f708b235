#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace nolvi2 {

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// Root of everything that can be the sender of an event.
class TObject {
public:
    virtual ~TObject() = default;
};

enum TProgressStage : uint8_t { psStarting = 0, psRunning = 1, psEnding = 2 };

// Sender, Stage, PercentDone, RedrawNow, R, Msg.
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone,
                                          bool RedrawNow, const TRect& R, const std::string& Msg)>;

}  // namespace nolvi2
