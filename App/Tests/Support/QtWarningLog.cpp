#include "Support/QtWarningLog.hpp"

namespace brindlecove::testing {

namespace {

QtWarningLog* current = nullptr;

}  // namespace

QtWarningLog::QtWarningLog() {
    current = this;
    previous_ = qInstallMessageHandler(&QtWarningLog::record);
}

QtWarningLog::~QtWarningLog() {
    qInstallMessageHandler(previous_);
    current = nullptr;
}

QStringList QtWarningLog::withoutPlatformNotices() const {
    QStringList ours;
    for (const QString& message : messages_)
        if (!message.startsWith(QStringLiteral("This plugin does not support "))) ours << message;
    return ours;
}

void QtWarningLog::record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (current && (type == QtWarningMsg || type == QtCriticalMsg)) {
        current->messages_ << message;
        return;
    }
    if (current && current->previous_) current->previous_(type, context, message);
}

}  // namespace brindlecove::testing
