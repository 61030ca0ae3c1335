#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Sync/SyncReportStore.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace tessaline;
using tessaline::testing::readFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;

namespace {

SyncReport::Run makeRun(EpochSeconds at, const std::string& source, const std::string& destination,
                        int newFiles = 2, int existing = 1, int failed = 0) {
    SyncReport::Run run;
    run.triggeredBy = SyncReport::Trigger::mount;
    run.sourcePath = source;
    run.destinationPath = destination;
    run.at = at;
    run.newFiles = newFiles;
    run.existingFiles = existing;
    run.failedFiles = failed;
    run.fileCount = newFiles + existing + failed;
    run.bytesCopied = 1500000;
    run.allVerified = failed == 0;
    return run;
}

const EpochSeconds kMarch1 = 1772373909;  // 2026-03-01T14:05:09Z

}  // namespace

class SyncReportStoreFile : public SandboxedTest {};

TEST_F(SyncReportStoreFile, AppendKeepsOrderWholeSecondsAndTheDeclaredKeyOrder) {
    SyncReportStore store(sandbox / "sub/sync-runs.json");
    EXPECT_TRUE(store.allRuns().empty());
    auto first = makeRun(kMarch1 + 0.75, "/media/crew/A001", "/media/crew/Backup");
    auto second = makeRun(kMarch1 + 60, "/media/crew/A002", "/media/crew/Backup");
    second.triggeredBy = SyncReport::Trigger::scheduled;
    EXPECT_FALSE(store.append(first));
    EXPECT_FALSE(store.append(second));

    auto runs = store.allRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].at, kMarch1);  // the fraction is not stored
    first.at = kMarch1;
    EXPECT_EQ(runs[0], first);
    EXPECT_EQ(runs[1], second);

    std::string text = readFile(store.storeURL());
    EXPECT_NE(text.find("\"at\": \"2026-03-01T14:05:09Z\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"triggeredBy\": \"scheduled\""), std::string::npos);
    const char* order[] = {"triggeredBy", "sourcePath", "destinationPath", "at", "fileCount", "newFiles",
                           "existingFiles", "failedFiles", "bytesCopied", "allVerified"};
    size_t last = 0;
    for (const char* key : order) {
        size_t at = text.find(std::string("\"") + key + "\"");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    store.clear();
    EXPECT_TRUE(store.allRuns().empty());
}

TEST_F(SyncReportStoreFile, AnUndecodableHistoryReadsEmptyAndIsKeptAsideBeforeTheNextAppend) {
    auto url = sandbox / "sync-runs.json";
    SyncReportStore writer(url);
    writer.append(makeRun(kMarch1, "/a", "/b"));
    std::string text = readFile(url);
    text.replace(text.find("\"mount\""), 7, "\"sync\"");  // unknown trigger spoils the whole array
    writeFile(url, text);

    std::vector<std::filesystem::path> told;
    SyncReportStore store(url, [&](const std::filesystem::path& p) { told.push_back(p); });
    EXPECT_TRUE(store.allRuns().empty());
    EXPECT_TRUE(store.report(0).runs.empty());
    auto aside = store.append(makeRun(kMarch1 + 10, "/c", "/d"));
    ASSERT_TRUE(aside);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], *aside);
    EXPECT_EQ(readFile(*aside), text);
    auto runs = store.allRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].sourcePath, "/c");

    for (const char* broken : {"[{\"triggeredBy\": \"mount\"}]", "{}", "[", "[{\"at\": 1}]"}) {
        writeFile(url, broken);
        EXPECT_TRUE(store.allRuns().empty()) << broken;
    }
    // A fractional date is not the file's form either.
    writer.clear();
    writer.append(makeRun(kMarch1, "/a", "/b"));
    text = readFile(url);
    text.replace(text.find("14:05:09Z"), 9, "14:05:09.5Z");
    writeFile(url, text);
    EXPECT_TRUE(store.allRuns().empty());
}

TEST_F(SyncReportStoreFile, ReportSumsTheWindowInclusivelyAndCountsDistinctCardsAndDrives) {
    SyncReportStore store(sandbox / "sync-runs.json");
    store.append(makeRun(kMarch1 - 1, "/old", "/x", 5, 5, 5));
    store.append(makeRun(kMarch1, "/card", "/drive1", 3, 1, 0));
    store.append(makeRun(kMarch1 + 30, "/card", "/drive2", 2, 0, 1));
    SyncReport report = store.report(kMarch1);
    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_EQ(report.windowStart, kMarch1);
    EXPECT_EQ(report.cardsProcessed(), 1);
    EXPECT_EQ(report.drivesSynced(), 2);
    EXPECT_EQ(report.newFiles(), 5);
    EXPECT_EQ(report.existingFiles(), 1);
    EXPECT_EQ(report.failedVerifications(), 1);
    EXPECT_EQ(report.totalBytesCopied(), 3000000);
    EXPECT_FALSE(report.allClean());

    report.generatedAt = kMarch1 + 3600;
    EXPECT_EQ(report.summary(),
              "Brindlecove — Daily Sync Report\n"
              "Window    : 2026-03-01T14:05:09Z → 2026-03-01T15:05:09Z\n"
              "\n"
              "Cards processed     : 1\n"
              "Drives synced       : 2\n"
              "New files copied    : 5\n"
              "Already present     : 1\n"
              "Failed verifications: 1\n"
              "Bytes copied        : 3 MB\n"
              "\n"
              "⚠ 1 verification failure — review the per-transfer logs.\n"
              "\n"
              "─────────────────────────────────────────\n"
              "✓ [mount] 2026-03-01T14:05:09Z  3 new files, 1 present, 0 failed\n"
              "    /card → /drive1\n"
              "✗ [mount] 2026-03-01T14:05:39Z  2 new files, 0 present, 1 failed\n"
              "    /card → /drive2");
    auto json = nlohmann::json::parse(report.json());
    EXPECT_EQ(json["windowStart"], "2026-03-01T14:05:09Z");
    EXPECT_EQ(json["runs"].size(), 2u);
}

TEST_F(SyncReportStoreFile, ARunNotProvenWholeKeepsTheReportFromBeingClean) {
    // A run stopped half-way: two files copied and proven, none failed, but not the card.
    SyncReport report;
    report.generatedAt = kMarch1 + 60;
    report.windowStart = kMarch1;
    report.runs = {makeRun(kMarch1, "/card", "/drive", 2, 0, 0)};
    EXPECT_TRUE(report.allClean());
    report.runs[0].allVerified = false;
    EXPECT_EQ(report.failedVerifications(), 0);
    EXPECT_EQ(report.unverifiedRuns(), 1);
    EXPECT_FALSE(report.allClean());
    std::string summary = report.summary();
    EXPECT_NE(summary.find("\n\n⚠ 1 run not fully verified — stopped, incomplete or copied without verification; "
                           "re-run it.\n"),
              std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("All synced files verified"), std::string::npos);
    EXPECT_NE(summary.find("✗ [mount] 2026-03-01T14:05:09Z  2 new files, 0 present, 0 failed"), std::string::npos);

    report.runs.push_back(report.runs[0]);
    EXPECT_NE(report.summary().find("⚠ 2 runs not fully verified — stopped, incomplete or copied without "
                                    "verification; re-run them."),
              std::string::npos);
    // A failed file takes precedence: its line names the failures.
    report.runs[1].failedFiles = 1;
    EXPECT_NE(report.summary().find("⚠ 1 verification failure — review the per-transfer logs."), std::string::npos);
}

TEST_F(SyncReportStoreFile, DefaultWindowStartsAtLocalMidnightAndAnEmptyReportIsClean) {
    SyncReportStore store(sandbox / "sync-runs.json");
    SyncReport empty = store.report();
    EXPECT_TRUE(empty.allClean());
    EXPECT_EQ(empty.cardsProcessed(), 0);
    EXPECT_TRUE(empty.summary().ends_with("\n\n✓ All synced files verified.")) << empty.summary();
    EXPECT_EQ(empty.summary().find("─"), std::string::npos);

    EpochSeconds midnight = localStartOfDay(nowEpoch());
    EXPECT_EQ(localDayStamp(midnight), localDayStamp(nowEpoch()));
    EXPECT_NE(localDayStamp(midnight - 1), localDayStamp(midnight));
    store.append(makeRun(midnight - 1, "/yesterday", "/d"));
    store.append(makeRun(midnight, "/today", "/d"));
    SyncReport today = store.report();
    EXPECT_EQ(today.windowStart, midnight);
    ASSERT_EQ(today.runs.size(), 1u);
    EXPECT_EQ(today.runs[0].sourcePath, "/today");
}

TEST_F(SyncReportStoreFile, ConcurrentAppendsFromTwoStoresLoseNoRun) {
    auto url = sandbox / "sync-runs.json";
    SyncReportStore a(url);
    SyncReportStore b(url);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                (t % 2 ? a : b).append(makeRun(kMarch1 + i, "/card" + std::to_string(t), "/d"));
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(a.allRuns().size(), 60u);
}

// A damaged history whose counts add past the limits: the day's totals stop at the limit of
// their type instead of wrapping into negatives.
TEST_F(SyncReportStoreFile, TotalsOfADamagedHistoryStopAtTheirLimitAndNeverWrap) {
    auto url = sandbox / "sync-runs.json";
    const std::string at = formatIso8601(kMarch1);
    auto run = [&](int64_t count, int64_t bytes) {
        const std::string n = std::to_string(count);
        return "{\"triggeredBy\": \"mount\", \"sourcePath\": \"/card\", \"destinationPath\": \"/drive\", \"at\": \"" +
               at + "\", \"fileCount\": " + n + ", \"newFiles\": " + n + ", \"existingFiles\": " + n +
               ", \"failedFiles\": " + n + ", \"bytesCopied\": " + std::to_string(bytes) + ", \"allVerified\": false}";
    };
    const int64_t nearLimit = INT32_MAX - 5;
    const int64_t manyBytes = INT64_MAX - 10;
    writeFile(url, "[" + run(nearLimit, manyBytes) + ", " + run(nearLimit, manyBytes) + "]");
    SyncReport report = SyncReportStore(url).report(kMarch1);
    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_EQ(report.newFiles(), INT32_MAX);
    EXPECT_EQ(report.existingFiles(), INT32_MAX);
    EXPECT_EQ(report.failedVerifications(), INT32_MAX);
    EXPECT_EQ(report.totalBytesCopied(), INT64_MAX);
    EXPECT_FALSE(report.allClean());
    EXPECT_NE(report.summary().find("New files copied    : 2147483647\n"), std::string::npos) << report.summary();

    // A negative count is damage too: the history does not decode, as for any bad record.
    writeFile(url, "[" + run(5, 100) + ", " + run(-1, 100) + "]");
    EXPECT_TRUE(SyncReportStore(url).report(kMarch1).runs.empty());
}
