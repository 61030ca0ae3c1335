#include "BrindlecoveApp/Platform/Executor.hpp"

#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QtGlobal>

#include <sys/resource.h>
#include <unistd.h>

#include <exception>

namespace brindlecove {

Executor::Executor(QObject* parent) : QObject(parent) {
    userInitiated_.setMaxThreadCount(32);
    utility_.setMaxThreadCount(16);
}

Executor::~Executor() {
    userInitiated_.waitForDone();
    utility_.waitForDone();
}

Executor& Executor::shared() {
    static QPointer<Executor> instance;
    if (!instance) {
        Q_ASSERT(MainThread::isCurrent());
        instance = new Executor(QCoreApplication::instance());
    }
    return *instance;
}

void Executor::userInitiated(std::function<void()> work) {
    userInitiated_.start([work = std::move(work)] { runGuarded(work); });
}

void Executor::utility(std::function<void()> work) {
    utility_.start([work = std::move(work)] {
        // Linux ignores QThread priorities under SCHED_OTHER; nice is per thread.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        runGuarded(work);
    });
}

void Executor::runGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        qWarning("Background work failed: %s", error.what());
    } catch (...) {
        qWarning("Background work failed with an unknown error");
    }
}

bool Executor::waitForDone(int msecs) {
    QDeadlineTimer deadline(msecs);
    bool done = userInitiated_.waitForDone(static_cast<int>(deadline.remainingTime()));
    return utility_.waitForDone(static_cast<int>(deadline.remainingTime())) && done;
}

}  // namespace brindlecove
