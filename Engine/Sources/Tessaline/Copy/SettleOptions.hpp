#pragma once

namespace tessaline {

// How long a folder tree must stay unchanged before it counts as settled, the longest wait,
// and the sleep between two looks, all in seconds.
struct SettleOptions {
    double quietPeriod = 0;   // 0 or less: no wait at all
    double timeout = 0;       // measured from the start of the wait
    double pollInterval = 0.1;

    // A wait that returns at once.
    static SettleOptions none() { return SettleOptions{0, 0, 0.1}; }

    bool operator==(const SettleOptions&) const = default;
};

}  // namespace tessaline
