#pragma once
// Turns the byte counts of a running copy into a smoothed speed, a short speed history for
// the Copy section's chart and an estimate of the time left. A sample is taken at most every
// 0.4 s, and only when a progress update arrives; the speed is an exponential average
// (0.4 × new rate + 0.6 × previous), the first positive rate taken as it is; the history
// keeps the newest 120 samples. Plain value owned by CopyViewModel; main thread.

#include <QList>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <optional>

namespace brindlecove {

class CopySpeedSampler {
public:
    // One speed sample.
    struct ProgressPoint {
        QUuid id;
        double elapsed = 0;   // seconds from the start of the run (settle wait included)
        double mbPerSec = 0;  // smoothed speed in decimal megabytes (10^6 bytes) per second
        bool operator==(const ProgressPoint&) const = default;
    };

    // Monotonic seconds; the default reads std::chrono::steady_clock.
    using Clock = std::function<double()>;

    static constexpr double minimumInterval = 0.4;
    static constexpr int historyLimit = 120;

    explicit CopySpeedSampler(Clock clock = {});

    // Starts a run: the clock's now becomes the origin of `elapsed`; everything else is cleared.
    void reset();
    // Takes a sample of `copied` of `total` bytes when the rules allow one. Returns whether the
    // published values (speed, history, estimate) changed. A total below 1 records nothing.
    bool record(int64_t copied, int64_t total);

    double currentBytesPerSec() const { return smoothedBytesPerSec_; }
    const QList<ProgressPoint>& history() const { return history_; }
    std::optional<double> estimatedSecondsRemaining() const { return estimate_; }

private:
    Clock clock_;
    double stageStart_ = 0;
    double lastSampleElapsed_ = 0;
    int64_t lastSampleCopied_ = 0;
    double smoothedBytesPerSec_ = 0;
    QList<ProgressPoint> history_;
    std::optional<double> estimate_;
};

}  // namespace brindlecove
