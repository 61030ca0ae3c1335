#pragma once
// Application-wide notifications. "Brindlecove.logArchived" is posted after every attempt to
// file a scan or copy into the log archive (also a failed one), and observed by the log store.

#include <QObject>

namespace brindlecove {

inline constexpr const char* bcLogArchivedName = "Brindlecove.logArchived";

class AppEvents : public QObject {
    Q_OBJECT
public:
    // The one object, made on the main thread as a child of the application object.
    static AppEvents& instance();

    // Any thread: emits logArchived() on the main thread, in a later turn of the event loop.
    static void postLogArchived();

Q_SIGNALS:
    void logArchived();

private:
    using QObject::QObject;
};

}  // namespace brindlecove
