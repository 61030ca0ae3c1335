#include "BrindlecoveApp/Platform/LoginItem.hpp"
#include "BrindlecoveApp/ScheduledSyncService.hpp"

#include "Support/AppTestSandbox.hpp"

#include <sys/stat.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {
const QString id = QStringLiteral("org.example.Brindle");
}

class LoginItemTests : public AppSandboxedTest {
protected:
    fs::path autostart() const { return configHome() / "autostart"; }
    fs::path entry() const { return autostart() / "org.example.Brindle.desktop"; }
    fs::path systemFolder() const { return sandbox.path() / "etc-xdg" / "autostart"; }
    fs::path program() const { return sandbox.path() / "bin" / "brindle"; }
    LoginItem item() const {
        return LoginItem(id, qpath(autostart()), {qpath(systemFolder())}, qpath(program()));
    }
    void SetUp() override {
        AppSandboxedTest::SetUp();
        writeFile(program(), "#!/bin/sh\n");
        chmod(program().c_str(), 0755);
    }
};

TEST_F(LoginItemTests, RegisteringWritesAnEnabledEntryOnceAndUnregisteringRemovesIt) {
    LoginItem login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    login.registerItem();
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    std::string text = readFile(entry());
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Brindlecove\nExec="), std::string::npos);
    EXPECT_NE(text.find("X-GNOME-Autostart-enabled=true"), std::string::npos);

    // Already enabled: the file is not rewritten.
    struct stat before{}, after{};
    stat(entry().c_str(), &before);
    login.registerItem();
    stat(entry().c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);

    login.unregisterItem();
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    login.unregisterItem();  // not enabled: nothing to do, no error
}

TEST_F(LoginItemTests, DisabledAndStaleEntriesReportTheirStateAndAreRepaired) {
    LoginItem login = item();
    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=" + program().string() +
                           "\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(login.status(), LoginItemStatus::requiresApproval);
    login.unregisterItem();  // not enabled: left as the user set it
    EXPECT_TRUE(fs::exists(entry()));

    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=/nowhere/brindle\n");
    EXPECT_EQ(login.status(), LoginItemStatus::notFound);
    login.registerItem();
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);

    writeFile(entry(), "[Desktop Entry]\nHidden=true\nExec=" + program().string() + "\n");
    EXPECT_EQ(login.status(), LoginItemStatus::requiresApproval);
}

TEST_F(LoginItemTests, ASystemWideEntryIsHiddenRatherThanDeleted) {
    writeFile(systemFolder() / "org.example.Brindle.desktop",
              "[Desktop Entry]\nType=Application\nExec=" + program().string() + "\n");
    LoginItem login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    login.unregisterItem();
    EXPECT_NE(readFile(entry()).find("Hidden=true"), std::string::npos);
    EXPECT_EQ(login.status(), LoginItemStatus::requiresApproval);
}

TEST_F(LoginItemTests, AnUnusableAutostartFolderIsUnavailableAndAWriteFailureIsASentence) {
    writeFile(autostart(), "a file where the folder belongs");
    LoginItem login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::unavailable);
    try {
        login.registerItem();
        FAIL() << "expected a failure";
    } catch (const LoginItemError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Couldn't write " + entry().string() + ": ", 0), 0u)
            << error.what();
    }
    LoginItem nowhere(id, QString(), {}, qpath(program()));
    EXPECT_EQ(nowhere.status(), LoginItemStatus::unavailable);

    ScheduledSyncService service([] {}, login);
    std::optional<QString> failure = service.setLaunchAtLogin(true);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->startsWith(QStringLiteral("Couldn't write ")));
    EXPECT_EQ(service.launchAtLoginStatusText(), QStringLiteral("unavailable"));
}

TEST_F(LoginItemTests, ExecValuesSurviveReservedCharactersBothWays) {
    for (QString path : {QStringLiteral("/opt/brindle/bin/brindlecove"), QStringLiteral("/opt/My Apps/brindle"),
                         QStringLiteral("/opt/a$b\\c\"d`e%f/x"), QStringLiteral("/opt/it's (new)/x")}) {
        QString exec = LoginItem::execValue(path);
        EXPECT_EQ(LoginItem::programOfExec(exec), path) << exec.toStdString();
    }
    EXPECT_EQ(LoginItem::execValue(QStringLiteral("/a b/c$d\\e%f")),
              QStringLiteral("\"/a b/c\\\\$d\\\\\\\\e%%f\""));
}

TEST_F(LoginItemTests, AnEntryForAProgramWithBlanksInItsPathPassesTheDesktopValidator) {
    if (!tessaline::testing::haveProgram("desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed; skipped";
    fs::path spaced = sandbox.path() / "My Apps" / "brind$le%";
    writeFile(spaced, "#!/bin/sh\n");
    chmod(spaced.c_str(), 0755);
    LoginItem login(id, qpath(autostart()), {}, qpath(spaced));
    login.registerItem();
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    auto result = tessaline::testing::runCommand({"desktop-file-validate", entry().string()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_F(LoginItemTests, StatusTextsAreVerbatim) {
    EXPECT_EQ(loginItemStatusText(LoginItemStatus::notRegistered), QStringLiteral("notRegistered"));
    EXPECT_EQ(loginItemStatusText(LoginItemStatus::enabled), QStringLiteral("enabled"));
    EXPECT_EQ(loginItemStatusText(LoginItemStatus::requiresApproval), QStringLiteral("requiresApproval"));
    EXPECT_EQ(loginItemStatusText(LoginItemStatus::notFound), QStringLiteral("notFound"));
    EXPECT_EQ(loginItemStatusText(LoginItemStatus::unavailable), QStringLiteral("unavailable"));
}
