// A client's guide or dither as it goes, as PHD2's controller runs it: a
// guide asked before tracking waits for the lock with its settle to follow;
// then (or at once for a dither, or a guide while tracking) the settle runs a
// guide frame at a time until it ends, settled or not. One request at a
// time: another asked meanwhile is refused by the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/server/settling.h"

class GuideRequest {
public:
    // A request under way: waiting for the lock, or settling.
    bool busy() const { return pending_.has_value() || settler_.active(); }
    bool waitingForLock() const { return pending_.has_value(); }
    bool settling() const { return settler_.active(); }

    // A guide that starts tracking first: its settle begins with the lock.
    void awaitLock(const SettleParams& settle) { pending_ = settle; }
    // Tracking started: the settle that waited for it begins now. False when
    // none waited.
    bool locked(int64_t nowUs);
    // A settle that begins now (a dither, a guide while tracking).
    void settle(const SettleParams& settle, int64_t nowUs);

    // A guide frame (Settler::onFrame) and time without one (onIdle).
    std::optional<SettleOutcome> onFrame(double distance, bool starLocked, int64_t nowUs, SettleProgress& progress);
    std::optional<SettleOutcome> onIdle(int64_t nowUs) { return settler_.onIdle(nowUs); }
    // Ends whatever is under way for this reason; nothing when idle.
    std::optional<SettleOutcome> cancel(const std::string& why);

private:
    std::optional<SettleParams> pending_;
    Settler settler_;
};
