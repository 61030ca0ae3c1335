#pragma once
// The one stop signal of a long run (scan, copy, card preparation, rescue copy), shared by
// the view model that owns the run (main thread) and the worker that runs its engine calls.
// A fresh flag is made for every run and never reset; the worker captures that run's flag
// by value, so a Stop given to an earlier run never reaches a later one.

#include <functional>
#include <memory>
#include <mutex>

namespace brindlecove {

class CancellationFlag {
public:
    CancellationFlag() = default;
    CancellationFlag(const CancellationFlag&) = delete;
    CancellationFlag& operator=(const CancellationFlag&) = delete;

    // Sets the flag; setting it again changes nothing. Any thread.
    void cancel();
    // Whether cancel() was called. Any thread, any number of times.
    bool isCancelled() const;

    // The engine's cancellation test for one run: it holds that run's flag itself.
    static std::function<bool()> testFor(std::shared_ptr<const CancellationFlag> flag);

private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
};

}  // namespace brindlecove
