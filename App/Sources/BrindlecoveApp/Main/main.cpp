// The application's entry point: one instance per user, the stores, the menu-bar extra and
// the first main window; no command line. SIGTERM (logout, shutdown) ends it like Quit.

#include "BrindlecoveApp/Main/AppContext.hpp"
#include "BrindlecoveApp/MemoryRelease.hpp"
#include "BrindlecoveApp/Platform/AppIdentity.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Main/SingleInstance.hpp"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    brindlecove::limitAllocationArenas();
    // Report previews play camera codecs (H.264, HEVC 10-bit, ProRes, DNxHD) through FFmpeg.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    QApplication::setApplicationName(brindlecove::appName());
    QApplication::setOrganizationName(brindlecove::appName());
    QApplication::setDesktopFileName(brindlecove::appId());
    // Closing the last window must leave the tray, the mount watching and the schedule running.
    QApplication::setQuitOnLastWindowClosed(false);

    brindlecove::SingleInstance instance(brindlecove::SingleInstance::defaultName());
    if (!instance.claim()) return 0;  // the running instance opens its window instead

    brindlecove::AppContext context;
    QObject::connect(&instance, &brindlecove::SingleInstance::openRequested, &context,
                     [&context] { context.openMainWindow(); });

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &context, [&context] {
            char buffer[16];
            while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            context.quit();
        });
        std::signal(SIGTERM, onTerminate);
        std::signal(SIGINT, onTerminate);
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { brindlecove::MainThread::stopAccepting(); });

    context.openMainWindow();
    int code = app.exec();

    // Give running work a short grace period to stop (a copy stops inside the file at hand);
    // destroying the stores under a worker that still runs would be worse than ending at once.
    if (!brindlecove::Executor::shared().waitForDone(5000)) std::_Exit(code);
    return code;
}
