// Closing a window while a reformat runs: a reformat cannot be stopped, so the window says it
// will finish, stays open and stops nothing; once it has finished the window closes as usual.

#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>
#include <QPointer>

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

class ReformatWindowClose : public AppSandboxedTest {};

TEST_F(ReformatWindowClose, TheWindowSaysTheReformatWillFinishAndStaysOpenUntilIt) {
    std::vector<Confirmation> asked;
    WindowServices services;
    services.dialogs.confirm = [&asked](const Confirmation& question) {
        asked.push_back(question);
        return true;  // even "OK" on the notice keeps the window
    };
    QPointer<MainWindow> window(new MainWindow(std::move(services)));
    EXPECT_FALSE(window->models().unstoppableNoun()) << "no reformat runs";
    bool running = true, stopped = false;
    auto reformat = [&running]() -> std::optional<QString> {
        return running ? std::optional<QString>(QStringLiteral("reformat")) : std::nullopt;
    };
    window->addRunWatch({reformat, [&stopped] { stopped = true; }, reformat});
    window->show();

    EXPECT_FALSE(window->close());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].noticeOnly);
    EXPECT_EQ(asked[0].title, "The reformat is still running");
    EXPECT_EQ(asked[0].message,
              "A reformat can't be stopped once it has started. It will finish, and this window stays open until it "
              "has, to show how it went.");
    EXPECT_FALSE(stopped);
    ASSERT_TRUE(window);

    running = false;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(asked.size(), 1u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

}  // namespace
}  // namespace brindlecove::testing
