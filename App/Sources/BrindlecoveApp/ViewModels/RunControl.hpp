#pragma once
// The bookkeeping of a view model's background runs (scan, copy, rescue copy, erase, count,
// inspection, reformat), the same for every screen:
//  - begin() runs synchronously on the main thread, inside the click that starts the run:
//    a fresh cancellation flag and a new run id, so a double click cannot start two workers
//    and a Stop given to an earlier run never reaches a later one;
//  - the worker is plain C++ on a pool thread and hands every event and its result over with
//    Ticket::post, one queued call each, so the main thread applies them first in, first out;
//  - a posted call runs only while its view model exists and its run is still the current
//    one: posts of a destroyed view model or of an older run are dropped;
//  - the destructor cancels the current run, and Ticket::ownerAlive turns false, for workers
//    that want to stop early when nobody will read their result.
// begin(), cancel(), finish() and the queries: main thread. Ticket: any thread.

#include "BrindlecoveApp/CancellationFlag.hpp"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

namespace brindlecove {

class RunControl {
public:
    // What a worker carries of its run; copied by value into the worker.
    struct Ticket {
        quint64 id = 0;
        std::shared_ptr<CancellationFlag> flag;

        bool isCancelled() const { return flag->isCancelled(); }
        // The engine's cancellation test for this run.
        std::function<bool()> cancelTest() const { return CancellationFlag::testFor(flag); }
        // False once the view model that began the run is destroyed. Any thread.
        bool ownerAlive() const { return alive_->load(std::memory_order_acquire); }
        // Queues `work` on the main thread; it runs only if the view model still exists and
        // this run is still its current one. Any thread.
        void post(std::function<void()> work) const;
        // Like post(), but also runs for a run that is no longer the current one (the view
        // model must still exist): for bookkeeping every run must do exactly once.
        void postUnlessGone(std::function<void()> work) const;

    private:
        friend class RunControl;
        QPointer<QObject> owner_;
        const RunControl* control_ = nullptr;
        std::shared_ptr<std::atomic<bool>> alive_;
    };

    // `owner` is the view model holding this object as a member.
    explicit RunControl(QObject* owner);
    ~RunControl();
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // Starts a new run: a fresh flag, the next id; the run is active until finish(id).
    Ticket begin();
    // Whether `id` is the newest run begun.
    bool isCurrent(quint64 id) const { return id != 0 && id == current_; }
    // Whether the newest run has begun and not finished.
    bool isActive() const { return active_; }
    // Ends run `id` (a stale id changes nothing).
    void finish(quint64 id);
    // Sets the current run's flag (nothing when no run was ever begun).
    void cancel();
    // The current run's flag; null before the first run.
    const std::shared_ptr<CancellationFlag>& currentFlag() const { return flag_; }
    // Forgets the current run without ending it cleanly: its posts are dropped from now on.
    void abandon();

private:
    QObject* owner_;
    quint64 current_ = 0;
    quint64 nextId_ = 0;
    bool active_ = false;
    std::shared_ptr<CancellationFlag> flag_;
    std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace brindlecove
