#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <cstdlib>

namespace brindlecove::testing {

void AppSandboxedTest::SetUp() {
    std::filesystem::create_directories(sandbox.path() / "home");
    std::filesystem::create_directories(sandbox.path() / "tmp");
    setenv("HOME", (sandbox.path() / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
    setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (sandbox.path() / "etc-xdg").c_str(), 1);
    setenv("TMPDIR", (sandbox.path() / "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
}

void AppSandboxedTest::TearDown() { drainEvents(); }

QString AppSandboxedTest::qpath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

bool AppSandboxedTest::waitFor(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

void AppSandboxedTest::drainEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace brindlecove::testing
