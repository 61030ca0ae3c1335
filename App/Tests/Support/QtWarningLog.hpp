#pragma once
// Records the warnings Qt prints (qWarning, qCritical) while it lives, instead of letting
// them reach standard error, so a test can require that none were printed. One at a time;
// main thread.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace brindlecove::testing {

class QtWarningLog {
public:
    QtWarningLog();
    ~QtWarningLog();
    QtWarningLog(const QtWarningLog&) = delete;
    QtWarningLog& operator=(const QtWarningLog&) = delete;

    const QStringList& messages() const { return messages_; }
    // The messages without the offscreen platform's notices of what it cannot do for a
    // window ("This plugin does not support propagateSizeHints()", raise(), grabbing the
    // keyboard), which a desktop's window system does and which say nothing of our widgets.
    QStringList withoutPlatformNotices() const;

private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QStringList messages_;
    QtMessageHandler previous_ = nullptr;
};

}  // namespace brindlecove::testing
