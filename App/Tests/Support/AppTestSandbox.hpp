#pragma once
// A fixture for application tests: each test gets its own HOME, XDG_CONFIG_HOME,
// XDG_DATA_HOME and TMPDIR under a private temporary folder, so the user defaults, the data
// folder and the autostart folder are the test's own.

#include "Support/TestSandbox.hpp"

#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindlecove::testing {

class AppSandboxedTest : public tessaline::testing::SandboxedTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path configHome() const { return sandbox.path() / "config"; }
    std::filesystem::path dataHome() const { return sandbox.path() / "data"; }
    static QString qpath(const std::filesystem::path& path);
    UserDefaults defaults() const { return UserDefaults::standard(); }

    // Spins the event loop until `done` holds or `timeoutMs` pass; returns `done()`.
    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 10'000);
    // Runs the calls already queued on the event loop.
    static void drainEvents();

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace brindlecove::testing
