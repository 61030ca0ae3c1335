#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ListingGate.hpp"

#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QSignalSpy>
#include <QTimer>

#include <memory>
#include <thread>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using brindlecove::testing::ListingGate;
using tessaline::ArchivedLog;
using tessaline::LogArchive;
using tessaline::LogKind;
using tessaline::LogMeta;
namespace fs = std::filesystem;

namespace {

tessaline::TransferLog emptyCopy() {
    tessaline::TransferLog log;
    log.sourceURL = "/media/u/A001";
    log.destinationURL = "/media/u/Backup/A001";
    log.startedAt = tessaline::nowEpoch() - 5;
    log.finishedAt = tessaline::nowEpoch();
    log.plannedFileCount = 0;
    log.plannedBytes = 0;
    return log;
}

// A run filed with its meta file only, at a chosen time and job.
ArchivedLog fileMeta(const LogArchive& archive, tessaline::EpochSeconds at, std::optional<std::string> project,
                     const std::string& title) {
    LogMeta meta;
    meta.title = title;
    meta.subtitle = "Scan of " + title;
    meta.summary = "0 confirmed \u00B7 0 missing \u00B7 0 duplicate";
    return archive.fileRun(LogKind::verify, at, project, meta, [](const fs::path&, const std::string&) {});
}

std::vector<std::string> titles(const std::vector<ArchivedLog>& logs) {
    std::vector<std::string> out;
    for (const ArchivedLog& log : logs) out.push_back(log.title);
    return out;
}

std::vector<QString> names(const std::vector<LogGroup>& groups) {
    std::vector<QString> out;
    for (const LogGroup& group : groups) out.push_back(group.first);
    return out;
}

}  // namespace

class LogStoreTests : public AppSandboxedTest {
protected:
    void TearDown() override {
        gate->open();
        EXPECT_TRUE(Executor::shared().waitForDone(60'000));
        AppSandboxedTest::TearDown();
    }

    fs::path defaultBase() const { return dataHome() / "Brindlecove" / "Logs"; }

    // Waits until the latest listing asked of the store has arrived.
    static bool listed(const LogStore& store) {
        return waitFor([&] { return !store.isListing(); }, 60'000);
    }

    std::shared_ptr<ListingGate> gate = std::make_shared<ListingGate>();
};

TEST_F(LogStoreTests, FilingACopyPostsLogArchivedAndTheStoreRelistsItUnderTheActiveJob) {
    LogStore store;
    EXPECT_TRUE(store.logs().empty());
    EXPECT_EQ(store.folderPath(), qpath(defaultBase()));

    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    LogArchiveProvider::shared().fileInBackground(emptyCopy());
    ASSERT_TRUE(waitFor([&] { return store.logs().size() == 1; }));
    EXPECT_EQ(archived.count(), 1);
    const ArchivedLog& unfiled = store.logs().front();
    EXPECT_FALSE(unfiled.project);
    EXPECT_TRUE(tessaline::isSameOrBelow(unfiled.directory, defaultBase()));
    EXPECT_EQ(unfiled.kind, LogKind::transfer);

    ProjectStore jobs;
    jobs.addJob(QStringLiteral("  Feature "));
    std::optional<ArchivedLog> filed = LogArchiveProvider::shared().archiveTransfer(emptyCopy());
    ASSERT_TRUE(filed);
    EXPECT_EQ(filed->project, "Feature");
}

TEST_F(LogStoreTests, AFailedFilingStillPostsAndGivesNothing) {
    tessaline::testing::writeFile(defaultBase(), "a file where the archive belongs");
    LogStore store;
    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    EXPECT_FALSE(LogArchiveProvider::shared().archiveTransfer(emptyCopy()));
    LogArchiveProvider::shared().fileInBackground(emptyCopy());
    ASSERT_TRUE(waitFor([&] { return archived.count() == 1; }));
    EXPECT_TRUE(store.logs().empty());
}

TEST_F(LogStoreTests, APostFromAnyThreadRelistsOnTheMainThreadInALaterTurn) {
    LogStore store;
    ASSERT_TRUE(listed(store));
    QSignalSpy relisted(&store, &LogStore::logsChanged);
    LogArchive archive = LogArchive::defaultArchive();
    std::thread([&] {
        fileMeta(archive, tessaline::nowEpoch(), std::nullopt, "CARD");
        AppEvents::postLogArchived();
    }).join();
    EXPECT_TRUE(store.logs().empty());
    ASSERT_TRUE(waitFor([&] { return store.logs().size() == 1; }));
    EXPECT_EQ(relisted.count(), 1);
}

TEST_F(LogStoreTests, LogsMoveBetweenJobsAndDeletingAJobUnfilesItsLogs) {
    LogArchive archive = LogArchive::defaultArchive();
    const double t = tessaline::epochFromUtc(2025, 3, 7, 12, 0, 0);
    fileMeta(archive, t, "A", "one");
    fileMeta(archive, t + 60, "A", "two");
    fileMeta(archive, t + 120, "B", "three");
    ProjectStore jobs;
    jobs.addJob(QStringLiteral("A"));
    jobs.addJob(QStringLiteral("B"));
    LogStore store;
    ASSERT_TRUE(listed(store));
    ASSERT_EQ(store.logs().size(), 3u);

    ArchivedLog one = store.logs()[2];
    ASSERT_EQ(one.title, "one");
    store.moveLog(one, QStringLiteral("B"));
    ASSERT_TRUE(listed(store));
    auto groups = store.groupedByJob(jobs.jobs());
    ASSERT_EQ(names(groups), (std::vector<QString>{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(titles(groups[0].second), std::vector<std::string>{"two"});
    EXPECT_EQ(titles(groups[1].second), (std::vector<std::string>{"three", "one"}));

    // "Delete Job (keeps its logs, unfiles them)".
    store.unfileLogs(QStringLiteral("B"));
    jobs.removeJob(QStringLiteral("B"));
    ASSERT_TRUE(listed(store));
    groups = store.groupedByJob(jobs.jobs());
    ASSERT_EQ(names(groups), (std::vector<QString>{QStringLiteral("A"), QStringLiteral("Unfiled")}));
    EXPECT_EQ(titles(groups[1].second), (std::vector<std::string>{"three", "one"}));
    for (const ArchivedLog& log : groups[1].second) EXPECT_FALSE(log.project);

    store.deleteLog(groups[0].second.front());
    ASSERT_TRUE(listed(store));
    EXPECT_EQ(store.logs().size(), 2u);
}

// Changes asked for in a row happen in that order, and a listing asked for after them shows
// their outcome.
TEST_F(LogStoreTests, ChangesHappenInTheOrderAskedAndTheListAfterThemShowsThem) {
    LogArchive archive = LogArchive::defaultArchive();
    const double t = tessaline::epochFromUtc(2025, 3, 7, 12, 0, 0);
    const ArchivedLog one = fileMeta(archive, t, std::nullopt, "one");
    const ArchivedLog two = fileMeta(archive, t + 60, "A", "two");
    LogStore store;
    for (int round = 0; round < 20; ++round) {
        store.moveLog(one, QStringLiteral("B"));
        store.moveLog(one, QStringLiteral("C"));
        store.moveLog(two, std::nullopt);
        store.moveLog(two, QStringLiteral("A"));
        store.refresh();
    }
    store.deleteLog(two);
    store.refresh();
    ASSERT_TRUE(listed(store));
    ASSERT_EQ(titles(store.logs()), std::vector<std::string>{"one"});
    EXPECT_EQ(store.logs()[0].project, "C");
    EXPECT_FALSE(fs::exists(two.directory));
}

// A logs folder that stops answering holds only the worker that lists it.
TEST_F(LogStoreTests, AListingThatDoesNotReturnLeavesTheWindowFreeAndItsListArrivesWhenItDoes) {
    const ArchivedLog card = fileMeta(LogArchive::defaultArchive(), tessaline::nowEpoch(), std::nullopt, "CARD");
    LogStore store(LogArchiveProvider::shared(), ListingGate::holding(gate));
    ASSERT_TRUE(waitFor([&] { return gate->entered == 1; }));
    // The store is made, refreshes and changes return at once, and the event loop turns.
    store.refresh();
    store.moveLog(card, QStringLiteral("Feature"));
    bool turned = false;
    QTimer::singleShot(0, &store, [&] { turned = true; });
    ASSERT_TRUE(waitFor([&] { return turned; }));
    ASSERT_TRUE(waitFor([&] { return gate->entered == 3; }));
    EXPECT_FALSE(store.hasListed());
    EXPECT_TRUE(store.isListing());
    EXPECT_TRUE(store.logs().empty());

    QSignalSpy arrived(&store, &LogStore::logsChanged);
    gate->open();
    ASSERT_TRUE(listed(store));
    EXPECT_TRUE(store.hasListed());
    EXPECT_GE(arrived.count(), 1);
    ASSERT_EQ(titles(store.logs()), std::vector<std::string>{"CARD"});
    EXPECT_EQ(store.logs()[0].project, "Feature");
}

TEST_F(LogStoreTests, ANewerListingSupersedesAnOlderOneThatArrivesAfterIt) {
    LogStore store(LogArchiveProvider::shared(), ListingGate::holdingTheFirst(gate));
    ASSERT_TRUE(waitFor([&] { return gate->entered == 1; }));  // the first has read an empty archive
    fileMeta(LogArchive::defaultArchive(), tessaline::nowEpoch(), std::nullopt, "CARD");
    store.refresh();
    ASSERT_TRUE(listed(store));
    ASSERT_EQ(titles(store.logs()), std::vector<std::string>{"CARD"});

    QSignalSpy arrived(&store, &LogStore::logsChanged);
    gate->open();
    ASSERT_TRUE(Executor::shared().waitForDone(60'000));
    drainEvents();  // the old, empty list comes back now and is dropped
    EXPECT_EQ(arrived.count(), 0);
    EXPECT_EQ(titles(store.logs()), std::vector<std::string>{"CARD"});
}

TEST_F(LogStoreTests, AStoreDestroyedWhileItsWorkersRunIsLeftAlone) {
    const ArchivedLog card = fileMeta(LogArchive::defaultArchive(), tessaline::nowEpoch(), std::nullopt, "CARD");
    auto store = std::make_unique<LogStore>(LogArchiveProvider::shared(), ListingGate::holding(gate));
    store->deleteLog(card);
    ASSERT_TRUE(waitFor([&] { return gate->entered == 2; }));  // the first listing and the deletion's
    store.reset();
    gate->open();
    ASSERT_TRUE(Executor::shared().waitForDone(60'000));
    drainEvents();  // their results find no store
    EXPECT_FALSE(fs::exists(card.directory)) << "the deletion asked for still happened";
}

TEST_F(LogStoreTests, GroupsByJobWithEmptyJobsAndUnfiledLastAndByDayNewestFirst) {
    LogStore store;
    auto groups = store.groupedByJob({QStringLiteral("b"), QStringLiteral("A")});
    EXPECT_EQ(names(groups), (std::vector<QString>{QStringLiteral("A"), QStringLiteral("b")}));
    for (const LogGroup& group : groups) EXPECT_TRUE(group.second.empty());

    LogArchive archive = LogArchive::defaultArchive();
    const double day1 = tessaline::epochFromUtc(2025, 3, 6, 10, 0, 0);
    const double day2 = tessaline::epochFromUtc(2025, 3, 7, 10, 0, 0);
    fileMeta(archive, day1, std::nullopt, "early");
    fileMeta(archive, day2, std::nullopt, "late");
    fileMeta(archive, day2 + 30, "zeta", "later");
    store.refresh();
    ASSERT_TRUE(listed(store));
    groups = store.groupedByJob({QStringLiteral("b"), QStringLiteral("A")});
    EXPECT_EQ(names(groups), (std::vector<QString>{QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("zeta"),
                                                   QStringLiteral("Unfiled")}));
    EXPECT_EQ(titles(groups.back().second), (std::vector<std::string>{"late", "early"}));

    auto days = store.groupedByDay();
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].first, QStringLiteral("2025-03-07"));
    EXPECT_EQ(titles(days[0].second), (std::vector<std::string>{"later", "late"}));
    EXPECT_EQ(days[1].first, QStringLiteral("2025-03-06"));
}
