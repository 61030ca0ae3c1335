#include "BrindlecoveApp/AppEvents.hpp"

#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QCoreApplication>
#include <QPointer>

namespace brindlecove {

AppEvents& AppEvents::instance() {
    static QPointer<AppEvents> events;
    if (!events) {
        Q_ASSERT(MainThread::isCurrent());
        events = new AppEvents(QCoreApplication::instance());
    }
    return *events;
}

void AppEvents::postLogArchived() {
    MainThread::post([] { Q_EMIT instance().logArchived(); });
}

}  // namespace brindlecove
