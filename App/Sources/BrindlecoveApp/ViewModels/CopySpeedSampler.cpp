#include "BrindlecoveApp/ViewModels/CopySpeedSampler.hpp"

#include <algorithm>
#include <chrono>

namespace brindlecove {

namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CopySpeedSampler::CopySpeedSampler(Clock clock) : clock_(clock ? std::move(clock) : Clock(&steadySeconds)) {
    stageStart_ = clock_();
}

void CopySpeedSampler::reset() {
    stageStart_ = clock_();
    copyingSince_.reset();
    lastSampleElapsed_ = 0;
    lastSampleCopied_ = 0;
    smoothedBytesPerSec_ = 0;
    history_.clear();
    estimate_.reset();
}

bool CopySpeedSampler::record(int64_t copied, int64_t total) {
    if (total < 1) return false;
    const double elapsed = clock_() - stageStart_;
    if (!copyingSince_) {
        // The bytes of this update moved at some time before it, since the settle wait
        // ended: no rate can be told from them. Rates count from here.
        copyingSince_ = elapsed;
        lastSampleElapsed_ = elapsed;
        lastSampleCopied_ = copied;
        return false;
    }
    const double dt = elapsed - lastSampleElapsed_;
    // A skipped update changes nothing: its bytes count in the next sample.
    if (dt < minimumInterval) return false;

    // The difference is taken in 64 bits before it becomes a double.
    const int64_t delta = copied - lastSampleCopied_;
    const double rate = static_cast<double>(std::max<int64_t>(delta, 0)) / dt;
    // Exactly 0 means no speed yet (a positive average decays but never returns to 0).
    smoothedBytesPerSec_ = smoothedBytesPerSec_ == 0 ? rate : 0.4 * rate + 0.6 * smoothedBytesPerSec_;
    lastSampleElapsed_ = elapsed;
    lastSampleCopied_ = copied;

    history_.append(ProgressPoint{QUuid::createUuid(), elapsed, smoothedBytesPerSec_ / 1'000'000.0});
    if (history_.size() > historyLimit) history_.remove(0, history_.size() - historyLimit);

    if (smoothedBytesPerSec_ > 0 && copied >= 1 && elapsed - *copyingSince_ >= estimateBasis)
        estimate_ = total > copied ? static_cast<double>(total - copied) / smoothedBytesPerSec_ : 0.0;
    else
        estimate_.reset();
    return true;
}

}  // namespace brindlecove
