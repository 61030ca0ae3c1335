#pragma once
// The application's own worker pools (never QThreadPool::globalInstance(), whose destructor
// waits for every runnable at exit): user-initiated work (scan, copy, erase, inspection,
// reformat, rescue copy) and utility work (filing logs, writing report text, cache upkeep).
// idealThreadCount() is 2 on our machines, so both maxima are large: a long scan must not
// hold back the filing of a finished copy. Sync runs use the coordinator's own threads.
// Work functions run on a pool thread; an exception escaping one is caught and logged.

#include <QObject>
#include <QThreadPool>

#include <functional>

namespace brindlecove {

class Executor : public QObject {
    Q_OBJECT
public:
    explicit Executor(QObject* parent = nullptr);
    ~Executor() override;

    // The application's executor, made on first use (main thread) as a child of the
    // application object, so it is joined before the application object is gone.
    static Executor& shared();

    void userInitiated(std::function<void()> work);
    // Runs at a lower CPU priority (nice 10 for the worker thread).
    void utility(std::function<void()> work);

    // Waits up to `msecs` for both pools to finish; true when nothing is running.
    bool waitForDone(int msecs);

    // Runs `work` on the calling thread; an exception escaping it is caught and logged.
    static void runGuarded(const std::function<void()>& work);

private:
    QThreadPool userInitiated_;
    QThreadPool utility_;
};

}  // namespace brindlecove
