// How the application ends, or stays, as a process of its own. It runs as a child process of
// this test program (--app-child), answering commands on its standard input: "state", "close"
// (closes its windows), "run" (a copy is running in the window) and "ctrl-q".
//
// It never goes on unseen: on a real X display (Xvfb), with a tray host (trayer) that starts
// after the application, the icon appears; closing the window then leaves the application in
// the tray; losing the tray with no window brings the window back; closing the last window
// with no tray quits. Ctrl+Q ends it as the tray's Quit does.

#include "BrindlecoveApp/Main/AppContext.hpp"
#include "BrindlecoveApp/Views/MenuBarController.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace brindlecove;

namespace {

// "tray=<0|1> icon=<0|1> windows=<n>": whether a tray host exists, whether the tray icon is
// docked and shown, and how many main windows are visible.
QString stateLine(AppContext& context) {
    bool icon = false;
    for (QWidget* widget : QApplication::topLevelWidgets())
        icon = icon || (widget->objectName() == QLatin1String("QSystemTrayIconSys") && widget->isVisible());
    int windows = 0;
    for (MainWindow* window : context.windows()) windows += window->isVisible() ? 1 : 0;
    return QStringLiteral("tray=%1 icon=%2 windows=%3")
        .arg(MenuBarController::isTrayAvailable() ? 1 : 0)
        .arg(icon ? 1 : 0)
        .arg(windows);
}

}  // namespace

// The child: the application's context with its real tray and window, on the platform the
// test chose. Prints "stopped" when a run of its window is stopped and "exited <code>" when
// its event loop ends.
int runAppChild(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    AppContext::Options options;
    options.dialogs.chooseFolder = [](const FolderRequest&) { return std::optional<QString>(); };
    options.dialogs.confirm = [](const Confirmation&) { return false; };
    AppContext context(std::move(options));
    context.openMainWindow();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &context, [&] {
        char buffer[256];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::exit(3);  // the test went away
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command == "close") {
                for (MainWindow* window : context.windows()) window->close();
            } else if (command == "run") {
                for (MainWindow* window : context.windows())
                    window->addRunWatch({[] { return std::optional<QString>(QStringLiteral("copy")); }, [] {
                                             std::printf("stopped\n");
                                             std::fflush(stdout);
                                         }});
            } else if (command == "ctrl-q") {
                // As the user presses it: on the active window, through the shortcut system.
                MainWindow* window = context.windows().value(0);
                if (window) {
                    window->activateWindow();
                    QTest::qWaitForWindowActive(window);
                    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
                }
            } else if (command == "state") {
                std::printf("%s\n", qPrintable(stateLine(context)));
                std::fflush(stdout);
            }
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    const int code = app.exec();
    std::printf("exited %d\n", code);
    std::fflush(stdout);
    return code;
}

namespace {

class AppProcess : public brindlecove::testing::AppSandboxedTest {
protected:
    void TearDown() override {
        for (QProcess* process : {&app, &trayer, &xvfb}) {
            if (process->state() == QProcess::NotRunning) continue;
            process->kill();
            process->waitForFinished(5000);
        }
        AppSandboxedTest::TearDown();
    }

    void startApp() {
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--app-child")});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_EQ(nextLine(), "ready") << "the application did not start";
    }
    // The application's next line of output; empty when none comes.
    QByteArray nextLine() {
        if (!waitFor([&] { return app.canReadLine() || app.state() != QProcess::Running; }, 20'000)) return {};
        return app.readLine().trimmed();
    }
    void send(const char* command) {
        app.write(command);
        app.write("\n");
        app.waitForBytesWritten(1000);
    }
    bool appEnds() {
        return waitFor([&] { return app.state() == QProcess::NotRunning; }, 20'000) &&
               app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

    QProcess xvfb, trayer, app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

class TrayLifetime : public AppProcess {
protected:
    void SetUp() override {
        AppProcess::SetUp();
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            GTEST_SKIP() << "needs Xvfb and trayer";
        // Xvfb picks a free display and writes its number to its standard output.
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("1024x768x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        ASSERT_TRUE(xvfb.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return xvfb.canReadLine() || xvfb.state() != QProcess::Running; }, 20'000));
        display = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine().trimmed());
        ASSERT_GT(display.size(), 1);
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }

    void startTrayer() {
        trayer.setProcessEnvironment(environment);
        trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        trayer.start(QStringLiteral("trayer"), {});
        ASSERT_TRUE(trayer.waitForStarted());
    }
    // The application's answer to "state", or an empty text when it has ended.
    QString state() {
        if (app.state() != QProcess::Running) return {};
        send("state");
        return QString::fromLatin1(nextLine());
    }
    // Asks for the state until it reads `expected`; the last answer.
    QString waitForState(const QString& expected, int timeoutMs = 20'000) {
        QString last;
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            last = state();
            if (last == expected || last.isEmpty()) break;
            QTest::qWait(100);
        }
        return last;
    }

    QString display;
};

}  // namespace

TEST_F(TrayLifetime, ATrayThatAppearsLaterGetsTheIconAndKeepsTheApplicationVisible) {
    startApp();
    EXPECT_EQ(state(), QStringLiteral("tray=0 icon=0 windows=1"));

    startTrayer();
    // The icon docks once the tray host is there, though there was none at start.
    EXPECT_EQ(waitForState(QStringLiteral("tray=1 icon=1 windows=1")), QStringLiteral("tray=1 icon=1 windows=1"));
    send("close");
    EXPECT_EQ(waitForState(QStringLiteral("tray=1 icon=1 windows=0")), QStringLiteral("tray=1 icon=1 windows=0"))
        << "the application stays, seen in the tray";

    // The tray host goes away with no window open: the window comes back.
    trayer.kill();
    trayer.waitForFinished(5000);
    EXPECT_EQ(waitForState(QStringLiteral("tray=0 icon=0 windows=1")), QStringLiteral("tray=0 icon=0 windows=1"));

    // With no tray, closing the last window ends the application.
    send("close");
    EXPECT_TRUE(appEnds());
}

TEST_F(TrayLifetime, WithoutATrayClosingTheWindowQuits) {
    startApp();
    EXPECT_EQ(state(), QStringLiteral("tray=0 icon=0 windows=1"));
    send("close");
    EXPECT_TRUE(appEnds());
}

TEST_F(AppProcess, CtrlQEndsTheApplicationLikeTheTraysQuitStoppingRunsWithoutAsking) {
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    startApp();
    send("run");  // a copy runs; closing the window would ask, and the answer would be no
    send("ctrl-q");
    EXPECT_EQ(nextLine(), "stopped");
    EXPECT_EQ(nextLine(), "exited 0");
    EXPECT_TRUE(appEnds());
}
