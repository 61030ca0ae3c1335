#include "Support/WindowTestRun.hpp"

#include <QApplication>
#include <QLocale>
#include <QMetaEnum>
#include <QStyleFactory>
#include <QThread>

#include <gtest/gtest.h>

namespace brindlecove::testing {

namespace {

std::function<void(const std::string&)>& afterEachEvent() {
    static std::function<void(const std::string&)> check;
    return check;
}

std::string describe(QObject* receiver, QEvent* event) {
    const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
    return std::string(type ? type : "event") + " to " + receiver->metaObject()->className() + " " +
           receiver->objectName().toStdString();
}

// Delivers every event as QApplication does, and tells the check once an event that did not
// arrive inside another one's handling has been handled.
class SteppedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (QThread::currentThread() != thread()) return QApplication::notify(receiver, event);
        const bool outermost = depth_ == 0 && afterEachEvent();
        const std::string what = outermost ? describe(receiver, event) : std::string();
        ++depth_;
        const bool handled = QApplication::notify(receiver, event);
        --depth_;
        if (outermost && afterEachEvent()) afterEachEvent()(what);
        return handled;
    }

private:
    int depth_ = 0;
};

}  // namespace

AfterEachEvent::AfterEachEvent(std::function<void(const std::string&)> check) { afterEachEvent() = std::move(check); }

AfterEachEvent::~AfterEachEvent() { afterEachEvent() = nullptr; }

int runWindowTests(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    SteppedApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace brindlecove::testing
