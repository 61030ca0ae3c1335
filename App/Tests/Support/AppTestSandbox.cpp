#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <cstdlib>

namespace brindlecove::testing {

namespace {

const char* const variables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS", "TMPDIR",
                                 "XDG_RUNTIME_DIR"};

}  // namespace

void AppSandboxedTest::SetUp() {
    for (const char* name : variables) {
        const char* value = getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::filesystem::create_directories(sandbox.path() / "home");
    std::filesystem::create_directories(sandbox.path() / "tmp");
    setenv("HOME", (sandbox.path() / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
    setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (sandbox.path() / "etc-xdg").c_str(), 1);
    setenv("TMPDIR", (sandbox.path() / "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
}

void AppSandboxedTest::TearDown() {
    drainEvents();
    // The sandbox goes away after this; later tests of the program must not find it set.
    for (const auto& [name, value] : saved_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
    saved_.clear();
}

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
