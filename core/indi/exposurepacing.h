// When an INDI camera asks for its next exposure, on the program clock.
// Exposures follow each other, the next asked for as each frame arrives;
// one whose frame has not come 30 s after the exposure should have ended is
// asked for again (the request or the frame was lost), and after a failed
// exposure the next waits a second. No I/O: the camera asks and sends.
#pragma once

#include <cstdint>

#include "core/clock.h"

class ExposurePacing {
public:
    static constexpr int64_t kFrameOverdueUs = 30'000'000;
    static constexpr int64_t kRetryUs = 1'000'000;

    explicit ExposurePacing(const Clock& clock) : clock_(clock) {}

    static constexpr int64_t kAbortSettleUs = 2'000'000;

    // An exposure was asked for now.
    void asked();
    // The exposure under way ended now: its frame came, or it failed.
    void ended();
    // No exposure under way any more (the capture stopped).
    void cancel() { exposing_ = aborting_ = held_ = false; }

    // The mount moves until untilUs: no exposure is asked for before then.
    // True when the exposure under way began before and must be aborted;
    // the next is asked for once the camera has let it go (its state no
    // longer busy, or its frame come anyway) or kAbortSettleUs after.
    bool holdUntil(int64_t untilUs);
    // The camera's exposure is no longer under way.
    void settled() { aborting_ = false; }
    // A frame came: false when it is the aborted exposure's, to be dropped.
    bool frameCame();
    bool aborting() const { return aborting_; }
    // The next exposure may be asked for at once as a frame comes.
    bool mayAskNow() const { return !aborting_ && clock_.nowUs() >= holdUntilUs_; }

    bool exposing() const { return exposing_; }
    // Program clock (us) when the exposure under way, or the last, was asked for.
    int64_t askedUs() const { return askedUs_; }

    // True when an exposure must be asked for now, exposures being
    // exposureMs long: the one under way is overdue, or none is under way and
    // a move it waited for is over, or the last ended more than a second ago.
    bool due(int exposureMs) const;

private:
    const Clock& clock_;
    bool exposing_ = false;
    int64_t askedUs_ = 0;
    int64_t endedUs_ = 0;
    bool aborting_ = false;
    bool held_ = false;        // waiting for a move's end, not for a retry
    int64_t holdUntilUs_ = 0;
    int64_t abortedUs_ = 0;
};
