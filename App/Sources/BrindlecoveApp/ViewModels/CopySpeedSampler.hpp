#pragma once
// Turns the byte counts of a running copy into a smoothed speed, a short speed history for
// the Copy section's chart and an estimate of the time left. Rates count only bytes moved
// while copying: the first progress update of a run marks where copying began (its bytes and
// its moment), so neither the settle wait nor anything else before the first byte moved
// enters a rate. After it a sample is taken at most every 0.4 s, and only when a progress
// update arrives; the speed is an exponential average (0.4 × new rate + 0.6 × previous), the
// first positive rate taken as it is; the history keeps the newest 120 samples. The estimate
// is published only once the samples span at least one second of copying: a shorter span
// holds a chunk or two, whose timing says little about the rest of the card. Plain value
// owned by CopyViewModel; main thread.

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
    // Seconds of copying the samples must span before an estimate is published.
    static constexpr double estimateBasis = 1.0;

    explicit CopySpeedSampler(Clock clock = {});

    // Starts a run: the clock's now becomes the origin of `elapsed`; everything else is cleared.
    void reset();
    // Takes a sample of `copied` of `total` bytes when the rules allow one; the run's first
    // update only marks the start of copying. Returns whether the published values (speed,
    // history, estimate) changed. A total below 1 records nothing.
    bool record(int64_t copied, int64_t total);

    double currentBytesPerSec() const { return smoothedBytesPerSec_; }
    const QList<ProgressPoint>& history() const { return history_; }
    std::optional<double> estimatedSecondsRemaining() const { return estimate_; }

private:
    Clock clock_;
    double stageStart_ = 0;
    std::optional<double> copyingSince_;  // `elapsed` of the run's first progress update
    double lastSampleElapsed_ = 0;
    int64_t lastSampleCopied_ = 0;
    double smoothedBytesPerSec_ = 0;
    QList<ProgressPoint> history_;
    std::optional<double> estimate_;
};

}  // namespace brindlecove
