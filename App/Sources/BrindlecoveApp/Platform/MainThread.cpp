#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <mutex>

namespace brindlecove::MainThread {
namespace {

std::atomic<bool> accepting{true};

}  // namespace

void post(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !accepting.load(std::memory_order_acquire)) return;
    static std::once_flag watchQuit;
    std::call_once(watchQuit, [app] {
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { stopAccepting(); },
                         Qt::DirectConnection);
    });
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

bool isCurrent() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void stopAccepting() { accepting.store(false, std::memory_order_release); }

}  // namespace brindlecove::MainThread
