// The main of the window tests: the widget tests' main, except that run with
// --single-instance-child NAME it acts as a second launch of the application instead (see
// SingleInstanceTests), and with --app-child as the application on a real display (see
// AppLifetimeTests).

#include "BrindlecoveApp/Main/SingleInstance.hpp"
#include "Support/WindowTestRun.hpp"

#include <QCoreApplication>

#include <cstring>

int runAppChild(int argc, char** argv);

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--app-child") == 0) return runAppChild(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--single-instance-child") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication app(argc, argv);
        brindlecove::SingleInstance instance(QString::fromLocal8Bit(argv[2]));
        // 0: another instance answered and was asked to open; 3: this one became the instance.
        return instance.claim() ? 3 : 0;
    }
    return brindlecove::testing::runWindowTests(argc, argv);
}
