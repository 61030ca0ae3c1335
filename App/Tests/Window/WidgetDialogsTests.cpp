// The real folder and save panels: where they open. They are run for real and closed from the
// event loop they spin, reading the folder they show.

#include "BrindlecoveApp/Views/WidgetDialogs.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include <gtest/gtest.h>

using namespace brindlecove;

namespace {

class WidgetDialogsTest : public brindlecove::testing::AppSandboxedTest {
protected:
    // Runs `ask`, which opens one panel, and returns the folder the panel showed.
    static QString shownFolder(const std::function<void()>& ask) {
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                shown = panel->directory().absolutePath();
                panel->reject();
            }
        });
        ask();
        return shown;
    }
};

}  // namespace

TEST_F(WidgetDialogsTest, PanelsOpenAtTheFolderGivenElseAtHomeNeverInTheWorkingDirectory) {
    const std::filesystem::path home = sandbox.path() / "home";
    const std::filesystem::path work = sandbox.path() / "work";
    const std::filesystem::path chosen = sandbox.path() / "Shoot";
    for (const auto& folder : {home, work, chosen}) std::filesystem::create_directories(folder);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(qpath(work));
    Dialogs dialogs = widgetDialogs(nullptr);

    EXPECT_EQ(shownFolder([&] { dialogs.chooseFolder(FolderRequest{QStringLiteral("Save Logs Here"), {}, true, {}}); }),
              qpath(home));
    EXPECT_EQ(shownFolder([&] {
                  dialogs.chooseFolder(FolderRequest{QStringLiteral("Select"), {}, false, qpath(sandbox.path() / "gone")});
              }),
              qpath(home));
    EXPECT_EQ(shownFolder([&] { dialogs.chooseFolder(FolderRequest{QStringLiteral("Select"), {}, true, qpath(chosen)}); }),
              qpath(chosen));
    EXPECT_EQ(shownFolder([&] { dialogs.saveFile(SaveRequest{QStringLiteral("Brindlecove Report.pdf"),
                                                             QStringLiteral("Export"), {}}); }),
              qpath(home));
    QDir::setCurrent(previous);
}
