#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"
#include "BrindlecoveApp/Views/DesktopFileRevealer.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/LogRowDelegate.hpp"
#include "BrindlecoveApp/Views/LogsView.hpp"
#include "BrindlecoveApp/Views/NewJobDialog.hpp"
#include "BrindlecoveApp/Views/Style.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ListingGate.hpp"
#include "Support/ToolTipProbe.hpp"

#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QAbstractButton>
#include <QDir>
#include <QLocale>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolTip>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

using namespace brindlecove;
using brindlecove::testing::showToolTip;
using brindlecove::testing::AppSandboxedTest;
using brindlecove::testing::ListingGate;
using tessaline::ArchivedLog;
using tessaline::LogArchive;
namespace fs = std::filesystem;

namespace {

// A scan of an empty card: no problem. With an unread folder it has one.
tessaline::VerificationReport scan(const std::string& card, bool problem) {
    std::vector<fs::path> unread;
    if (problem) unread.push_back("/media/u/" + card + "/DCIM/101");
    return tessaline::VerificationReport("/media/u/" + card, {"/media/u/Backup"}, tessaline::nowEpoch(), {},
                                         tessaline::VolumeIdentity{}, unread);
}

// A copy that planned `planned` files and handled none: incomplete (a problem) unless 0.
tessaline::TransferLog copy(const std::string& card, int planned) {
    tessaline::TransferLog log;
    log.sourceURL = "/media/u/" + card;
    log.destinationURL = "/media/u/Backup/" + card;
    log.startedAt = tessaline::nowEpoch() - 5;
    log.finishedAt = tessaline::nowEpoch();
    log.plannedFileCount = planned;
    log.plannedBytes = 0;
    return log;
}

QAction* action(QObject* menu, const QString& name, const QString& text = {}) {
    for (QAction* a : menu->findChildren<QAction*>())
        if (a->objectName() == name && (text.isEmpty() || a->text() == text)) return a;
    return nullptr;
}

}  // namespace

class LogsViewTests : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        store = std::make_unique<LogStore>();
        projects = std::make_unique<ProjectStore>();
    }
    void TearDown() override {
        gate->open();
        view.reset();
        store.reset();
        projects.reset();
        EXPECT_TRUE(Executor::shared().waitForDone(60'000));
        AppSandboxedTest::TearDown();
    }

    LogArchive archive() const { return LogArchive::defaultArchive(); }

    // With `desktop`, the desktop's own revealer instead of one that records the calls.
    LogsView& makeView(bool desktop = false) {
        LogsModel::Dependencies deps;
        deps.today = [this] { return today; };
        deps.revealer.open = [this](const QString& path, const FileRevealer::Failed&) { opened << path; };
        deps.revealer.reveal = [this](const QString& path, const FileRevealer::Failed&) { revealed << path; };
        if (desktop) deps.revealer = desktopFileRevealer();
        deps.dialogs.chooseFolder = [this](const FolderRequest& request) {
            requests.push_back(request);
            return folderAnswer;
        };
        view = std::make_unique<LogsView>(*store, *projects, std::move(deps));
        view->resize(700, 600);
        view->show();  // refreshes the store
        settle();
        return *view;
    }

    // Lets the latest listing arrive and the view follow it.
    void settle() const {
        drainEvents();
        EXPECT_TRUE(waitFor([&] { return !store->isListing(); }, 60'000));
        QTest::qWait(1);
        drainEvents();
    }

    QTreeWidget* list() const { return view->list(); }

    // The titles of the list's sections in order (day titles or job names).
    QStringList sectionTitles() const {
        QStringList titles;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list()->topLevelItem(i);
            if (auto* header = list()->itemWidget(item, 0))
                titles << header->findChild<QLabel*>(QStringLiteral("jobHeader.name"))->text();
            else
                titles << item->text(0);
        }
        return titles;
    }

    QTreeWidgetItem* section(const QString& title) const {
        QStringList titles = sectionTitles();
        int index = titles.indexOf(title);
        return index < 0 ? nullptr : list()->topLevelItem(index);
    }

    // The subtitles of the rows under a section, or its placeholder text.
    QStringList rows(const QString& title) const {
        QStringList out;
        QTreeWidgetItem* head = section(title);
        if (!head) return {QStringLiteral("<no section>")};
        for (int i = 0; i < head->childCount(); ++i) out << head->child(i)->text(0);
        return out;
    }

    // The row whose subtitle holds the text (a log row: it carries its log's id).
    QTreeWidgetItem* rowItem(const std::string& subtitleContains) const {
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* head = list()->topLevelItem(i);
            for (int j = 0; j < head->childCount(); ++j) {
                QTreeWidgetItem* row = head->child(j);
                if (row->data(0, LogRowDelegate::logId).isValid() &&
                    row->text(0).contains(QString::fromStdString(subtitleContains)))
                    return row;
            }
        }
        return nullptr;
    }

    QString shown(const std::string& row, LogRowDelegate::Role role) const {
        QTreeWidgetItem* item = rowItem(row);
        return item ? item->data(0, role).toString() : QStringLiteral("<no row>");
    }

    ArchivedLog logNamed(const std::string& card) const {
        for (const ArchivedLog& log : store->logs())
            if (log.subtitle.find(card) != std::string::npos) return log;
        ADD_FAILURE() << "no log of " << card;
        return {};
    }

    std::unique_ptr<LogStore> store;
    std::unique_ptr<ProjectStore> projects;
    std::unique_ptr<LogsView> view;
    QDate today = QDate(2025, 3, 8);
    QStringList opened, revealed;
    std::vector<FolderRequest> requests;
    std::optional<QString> folderAnswer;
    std::shared_ptr<ListingGate> gate = std::make_shared<ListingGate>();
};

TEST_F(LogsViewTests, DaysAroundMidnightAreTitledFromTheInjectedToday) {
    const double t = tessaline::epochFromUtc(2025, 3, 7, 23, 59, 30);  // the tests run in UTC
    archive().archive(scan("LATE", false), std::nullopt, t);
    archive().archive(scan("EARLY", false), std::nullopt, t + 60);  // 00:00:30 on the 8th
    archive().archive(copy("OLD", 0), std::nullopt, t - 86400 * 2);
    makeView();
    EXPECT_EQ(sectionTitles(), (QStringList{"Today", "Yesterday", "Wednesday, March 5, 2025"}));
    EXPECT_EQ(rows(QStringLiteral("Today")), QStringList{"Scan of EARLY"});
    EXPECT_EQ(rows(QStringLiteral("Yesterday")), QStringList{"Scan of LATE"});
    EXPECT_EQ(shown("EARLY", LogRowDelegate::time), QStringLiteral("12:00 AM"));
    EXPECT_EQ(shown("LATE", LogRowDelegate::time), QStringLiteral("11:59 PM"));

    today = QDate(2025, 3, 9);  // a day later the same logs move one title on
    view->model().refresh();
    settle();
    EXPECT_EQ(sectionTitles(), (QStringList{"Yesterday", "Friday, March 7, 2025", "Wednesday, March 5, 2025"}));
    EXPECT_EQ(view->model().dayTitle(QStringLiteral("2025-3-7x")), QStringLiteral("2025-3-7x"));
}

TEST_F(LogsViewTests, EmptyStateNeedsNoLogsAndNoJobs) {
    makeView();
    auto* content = view->findChild<QStackedWidget*>();
    EXPECT_EQ(content->currentWidget()->objectName(), QStringLiteral("logs.empty"));
    EXPECT_EQ(content->currentWidget()->findChild<QLabel*>(QStringLiteral("emptyState.title"))->text(),
              QStringLiteral("No Logs Yet"));
    EXPECT_TRUE(view->findChild<QWidget*>(QStringLiteral("logs.savingBar"))->isVisible());

    projects->addJob(QStringLiteral("Feature"));
    projects->addJob(QStringLiteral("Commercial"));
    settle();
    EXPECT_EQ(content->currentWidget(), list());
    EXPECT_EQ(list()->topLevelItemCount(), 0);  // by date: nothing to list

    view->findChild<QAbstractButton*>(QStringLiteral("logs.mode.job"))->click();
    settle();
    EXPECT_EQ(sectionTitles(), (QStringList{"Commercial", "Feature"}));
    EXPECT_EQ(rows(QStringLiteral("Feature")), QStringList{"No logs filed here yet."});
}

// A logs folder that has not answered yet: the section says it is loading (not that there
// are no logs), and shows the list when it arrives.
TEST_F(LogsViewTests, TheSectionSaysItIsLoadingUntilTheFirstListArrives) {
    archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    projects->addJob(QStringLiteral("Feature"));
    store = std::make_unique<LogStore>(LogArchiveProvider::shared(), ListingGate::holding(gate));
    view = std::make_unique<LogsView>(*store, *projects, LogsModel::Dependencies{});
    view->resize(700, 600);
    view->show();
    drainEvents();
    ASSERT_TRUE(waitFor([&] { return gate->entered == 2; }));  // the store's listing and the view's
    auto* content = view->findChild<QStackedWidget*>();
    EXPECT_TRUE(view->model().isLoading());
    EXPECT_EQ(content->currentWidget()->objectName(), QStringLiteral("logs.empty"));
    EXPECT_EQ(content->currentWidget()->findChild<QLabel*>(QStringLiteral("emptyState.title"))->text(),
              QString::fromUtf8("Loading Logs…"));
    EXPECT_TRUE(content->currentWidget()->findChild<QLabel*>(QStringLiteral("emptyState.description"))->isHidden());

    gate->open();
    settle();
    EXPECT_FALSE(view->model().isLoading());
    EXPECT_EQ(content->currentWidget(), list());
    EXPECT_TRUE(rowItem("A001"));
}

TEST_F(LogsViewTests, RowsShowKindProblemAndJobAsTheModeAsks) {
    archive().archive(scan("GOOD", false), std::string("Feature"), tessaline::nowEpoch());
    archive().archive(scan("BAD", true), std::nullopt, tessaline::nowEpoch());
    archive().archive(copy("FINE", 0), std::nullopt, tessaline::nowEpoch());
    archive().archive(copy("BROKE", 3), std::nullopt, tessaline::nowEpoch());
    tessaline::TransferLog halted = copy("HALTED", 20);
    halted.wasCancelled = true;  // stopped by the user before any file failed
    archive().archive(halted, std::nullopt, tessaline::nowEpoch());
    projects->addJob(QStringLiteral("Feature"));
    makeView();

    auto color = [&](const char* card) { return rowItem(card)->data(0, LogRowDelegate::color).value<QColor>(); };
    EXPECT_EQ(shown("GOOD", LogRowDelegate::tag), QStringLiteral("SCAN"));
    EXPECT_EQ(shown("FINE", LogRowDelegate::tag), QStringLiteral("COPY"));
    EXPECT_EQ(shown("GOOD", LogRowDelegate::iconSymbol), QStringLiteral("magnifyingglass"));
    EXPECT_EQ(shown("FINE", LogRowDelegate::iconSymbol), QStringLiteral("doc.on.doc.fill"));
    EXPECT_EQ(shown("GOOD", LogRowDelegate::problem), QString());  // the green check
    EXPECT_EQ(shown("BAD", LogRowDelegate::problem), QStringLiteral("missing"));
    EXPECT_EQ(shown("BROKE", LogRowDelegate::problem), QStringLiteral("failed"));
    // A stopped copy is not a failed one: its own word, in orange.
    EXPECT_EQ(shown("HALTED", LogRowDelegate::problem), QStringLiteral("stopped"));
    EXPECT_EQ(rowItem("HALTED")->data(0, LogRowDelegate::problemColor).value<QColor>(), Style::warn());
    EXPECT_EQ(rowItem("BROKE")->data(0, LogRowDelegate::problemColor).value<QColor>(), Style::bad());
    EXPECT_EQ(color("HALTED"), Style::warn());
    EXPECT_NE(color("GOOD"), color("BAD"));
    EXPECT_NE(color("FINE"), color("BROKE"));
    EXPECT_NE(color("GOOD"), color("FINE"));
    EXPECT_EQ(shown("GOOD", LogRowDelegate::job), QStringLiteral("Feature"));
    EXPECT_EQ(shown("BAD", LogRowDelegate::job), QString());

    view->model().setMode(LogsModel::GroupMode::job);
    settle();
    EXPECT_EQ(sectionTitles(), (QStringList{"Feature", "Unfiled"}));
    EXPECT_EQ(shown("GOOD", LogRowDelegate::job), QString());
    // "Unfiled" has the tray and no menu; a job has its menu.
    QWidget* unfiled = list()->itemWidget(section(QStringLiteral("Unfiled")), 0);
    QWidget* feature = list()->itemWidget(section(QStringLiteral("Feature")), 0);
    EXPECT_EQ(unfiled->findChild<QLabel*>(QStringLiteral("jobHeader.symbol"))->property("symbol"), QStringLiteral("tray"));
    EXPECT_EQ(unfiled->findChild<QToolButton*>(QStringLiteral("jobHeader.menu")), nullptr);
    EXPECT_EQ(feature->findChild<QLabel*>(QStringLiteral("jobHeader.count"))->text(), QStringLiteral("1"));
    EXPECT_NE(feature->findChild<QToolButton*>(QStringLiteral("jobHeader.menu")), nullptr);
}

TEST_F(LogsViewTests, MoveToJobRewritesTheArchiveAndNewJobFilesThePendingLog) {
    archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    archive().archive(scan("A002", false), std::nullopt, tessaline::nowEpoch());
    projects->addJob(QStringLiteral("Feature"));
    projects->setActiveJob(std::nullopt);
    makeView();
    view->model().setMode(LogsModel::GroupMode::job);

    std::unique_ptr<QMenu> menu(view->makeRowMenu(logNamed("A001")));
    EXPECT_EQ(action(menu.get(), QStringLiteral("row.move.unfiled"))->property("symbol"), QStringLiteral("checkmark"));
    action(menu.get(), QStringLiteral("row.move.job"), QStringLiteral("Feature"))->trigger();
    settle();
    EXPECT_EQ(logNamed("A001").project, "Feature");
    EXPECT_EQ(rows(QStringLiteral("Feature")).size(), 1);
    EXPECT_TRUE(rows(QStringLiteral("Feature")).front().startsWith(QStringLiteral("A001")));

    // "New Job…" from the row menu, typed with blanks: created trimmed, active, log filed.
    menu.reset(view->makeRowMenu(logNamed("A002")));
    action(menu.get(), QStringLiteral("row.move.new"))->trigger();
    QPointer<NewJobDialog> dialog = view->findChild<NewJobDialog*>();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    dialog->nameField()->setText(QStringLiteral("  Commercial \n"));
    dialog->findChild<QPushButton*>(QStringLiteral("newJob.create"))->click();
    settle();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(projects->jobs(), (QStringList{"Feature", "Commercial"}));
    EXPECT_EQ(projects->activeJob(), QStringLiteral("Commercial"));
    EXPECT_EQ(logNamed("A002").project, "Commercial");
    EXPECT_EQ(rows(QStringLiteral("Commercial")), QStringList{"Scan of A002"});
    EXPECT_EQ(view->findChild<QToolButton*>(QStringLiteral("logs.activeJob"))->text(), QStringLiteral("Commercial"));

    // An existing name is not doubled but made active, and the pending log goes there.
    menu.reset(view->makeRowMenu(logNamed("A002")));
    action(menu.get(), QStringLiteral("row.move.new"))->trigger();
    dialog = view->findChild<NewJobDialog*>();
    dialog->nameField()->setText(QStringLiteral("Feature"));
    dialog->accept();
    settle();
    EXPECT_EQ(projects->jobs(), (QStringList{"Feature", "Commercial"}));
    EXPECT_EQ(projects->activeJob(), QStringLiteral("Feature"));
    EXPECT_EQ(logNamed("A002").project, "Feature");
}

TEST_F(LogsViewTests, BlankOrUnfiledJobNamesCreateNothingAndMoveNothing) {
    archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    makeView();
    for (const QString& name : {QStringLiteral("   "), QStringLiteral("Unfiled"), QStringLiteral(" Unfiled ")}) {
        std::unique_ptr<QMenu> menu(view->makeRowMenu(logNamed("A001")));
        action(menu.get(), QStringLiteral("row.move.new"))->trigger();
        auto* dialog = view->findChild<NewJobDialog*>();
        ASSERT_NE(dialog, nullptr);
        dialog->nameField()->setText(name);
        dialog->findChild<QPushButton*>(QStringLiteral("newJob.create"))->click();
        settle();
        EXPECT_TRUE(projects->jobs().isEmpty()) << name.toStdString();
        EXPECT_FALSE(projects->activeJob());
        EXPECT_FALSE(logNamed("A001").project);
        EXPECT_FALSE(view->model().pendingMoveLog());
    }
    // Cancel clears the waiting log as well.
    view->openNewJob(logNamed("A001"))->reject();
    EXPECT_FALSE(view->model().pendingMoveLog());
}

TEST_F(LogsViewTests, DeletingALogRemovesItsFolderAndDeletingAJobUnfilesItsLogs) {
    ArchivedLog kept = archive().archive(copy("A001", 0), std::string("Feature"), tessaline::nowEpoch());
    ArchivedLog gone = archive().archive(scan("A002", false), std::string("Feature"), tessaline::nowEpoch());
    projects->addJob(QStringLiteral("Feature"));
    makeView();
    ASSERT_TRUE(fs::exists(gone.directory));

    std::unique_ptr<QMenu> menu(view->makeRowMenu(logNamed("A002")));
    action(menu.get(), QStringLiteral("row.delete"))->trigger();
    settle();
    EXPECT_FALSE(fs::exists(gone.directory));
    EXPECT_EQ(store->logs().size(), 1u);
    EXPECT_EQ(rowItem("A002"), nullptr);

    // Through the job header's own menu: the header and its button go with the rebuild.
    view->model().setMode(LogsModel::GroupMode::job);
    settle();
    QPointer<QToolButton> button =
        list()->itemWidget(section(QStringLiteral("Feature")), 0)->findChild<QToolButton*>(QStringLiteral("jobHeader.menu"));
    ASSERT_TRUE(button);
    action(button->menu(), QStringLiteral("job.delete"))->trigger();
    settle();
    EXPECT_TRUE(button.isNull());
    EXPECT_TRUE(projects->jobs().isEmpty());
    EXPECT_FALSE(projects->activeJob());
    EXPECT_TRUE(fs::exists(kept.directory));
    EXPECT_FALSE(logNamed("A001").project);
    EXPECT_EQ(sectionTitles(), QStringList{"Unfiled"});
}

TEST_F(LogsViewTests, ActiveJobMenuListsJobsAndSwitchesTheFilingJob) {
    projects->addJob(QStringLiteral("Feature"));
    projects->addJob(QStringLiteral("Commercial"));
    makeView();
    auto* button = view->findChild<QToolButton*>(QStringLiteral("logs.activeJob"));
    EXPECT_EQ(button->text(), QStringLiteral("Commercial"));
    QMenu* menu = button->menu();
    QStringList entries;
    for (QAction* a : menu->actions()) entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(entries, (QStringList{"Unfiled", "-", "Feature", "Commercial", "-", QString::fromUtf8("New Job…")}));
    EXPECT_EQ(action(menu, QStringLiteral("activeJob.job"), QStringLiteral("Commercial"))->property("symbol"),
              QStringLiteral("checkmark"));
    action(menu, QStringLiteral("activeJob.unfiled"))->trigger();
    settle();
    EXPECT_FALSE(projects->activeJob());
    EXPECT_EQ(button->text(), QStringLiteral("Unfiled"));
    // A new scan now files without a job; choosing a job files under it.
    action(button->menu(), QStringLiteral("activeJob.job"), QStringLiteral("Feature"))->trigger();
    ASSERT_TRUE(LogArchiveProvider::shared().archiveReport(scan("NEW", false)));
    AppEvents::postLogArchived();  // the list follows a newly filed log by itself
    ASSERT_TRUE(waitFor([&] { settle(); return rowItem("NEW") != nullptr; }));
    EXPECT_EQ(logNamed("NEW").project, "Feature");
}

TEST_F(LogsViewTests, ClickOpensTheLogAndTheMenusRevealIt) {
    ArchivedLog log = archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    makeView();
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    QTreeWidgetItem* item = list()->topLevelItem(0)->child(0);
    QRect rect = list()->visualItemRect(item);
    ASSERT_TRUE(rect.isValid());
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(opened, QStringList{qpath(log.primaryFile)});
    EXPECT_TRUE(fs::exists(log.primaryFile));

    std::unique_ptr<QMenu> menu(view->makeRowMenu(log));
    action(menu.get(), QStringLiteral("row.reveal"))->trigger();
    EXPECT_EQ(revealed, QStringList{qpath(log.primaryFile)});
    opened.clear();
    view->findChild<QPushButton*>(QStringLiteral("logs.reveal"))->click();
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QStringList{qpath(dataHome() / "Brindlecove" / "Logs")});
}

// A meta file on a shared logs drive that names a launcher of its own as the primary file:
// a click opens nothing and says so, and Reveal shows the run folder.
TEST_F(LogsViewTests, ALogWhoseMetaFileNamesALauncherOpensNothing) {
    ArchivedLog log = archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    const fs::path launcher = log.directory / "open-me.desktop";
    tessaline::testing::writeFile(launcher, "[Desktop Entry]\nType=Application\nExec=sh -c 'rm -rf ~'\n");
    fs::permissions(launcher, fs::perms::owner_all);
    std::string meta = tessaline::testing::readFile(log.directory / "meta.json");
    const std::string named = "\"" + log.primaryFile.filename().string() + "\"";
    ASSERT_NE(meta.find(named), std::string::npos);
    meta.replace(meta.find(named), named.size(), "\"open-me.desktop\"");
    tessaline::testing::writeFile(log.directory / "meta.json", meta);
    makeView();
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    QTreeWidgetItem* item = list()->topLevelItem(0)->child(0);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(item).center());
    EXPECT_TRUE(opened.isEmpty()) << opened.join(u',').toStdString();
    ASSERT_TRUE(view->model().message());
    EXPECT_EQ(*view->model().message(), QStringLiteral("This log has no file to open in %1.").arg(qpath(log.directory)));
    std::unique_ptr<QMenu> menu(view->makeRowMenu(store->logs().at(0)));
    action(menu.get(), QStringLiteral("row.reveal"))->trigger();
    EXPECT_EQ(revealed, QStringList{qpath(log.directory)});
}

// A machine with no file manager and no application launcher: opening or revealing a log
// says so in the saving bar, naming the path, instead of doing nothing visible.
TEST_F(LogsViewTests, OpenAndRevealWithNoLauncherSaySoNamingThePath) {
    const QByteArray path = qgetenv("PATH");
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const fs::path empty = sandbox.path() / "no-programs";
    fs::create_directories(empty);
    qputenv("PATH", QByteArray::fromStdString(empty.string()));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    struct Restore {
        QByteArray path, bus;
        ~Restore() {
            qputenv("PATH", path);
            if (!bus.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        }
    } restore{path, bus};

    ArchivedLog log = archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    makeView(true);
    auto* message = view->findChild<QLabel*>(QStringLiteral("logs.message"));
    ASSERT_TRUE(message);
    EXPECT_FALSE(message->isVisibleTo(view.get()));

    view->model().openLog(log);
    ASSERT_TRUE(waitFor([&] { return view->model().message().has_value(); }));
    EXPECT_EQ(*view->model().message(), QStringLiteral("No application could open %1.").arg(qpath(log.primaryFile)));
    settle();
    EXPECT_TRUE(message->isVisibleTo(view.get()));
    EXPECT_EQ(message->text(), *view->model().message());

    view->model().revealLog(log);
    ASSERT_TRUE(waitFor([&] { return view->model().message().has_value(); }));
    EXPECT_EQ(*view->model().message(), QStringLiteral("No file manager could show %1.").arg(qpath(log.primaryFile)));

    // A log whose meta file names no single file has nothing to open.
    ArchivedLog without = log;
    without.primaryFile.clear();
    view->model().openLog(without);
    EXPECT_EQ(*view->model().message(), QStringLiteral("This log has no file to open in %1.").arg(qpath(log.directory)));
}

// Deleting a log whose folder was replaced since it was listed removes nothing and says so.
TEST_F(LogsViewTests, DeletingALogThatChangedSinceListingIsRefusedAndTold) {
    ArchivedLog log = archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    makeView();
    ASSERT_EQ(store->logs().size(), 1u);
    const ArchivedLog listed = store->logs()[0];
    fs::rename(log.directory, sandbox.path() / "moved-run");
    fs::create_directories(log.directory);
    tessaline::testing::writeFile(log.directory / "keep", "other");

    view->model().deleteLog(listed);
    ASSERT_TRUE(waitFor([&] { return view->model().message().has_value(); }, 60'000));
    EXPECT_EQ(*view->model().message(), QStringLiteral("The log at %1 has changed since it was listed, so it was left "
                                                       "as it is.").arg(qpath(log.directory)));
    EXPECT_TRUE(fs::exists(log.directory / "keep"));
    settle();
    EXPECT_TRUE(view->findChild<QLabel*>(QStringLiteral("logs.message"))->isVisibleTo(view.get()));
}

TEST_F(LogsViewTests, ALongRowsTooltipNamesItWholeWithinTheScreen) {
    const std::string card = "A_CAM_" + std::string(190, 'x') + "_END";
    archive().archive(scan(card, false), std::nullopt, tessaline::nowEpoch());
    makeView();
    QTreeWidgetItem* row = rowItem("_END");
    ASSERT_NE(row, nullptr);
    list()->scrollToItem(row);
    const QRect rect = list()->visualItemRect(row);
    const auto tip = showToolTip(list()->viewport(), rect.center());
    ASSERT_TRUE(tip);
    EXPECT_TRUE(tip->text.contains(QString::fromStdString(card))) << tip->text.toStdString();
    EXPECT_LE(tip->geometry.width(), tip->screen.width());
    EXPECT_GT(tip->geometry.height(), 2 * QFontMetrics(QToolTip::font()).height()) << "wrapped onto several lines";
}

TEST_F(LogsViewTests, ManyLogsAreListedWithoutAWidgetPerRow) {
    LogArchive logs = archive();
    for (int i = 0; i < 300; ++i) {
        tessaline::LogMeta meta;
        meta.title = "CARD" + std::to_string(i);
        meta.subtitle = "Scan of CARD" + std::to_string(i);
        meta.summary = "0 confirmed";
        logs.fileRun(tessaline::LogKind::verify, 1.7e9 + i * 3600.0, std::nullopt, meta,
                     [](const fs::path&, const std::string&) {});
    }
    makeView();
    int rowsListed = 0;
    for (int i = 0; i < list()->topLevelItemCount(); ++i) rowsListed += list()->topLevelItem(i)->childCount();
    EXPECT_EQ(rowsListed, 300);
    EXPECT_TRUE(list()->viewport()->findChildren<QWidget*>().isEmpty());
    EXPECT_FALSE(view->grab().isNull());  // the rows paint
}

TEST_F(LogsViewTests, SaveLogsHereStoresTheFolderAndListsTheNewPlace) {
    archive().archive(copy("A001", 0), std::nullopt, tessaline::nowEpoch());
    makeView();
    auto* path = view->findChild<ElidedLabel*>(QStringLiteral("logs.folderPath"));
    EXPECT_EQ(path->fullText(), qpath(dataHome() / "Brindlecove" / "Logs"));

    auto* change = view->findChild<QPushButton*>(QStringLiteral("logs.change"));
    change->click();  // cancelled: nothing changes
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].prompt, QStringLiteral("Save Logs Here"));
    EXPECT_EQ(requests[0].message, QStringLiteral("Choose where Brindlecove saves scan and transfer logs."));
    EXPECT_TRUE(requests[0].canCreateFolders);
    // No folder chosen yet: the panel opens at home, never in the working directory.
    EXPECT_EQ(requests[0].startFolder, QDir::homePath());
    EXPECT_FALSE(defaults().contains(LogArchiveProvider::bookmarkKey));
    EXPECT_EQ(store->logs().size(), 1u);

    fs::path shoot = sandbox.path() / "Shoot";
    fs::create_directories(shoot);
    folderAnswer = qpath(shoot);
    change->click();
    settle();
    EXPECT_TRUE(defaults().data(LogArchiveProvider::bookmarkKey).has_value());
    EXPECT_EQ(defaults().string(LogArchiveProvider::pathKey), qpath(shoot / "Brindlecove Logs"));
    EXPECT_EQ(path->fullText(), qpath(shoot / "Brindlecove Logs"));
    EXPECT_TRUE(store->logs().empty());  // nothing moved from the old archive
    EXPECT_EQ(view->findChild<QStackedWidget*>()->currentWidget()->objectName(), QStringLiteral("logs.empty"));
    EXPECT_EQ(archive().list().size(), 1u);
    // The next panel opens at the chosen folder, so accepting it at once keeps the archive.
    folderAnswer.reset();
    change->click();
    EXPECT_EQ(requests.back().startFolder, qpath(shoot));

    // New logs now go to the chosen folder.
    ASSERT_TRUE(LogArchiveProvider::shared().archiveTransfer(copy("B001", 0)));
    view->model().refresh();
    settle();
    ASSERT_EQ(store->logs().size(), 1u);
    EXPECT_EQ(store->logs().front().directory.parent_path().parent_path(), shoot / "Brindlecove Logs");

    // A chosen folder that can't take a log (here its archive folder is a file): the log goes
    // to the default archive and the saving bar says where and why, until a log goes in again.
    auto* notice = view->findChild<QLabel*>(QStringLiteral("logs.filingNotice"));
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->isHidden());
    fs::rename(shoot / "Brindlecove Logs", sandbox.path() / "kept");
    tessaline::testing::writeFile(shoot / "Brindlecove Logs", "not a folder");
    auto filed = LogArchiveProvider::shared().fileTransfer(copy("C001", 0));
    ASSERT_TRUE(filed.log);
    EXPECT_EQ(filed.log->directory.parent_path().parent_path(), archive().baseDirectory());
    view->model().refresh();
    settle();
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->text(), QStringLiteral("The last log couldn't be saved here (Couldn't write %1: Not a directory.) "
                                             "\u2014 it was saved in %2 instead.")
                                  .arg(qpath(shoot / "Brindlecove Logs"), qpath(filed.log->directory)));
    EXPECT_EQ(path->fullText(), qpath(shoot / "Brindlecove Logs"));
    fs::remove(shoot / "Brindlecove Logs");
    fs::rename(sandbox.path() / "kept", shoot / "Brindlecove Logs");
    ASSERT_TRUE(LogArchiveProvider::shared().archiveTransfer(copy("D001", 0)));
    view->model().refresh();
    settle();
    EXPECT_TRUE(notice->isHidden());

    // A folder that can't be granted stores nothing and keeps the archive where it is.
    folderAnswer = qpath(sandbox.path() / "missing");
    change->click();
    settle();
    EXPECT_EQ(path->fullText(), qpath(shoot / "Brindlecove Logs"));
}

TEST(LogRowTexts, ACopyThatLeftCardFilesUnprovenIsNotProvenNotFailedAndCountsAreGrouped) {
    for (int64_t n : {1, 2, 1000}) {
        SCOPED_TRACE(n);
        const QString count = QLocale().toString(qint64(n));
        tessaline::ArchivedLog copied;
        copied.kind = tessaline::LogKind::transfer;
        copied.hasProblem = true;
        copied.counts = {{"verified", n}, {"present", 0}, {"unverified", 0}, {"failed", 0}, {"notProvenOnCard", n}};
        EXPECT_EQ(LogRowDelegate::problemWord(copied), QStringLiteral("not proven"));
        EXPECT_EQ(LogsModel::summaryText(copied),
                  count + QStringLiteral(" verified · 0 present · 0 failed · ") + count + QStringLiteral(" not proven on card"));
        copied.counts["failed"] = n;
        EXPECT_EQ(LogRowDelegate::problemWord(copied), QStringLiteral("failed")) << "a failure outranks it";

        tessaline::ArchivedLog scanned;
        scanned.kind = tessaline::LogKind::verify;
        scanned.counts = {{"confirmed", n}, {"missing", 0}, {"duplicates", 0}, {"nameMismatch", 0}};
        EXPECT_EQ(LogsModel::summaryText(scanned), count + QStringLiteral(" confirmed · 0 missing")) << "no \"0 duplicate\"";
        scanned.counts["duplicates"] = n;
        EXPECT_EQ(LogsModel::summaryText(scanned), count + QStringLiteral(" confirmed · 0 missing · ") + count +
                                                       (n == 1 ? QStringLiteral(" duplicate") : QStringLiteral(" duplicates")));
    }
    // A log filed without counts keeps its own summary.
    tessaline::ArchivedLog old;
    old.summary = "3 confirmed · 0 missing · 0 duplicate";
    EXPECT_EQ(LogsModel::summaryText(old), QString::fromStdString(old.summary));
}
