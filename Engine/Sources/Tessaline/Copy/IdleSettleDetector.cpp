#include "Tessaline/Copy/IdleSettleDetector.hpp"

#include "Tessaline/Copy/SettleSnapshot.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace tessaline {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

IdleSettleDetector::Outcome IdleSettleDetector::waitUntilSettled(const std::filesystem::path& root,
                                                                 const SettleOptions& options,
                                                                 const CancelTest& isCancelled,
                                                                 const WaitingCallback& onWaiting) const {
    if (!(options.quietPeriod > 0)) return Outcome::settled;

    // Durations use the steady clock: a wall-clock step must not stretch or cut the wait.
    const Clock::time_point start = Clock::now();
    SettleSnapshot last = SettleSnapshot::of(root);
    // Taken after the first walk, so a slow walk counts against the time-out only.
    Clock::time_point lastChange = Clock::now();
    if (isCancelled && isCancelled()) return Outcome::cancelled;

    const double timeout = std::isnan(options.timeout) ? 0.0 : options.timeout;
    // A poll interval of 0 or less would walk the tree in a busy loop.
    const double poll = std::isnan(options.pollInterval) ? 0.01 : std::max(options.pollInterval, 0.01);
    for (;;) {
        const double remaining = std::max(0.0, options.quietPeriod - secondsSince(lastChange));
        if (onWaiting) onWaiting(remaining);
        if (remaining <= 0) return Outcome::settled;
        if (timeout <= secondsSince(start)) return Outcome::timedOut;
        std::this_thread::sleep_for(std::chrono::duration<double>(poll));
        SettleSnapshot next = SettleSnapshot::of(root);
        if (!(next == last)) {
            last = std::move(next);
            lastChange = Clock::now();
        }
        if (isCancelled && isCancelled()) return Outcome::cancelled;
    }
}

}  // namespace tessaline
