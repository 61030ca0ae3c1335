#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Report/LogMeta.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <ctime>

using namespace tessaline;
using tessaline::testing::readFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {

// Seconds since 1970 of a local wall-clock time, whatever the machine's zone.
EpochSeconds localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<EpochSeconds>(std::mktime(&tm));
}

LogMeta sampleMeta(const std::string& title) {
    LogMeta meta;
    meta.title = title;
    meta.subtitle = "CARD → " + title;
    meta.summary = "3 verified · 0 present · 0 failed";
    meta.counts = {{"verified", 3}, {"present", 0}, {"unverified", 0}, {"failed", 0}};
    return meta;
}

// Stands in for the exporters: writes the four files of a copy run under the stem.
void writeTransferExports(const fs::path& folder, const std::string& stem, const std::string& marker) {
    for (const char* ext : {".csv", ".json", ".mhl", ".pdf"}) writeFile(folder / (stem + ext), marker);
}

Fingerprint clipFile(const std::string& path, int64_t size) {
    Fingerprint fp{.url = path, .byteSize = size};
    fp.timestampSource = TimestampSource::none;
    return fp;
}

MatchResult clip(const std::string& path, MatchStatus status) {
    return {ClipGroup{{clipFile(path, 1000)}, {}, ClipGroup::Kind::still}, std::move(status)};
}

VerificationReport scanReport(std::vector<MatchResult> results, std::vector<fs::path> unreadable = {}) {
    const VolumeIdentity card{.uuid = "2A9C-A474", .name = "EOS_DIGITAL"};
    return VerificationReport("/media/crew/EOS_DIGITAL", {"/media/crew/BACKUP"}, epochFromUtc(2025, 6, 1, 9, 30, 0),
                              std::move(results), card, std::move(unreadable));
}

class LogArchiveTest : public SandboxedTest {
protected:
    LogArchive archive{sandbox / "Logs"};

    ArchivedLog file(LogKind kind, EpochSeconds at, const std::string& marker,
                     std::optional<std::string> project = std::nullopt) {
        return archive.fileRun(kind, at, project, sampleMeta(marker),
                               [&](const fs::path& folder, const std::string& stem) {
                                   writeTransferExports(folder, stem, marker);
                               });
    }
};

}  // namespace

TEST_F(LogArchiveTest, FilesARunUnderItsLocalDayAndTimeWithMetaInDeclarationOrder) {
    EpochSeconds at = localTime(2025, 3, 7, 17, 14, 55);
    ArchivedLog log = file(LogKind::transfer, at + 0.4, "first", "  Feature Film \n");
    fs::path folder = sandbox / "Logs/2025-03-07/transfer-171455";
    EXPECT_EQ(log.directory, folder);
    EXPECT_EQ(log.id, folder.string());
    EXPECT_EQ(log.primaryFile, folder / "transfer-171455.pdf");
    EXPECT_EQ(log.date, at);
    EXPECT_EQ(log.project, "Feature Film");
    std::vector<fs::path> expected = {folder / "transfer-171455.csv", folder / "transfer-171455.json",
                                      folder / "transfer-171455.mhl", folder / "transfer-171455.pdf"};
    EXPECT_EQ(log.files, expected);

    std::string meta = readFile(folder / "meta.json");
    size_t last = 0;
    for (const char* key : {"kind", "date", "title", "subtitle", "summary", "counts", "hasProblem",
                            "primaryFileName", "project"}) {
        size_t where = meta.find(std::string("\"") + key + "\"");
        ASSERT_NE(where, std::string::npos) << key;
        EXPECT_GT(where, last) << key;
        last = where;
    }
    EXPECT_NE(meta.find("\"date\": \"" + formatIso8601(at) + "\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"primaryFileName\": \"transfer-171455.pdf\""), std::string::npos);

    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], log);
    EXPECT_EQ(listed[0].dayKey(), "2025-03-07");
}

TEST_F(LogArchiveTest, RunsInTheSameSecondNeverShareAFolder) {
    EpochSeconds at = localTime(2025, 3, 7, 9, 0, 1);
    ArchivedLog first = file(LogKind::transfer, at, "first");
    ArchivedLog second = file(LogKind::transfer, at + 0.9, "second");
    ArchivedLog third = file(LogKind::transfer, at, "third");
    ArchivedLog scan = file(LogKind::verify, at, "scan");
    EXPECT_EQ(first.directory.filename(), "transfer-090001");
    EXPECT_EQ(second.directory.filename(), "transfer-090001-2");
    EXPECT_EQ(third.directory.filename(), "transfer-090001-3");
    EXPECT_EQ(scan.directory.filename(), "verify-090001");
    EXPECT_EQ(second.primaryFile.filename(), "transfer-090001-2.pdf");
    // The earlier run's files are untouched.
    EXPECT_EQ(readFile(first.directory / "transfer-090001.pdf"), "first");
    EXPECT_EQ(readFile(second.directory / "transfer-090001-2.pdf"), "second");
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 4u);
    for (const auto& log : listed) EXPECT_EQ(log.date, at);
}

TEST_F(LogArchiveTest, BlankProjectIsNoneAndSetProjectChangesOnlyThatKey) {
    EpochSeconds at = localTime(2025, 3, 7, 10, 0, 0);
    ArchivedLog log = file(LogKind::verify, at, "scan", " \t ");
    EXPECT_FALSE(log.project);
    EXPECT_EQ(log.projectKey(), "Unfiled");
    fs::path metaPath = log.directory / "meta.json";
    EXPECT_EQ(readFile(metaPath).find("project"), std::string::npos);

    // A key written by another version survives re-filing.
    std::string meta = readFile(metaPath);
    meta.insert(meta.find("\"title\""), "\"future\": [1, 2],\n  ");
    writeFile(metaPath, meta);

    archive.setProject(log, std::optional<std::string>(" Commercial "));
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].project, "Commercial");
    EXPECT_EQ(listed[0].projectKey(), "Commercial");
    EXPECT_NE(readFile(metaPath).find("\"future\""), std::string::npos);

    archive.setProject(listed[0], std::nullopt);
    std::string after = readFile(metaPath);
    EXPECT_EQ(after.find("project"), std::string::npos);
    EXPECT_NE(after.find("\"future\""), std::string::npos);
    auto relisted = archive.list();
    ASSERT_EQ(relisted.size(), 1u);
    log.project = std::nullopt;
    EXPECT_EQ(relisted[0].title, log.title);
    EXPECT_EQ(relisted[0].counts, log.counts);
    EXPECT_FALSE(relisted[0].project);

    writeFile(metaPath, "{ damaged");
    EXPECT_THROW(archive.setProject(log, std::optional<std::string>("X")), LogArchiveError);
    EXPECT_EQ(readFile(metaPath), "{ damaged");
}

TEST_F(LogArchiveTest, ListSkipsForeignItemsIncludesHiddenFilesAndSortsNewestFirstStably) {
    EXPECT_TRUE(archive.list().empty());  // no base folder yet
    EXPECT_FALSE(fs::exists(sandbox / "Logs"));

    EpochSeconds early = localTime(2025, 3, 6, 23, 59, 59);
    EpochSeconds late = localTime(2025, 3, 7, 8, 0, 0);
    ArchivedLog a = file(LogKind::transfer, early, "a");
    ArchivedLog b = file(LogKind::verify, late, "b");
    ArchivedLog c = file(LogKind::transfer, late, "c");
    writeFile(a.directory / ".hidden", "x");
    fs::create_directories(a.directory / "sub");

    fs::path day = sandbox / "Logs/2025-03-07";
    writeFile(day / "stray.txt", "not a run");
    writeFile(sandbox / "Logs/stray-in-base.txt", "not a day");
    fs::create_directories(day / "verify-000000");  // partial run: exports, no meta
    writeFile(day / "verify-000000/verify-000000.csv", "x");
    auto foreign = [&](const std::string& name, const std::string& from, const std::string& to) {
        std::string text = readFile(c.directory / "meta.json");
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        writeFile(day / name / "meta.json", text);
    };
    foreign("sync-run", "\"transfer\"", "\"sync\"");
    foreign("fractional", "Z\"", ".250Z\"");
    foreign("no-title", "\"title\"", "\"heading\"");
    foreign("string-count", "\"verified\": 3", "\"verified\": \"3\"");

    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[2], archive.list()[2]);
    EXPECT_EQ(listed[2].directory, a.directory);
    EXPECT_EQ(listed[0].date, late);
    EXPECT_EQ(listed[1].date, late);
    std::vector<fs::path> files = {a.directory / ".hidden", a.directory / "sub",
                                   a.directory / "transfer-235959.csv", a.directory / "transfer-235959.json",
                                   a.directory / "transfer-235959.mhl", a.directory / "transfer-235959.pdf"};
    EXPECT_EQ(listed[2].files, files);
    EXPECT_EQ(listed[2].dayKey(), "2025-03-06");
}

TEST_F(LogArchiveTest, DeleteRemovesTheRunFolderOnly) {
    EpochSeconds at = localTime(2025, 3, 7, 12, 0, 0);
    ArchivedLog keep = file(LogKind::verify, at, "keep");
    ArchivedLog gone = file(LogKind::transfer, at, "gone");
    archive.deleteLog(gone);
    EXPECT_FALSE(fs::exists(gone.directory));
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].directory, keep.directory);
}

TEST_F(LogArchiveTest, AFailingExportStopsTheFilingAndLeavesNoRunFolder) {
    EpochSeconds at = localTime(2025, 3, 7, 12, 0, 0);
    try {
        archive.fileRun(LogKind::transfer, at, std::nullopt, sampleMeta("x"),
                        [](const fs::path& folder, const std::string& stem) {
                            writeFile(folder / (stem + ".csv"), "partial");
                            throw FileWriteError(folder / (stem + ".pdf"), ENOSPC);
                        });
        ADD_FAILURE() << "a failed export filed the log";
    } catch (const FileWriteError& error) {
        // The error names the file where the user would look for it.
        EXPECT_EQ(error.path(), sandbox / "Logs/2025-03-07/transfer-120000/transfer-120000.pdf");
    }
    EXPECT_TRUE(archive.list().empty());
    EXPECT_FALSE(fs::exists(sandbox / "Logs/2025-03-07/transfer-120000"));
    EXPECT_TRUE(fs::exists(sandbox / "Logs/2025-03-07"));
}

TEST_F(LogArchiveTest, AScanIsFiledWithItsThreeExportsAndCounts) {
    EpochSeconds at = localTime(2025, 6, 1, 11, 30, 5);
    VerificationReport report = scanReport({
        clip("/media/crew/EOS_DIGITAL/A.MOV", MatchStatus::confirmed("/media/crew/BACKUP/A.MOV")),
        clip("/media/crew/EOS_DIGITAL/B.MOV", MatchStatus::possibleDuplicate({"/x/B.MOV", "/y/B.MOV"})),
        clip("/media/crew/EOS_DIGITAL/C.MOV", MatchStatus::possibleDuplicate({"/x/C.MOV", "/y/C.MOV"})),
    });
    ArchivedLog log = archive.archive(report, std::nullopt, at);
    EXPECT_EQ(log.directory, sandbox / "Logs/2025-06-01/verify-113005");
    EXPECT_EQ(log.kind, LogKind::verify);
    EXPECT_EQ(log.title, "EOS_DIGITAL");
    EXPECT_EQ(log.subtitle, "Scan of EOS_DIGITAL");
    EXPECT_EQ(log.summary, "1 confirmed · 0 missing · 2 duplicates");
    std::map<std::string, int64_t> counts = {{"confirmed", 1}, {"missing", 0}, {"duplicates", 2}, {"nameMismatch", 0}};
    EXPECT_EQ(log.counts, counts);
    EXPECT_FALSE(log.hasProblem);  // duplicates count as backed up
    std::vector<fs::path> files = {log.directory / "verify-113005.csv", log.directory / "verify-113005.json",
                                   log.directory / "verify-113005.pdf"};
    EXPECT_EQ(log.files, files);
    EXPECT_EQ(log.primaryFile, files[2]);
    EXPECT_EQ(readFile(files[2]).substr(0, 5), "%PDF-");
    EXPECT_EQ(archive.list().at(0), log);
}

TEST_F(LogArchiveTest, AScanWithMissingMismatchedOrUnreadContentsHasAProblem) {
    EpochSeconds at = localTime(2025, 6, 1, 11, 30, 5);
    auto confirmed = clip("/media/crew/EOS_DIGITAL/A.MOV", MatchStatus::confirmed("/b/A.MOV"));
    EXPECT_TRUE(archive.archive(scanReport({confirmed, clip("/c/B.MOV", MatchStatus::missing())}), std::nullopt, at)
                    .hasProblem);
    EXPECT_TRUE(archive.archive(scanReport({confirmed, clip("/c/C.MOV", MatchStatus::nameMatchMetadataMismatch("/b/C.MP4"))}),
                                std::nullopt, at)
                    .hasProblem);
    EXPECT_TRUE(archive.archive(scanReport({confirmed}, {"/media/crew/EOS_DIGITAL/DCIM/101"}), std::nullopt, at).hasProblem);
    EXPECT_FALSE(archive.archive(scanReport({confirmed}), std::nullopt, at).hasProblem);
    EXPECT_EQ(archive.list().size(), 4u);

    // Other files: only on the card is a problem, counted in meta.json; proven ones are not.
    VerificationReport withOthers = scanReport({confirmed});
    withOthers.otherFiles = {{"/media/crew/EOS_DIGITAL/NOTES.TXT", 10, OtherFile::Role::other, std::nullopt},
                             {"/media/crew/EOS_DIGITAL/INDEX.BDM", 10, OtherFile::Role::other, fs::path("/b/INDEX.BDM")}};
    auto filed = archive.archive(withOthers, std::nullopt, at);
    EXPECT_TRUE(filed.hasProblem);
    auto meta = LogMeta::fromJson(nlohmann::json::parse(readFile(filed.directory / "meta.json")));
    EXPECT_EQ(meta.counts["otherFiles"], 2);
    EXPECT_EQ(meta.counts["otherFilesOnlyOnCard"], 1);
    EXPECT_EQ(meta.summary, "1 confirmed · 0 missing · 1 other only on card");
    withOthers.otherFiles[0].provenAt = "/b/NOTES.TXT";
    EXPECT_FALSE(archive.archive(withOthers, std::nullopt, at).hasProblem);
}

namespace {

TransferLog copyLog(int planned, std::vector<CopyEngine::FileStatus> statuses, bool cancelled = false) {
    TransferLog log;
    log.sourceURL = "/media/crew/EOS_DIGITAL";
    log.destinationURL = "/media/crew/BACKUP/Day 1";
    log.startedAt = epochFromUtc(2025, 3, 7, 16, 0, 0);
    log.finishedAt = log.startedAt + 30;
    log.wasCancelled = cancelled;
    log.plannedFileCount = planned;
    log.plannedBytes = planned * 1000;
    int i = 0;
    for (const auto& status : statuses) {
        CopyEngine::FileOutcome outcome;
        outcome.relativePath = "DCIM/C000" + std::to_string(i) + ".MP4";
        outcome.sourceURL = log.sourceURL / outcome.relativePath;
        outcome.destinationURL = log.destinationURL / outcome.relativePath;
        outcome.byteSize = 1000;
        outcome.status = status;
        outcome.sourceChecksum = "0123456789abcdef";
        if (status.isVerifiedPass()) outcome.destinationChecksum = "0123456789abcdef";
        outcome.startedAt = log.startedAt + i;
        outcome.finishedAt = log.startedAt + i + 1;
        log.outcomes.push_back(outcome);
        ++i;
    }
    return log;
}

}  // namespace

TEST_F(LogArchiveTest, ACopyIsFiledWithItsFourExportsAndCounts) {
    using S = CopyEngine::FileStatus;
    EpochSeconds at = localTime(2025, 3, 7, 17, 14, 55);
    TransferLog log = copyLog(4, {S::copiedVerified(), S::copiedVerified(), S::skippedAlreadyPresent(), S::copiedNotVerified()});
    ArchivedLog filed = archive.archive(log, std::optional<std::string>("Feature"), at);
    fs::path folder = sandbox / "Logs/2025-03-07/transfer-171455";
    EXPECT_EQ(filed.directory, folder);
    EXPECT_EQ(filed.title, "Day 1");
    EXPECT_EQ(filed.subtitle, "EOS_DIGITAL → Day 1");
    EXPECT_EQ(filed.summary, "2 verified · 1 present · 0 failed");
    std::map<std::string, int64_t> counts = {{"verified", 2}, {"present", 1}, {"unverified", 1}, {"failed", 0},
                                             {"notProvenOnCard", 0}};
    EXPECT_EQ(filed.counts, counts);
    EXPECT_FALSE(filed.hasProblem);  // an unverified copy alone is no problem
    std::vector<fs::path> files = {folder / "transfer-171455.csv", folder / "transfer-171455.json",
                                   folder / "transfer-171455.mhl", folder / "transfer-171455.pdf"};
    EXPECT_EQ(filed.files, files);
    EXPECT_EQ(readFile(folder / "transfer-171455.csv").substr(0, 6), "status");
    EXPECT_EQ(readFile(folder / "transfer-171455.pdf").substr(0, 5), "%PDF-");
    EXPECT_EQ(archive.list().at(0), filed);
}

TEST_F(LogArchiveTest, StoppedIncompleteAndFailedCopiesAreFlaggedButAnEmptyOneIsNot) {
    using S = CopyEngine::FileStatus;
    EpochSeconds at = localTime(2025, 3, 7, 18, 0, 0);
    EXPECT_TRUE(archive.archive(copyLog(10, {S::copiedVerified(), S::copiedVerified()}, true), std::nullopt, at).hasProblem);
    EXPECT_TRUE(archive.archive(copyLog(3, {S::copiedVerified()}), std::nullopt, at).hasProblem);
    EXPECT_TRUE(archive.archive(copyLog(2, {S::copiedVerified(), S::failed("No space left on device")}), std::nullopt, at)
                    .hasProblem);
    EXPECT_TRUE(archive.archive(copyLog(1, {S::verificationFailed()}), std::nullopt, at).hasProblem);
    EXPECT_FALSE(archive.archive(copyLog(0, {}), std::nullopt, at).hasProblem);
    EXPECT_FALSE(archive.archive(copyLog(1, {S::copiedVerified()}), std::nullopt, at).hasProblem);
    EXPECT_EQ(archive.list().size(), 6u);
}

TEST_F(LogArchiveTest, AStoppedCopyIsMarkedStoppedInItsMetaAndListedSo) {
    using S = CopyEngine::FileStatus;
    EpochSeconds at = localTime(2025, 3, 7, 18, 0, 0);
    ArchivedLog stopped = archive.archive(copyLog(10, {S::copiedVerified()}, true), std::nullopt, at);
    ArchivedLog incomplete = archive.archive(copyLog(3, {S::copiedVerified()}), std::nullopt, at);
    EXPECT_TRUE(stopped.wasStopped);
    EXPECT_FALSE(incomplete.wasStopped);
    EXPECT_NE(readFile(stopped.directory / "meta.json").find("\"wasStopped\": true"), std::string::npos);
    // Logs that were not stopped keep the meta file they always had.
    EXPECT_EQ(readFile(incomplete.directory / "meta.json").find("wasStopped"), std::string::npos);
    for (const ArchivedLog& listed : archive.list())
        EXPECT_EQ(listed.wasStopped, listed.id == stopped.id) << listed.id;

    auto meta = nlohmann::json::parse(readFile(stopped.directory / "meta.json"));
    meta["wasStopped"] = "yes";
    EXPECT_THROW(LogMeta::fromJson(meta), std::invalid_argument);
}

TEST_F(LogArchiveTest, AScanFiledBeforeOtherFilesWereCountedStillLists) {
    // The meta.json and report JSON an earlier version wrote: four counts, no other files.
    const fs::path folder = sandbox / "Logs/2025-06-01/verify-113005";
    writeFile(folder / "verify-113005.json", "{\n  \"card_path\": \"/media/crew/EOS_DIGITAL\",\n  \"clips\": []\n}");
    writeFile(folder / "verify-113005.pdf", "%PDF-1.5");
    writeFile(folder / "meta.json",
              "{\n  \"kind\": \"verify\",\n  \"date\": \"2025-06-01T11:30:05Z\",\n  \"title\": \"EOS_DIGITAL\",\n"
              "  \"subtitle\": \"Scan of EOS_DIGITAL\",\n  \"summary\": \"3 confirmed · 0 missing · 0 duplicate\",\n"
              "  \"counts\": {\n    \"confirmed\": 3,\n    \"missing\": 0,\n    \"duplicates\": 0,\n    \"nameMismatch\": 0\n"
              "  },\n  \"hasProblem\": false,\n  \"primaryFileName\": \"verify-113005.pdf\"\n}");
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].title, "EOS_DIGITAL");
    EXPECT_FALSE(listed[0].hasProblem);
}
