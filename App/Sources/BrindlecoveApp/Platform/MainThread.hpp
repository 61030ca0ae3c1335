#pragma once
// Hand-over of work from any thread to the main thread: one queued call on the application
// object, which outlives every worker. Calls posted from one thread run first in, first out.
// The posted function must check its receiver itself (a QPointer made on the main thread):
//     MainThread::post([target = QPointer(store), value] { if (target) target->apply(value); });
// Posting after the application began to quit, or with no application, drops the call.

#include <functional>

namespace brindlecove::MainThread {

// Any thread.
void post(std::function<void()> work);

// Whether the caller runs on the application's main thread.
bool isCurrent();

// Stops accepting posts (done at aboutToQuit; posts made later are dropped).
void stopAccepting();

}  // namespace brindlecove::MainThread
