#pragma once
// Waits until a folder tree (a card a camera may still be writing to) stops changing: no
// regular file added, removed, resized or re-dated for a quiet period, giving up after a
// time-out. Blocks the caller's thread, sleeps included; the callback runs on that thread.
// The copy engine and the sync runner run this same loop, turning its steps into their events.

#include "Tessaline/Copy/SettleOptions.hpp"

#include <filesystem>
#include <functional>

namespace tessaline {

class IdleSettleDetector {
public:
    enum class Outcome { settled, timedOut, cancelled };

    using CancelTest = std::function<bool()>;
    // Called once per step with the quiet seconds still needed (never below 0).
    using WaitingCallback = std::function<void(double quietRemaining)>;

    // A quiet period of 0 or less settles at once, with no look at the disk, no callback and
    // no cancellation test. Otherwise: one snapshot, a cancellation test, then steps of
    // callback → quiet test → time-out test → sleep → snapshot → cancellation test.
    // Hidden items, folders and links never count as changes; an unreadable root gives
    // empty snapshots (which are equal). Never throws.
    Outcome waitUntilSettled(const std::filesystem::path& root, const SettleOptions& options,
                             const CancelTest& isCancelled, const WaitingCallback& onWaiting = {}) const;
};

}  // namespace tessaline
