#include "Tessaline/Index/FingerprintIndex.hpp"

#include "Support/FingerprintAssertions.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

Fingerprint full(const std::string& path, int64_t size = 1234567) {
    return {.url = path,
            .byteSize = size,
            .captureDate = 1714566896.5,
            .duration = 12.34,
            .cameraMake = "Canon",
            .cameraModel = "EOS R5",
            .codec = "avc1",
            .width = 3840,
            .height = 2160,
            .hasCameraTimestamp = true,
            .timestampSource = TimestampSource::exifOriginal};
}

Fingerprint bare(const std::string& path, int64_t size = 10) {
    return {.url = path, .byteSize = size, .timestampSource = TimestampSource::none};
}

class FingerprintIndexTest : public SandboxedTest {
protected:
    fs::path dbPath = sandbox / "fingerprint-cache.db";

    // Runs SQL through the sqlite3 program on the same file, as another process would.
    std::string sql(const std::string& statement) {
        auto result = runCommand({"sqlite3", dbPath.string(), statement});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
        return result.output;
    }

    std::vector<std::pair<Fingerprint, EpochSeconds>> rows(const std::vector<std::string>& paths) {
        std::vector<std::pair<Fingerprint, EpochSeconds>> list;
        for (const auto& p : paths) list.emplace_back(full(p), 1000.0);
        return list;
    }
};

}  // namespace

TEST_F(FingerprintIndexTest, NewFileHasTheSchemaAtVersionOneInWalMode) {
    { FingerprintIndex index(dbPath); }
    EXPECT_EQ(sql("PRAGMA user_version;"), "1");
    EXPECT_EQ(sql("PRAGMA journal_mode;"), "wal");
    EXPECT_EQ(sql("SELECT name FROM sqlite_master WHERE type='index' AND name LIKE 'idx_%' ORDER BY name;"),
              "idx_capture\nidx_volume");
    std::string table = sql("SELECT sql FROM sqlite_master WHERE name='fingerprints';");
    EXPECT_NE(table.find("    has_camera_ts INTEGER NOT NULL DEFAULT 0,\n"), std::string::npos) << table;
    EXPECT_NE(table.find("UNIQUE(volume_label, file_path)"), std::string::npos);
}

TEST_F(FingerprintIndexTest, RowsSurviveReopeningAndReadBackWhole) {
    const std::string odd = "/media/card/bad-utf8-\xff.MOV";
    {
        FingerprintIndex index(dbPath);
        index.upsertBatch({{full("/media/card/A.MOV"), 1000.0}, {bare(odd), 2000.0}}, "EOS_DIGITAL");
    }
    FingerprintIndex index(dbPath);
    auto a = index.cachedFingerprint("EOS_DIGITAL", "/media/card/A.MOV", 1234567, 1000.0);
    ASSERT_TRUE(a);
    expectSameFingerprint(*a, full("/media/card/A.MOV"));
    auto b = index.cachedFingerprint("EOS_DIGITAL", odd, 10, 2000.0);
    ASSERT_TRUE(b);
    expectSameFingerprint(*b, bare(odd));
    EXPECT_FALSE(index.cachedFingerprint("OTHER", "/media/card/A.MOV", 1234567, 1000.0));
    EXPECT_EQ(index.count("EOS_DIGITAL"), 2);
    auto all = index.fingerprints("EOS_DIGITAL");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].url, "/media/card/A.MOV");  // by path
}

TEST_F(FingerprintIndexTest, TrustRuleNeedsSameSizeAndMtimeWithinOneAndAHalfSeconds) {
    FingerprintIndex index(dbPath);
    index.upsert(full("/c/x.jpg", 500), "CARD", 1000.0);
    EXPECT_TRUE(index.cachedFingerprint("CARD", "/c/x.jpg", 500, 1001.5));
    EXPECT_TRUE(index.cachedFingerprint("CARD", "/c/x.jpg", 500, 998.5));
    EXPECT_FALSE(index.cachedFingerprint("CARD", "/c/x.jpg", 500, 1001.5001));
    EXPECT_FALSE(index.cachedFingerprint("CARD", "/c/x.jpg", 501, 1000.0));
    EXPECT_FALSE(index.cachedFingerprint("CARD", "/c/x.jpg", 499, 1000.0));
    EXPECT_FALSE(index.cachedFingerprint("CARD", "/c/y.jpg", 500, 1000.0));
}

TEST_F(FingerprintIndexTest, UpsertKeepsTheRowIdAndRefreshesScannedAt) {
    FingerprintIndex index(dbPath);
    index.upsert(full("/c/x.jpg"), "CARD", 1000.0);
    std::string before = sql("SELECT id, scanned_at FROM fingerprints;");
    Fingerprint changed = bare("/c/x.jpg", 77);
    changed.captureDate = 5.0;
    changed.timestampSource = TimestampSource::filesystemDate;
    index.upsert(changed, "CARD", 2000.0);
    std::string after = sql("SELECT id, scanned_at FROM fingerprints;");
    EXPECT_EQ(before.substr(0, before.find('|')), after.substr(0, after.find('|')));
    EXPECT_NE(before, after);
    EXPECT_EQ(index.count("CARD"), 1);
    auto row = index.cachedFingerprint("CARD", "/c/x.jpg", 77, 2000.0);
    ASSERT_TRUE(row);
    expectSameFingerprint(*row, changed);
    EXPECT_EQ(sql("SELECT ts_source, make IS NULL, width IS NULL FROM fingerprints;"),
              "filesystem date (fallback)|1|1");
}

TEST_F(FingerprintIndexTest, FailedBatchCommitsNothingAndLeavesNoTransactionOpen) {
    FingerprintIndex index(dbPath);
    index.upsertBatch({}, "CARD");
    sql("CREATE TRIGGER refuse_c BEFORE INSERT ON fingerprints WHEN NEW.file_path = '/c' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    try {
        index.upsertBatch(rows({"/a", "/b", "/c"}), "CARD");
        FAIL() << "the third write should fail";
    } catch (const IndexError& error) {
        EXPECT_EQ(error.kind(), IndexError::Kind::sqliteError);
        EXPECT_EQ(error.code() & 0xFF, SQLITE_CONSTRAINT);
        EXPECT_STREQ(error.what(), ("SQLite error " + std::to_string(error.code()) + ": refused").c_str());
    }
    EXPECT_EQ(index.count("CARD"), 0);
    index.upsertBatch(rows({"/a", "/b"}), "CARD");
    EXPECT_EQ(sql("SELECT COUNT(*) FROM fingerprints;"), "2");  // committed, visible to others
}

TEST_F(FingerprintIndexTest, MatchCountComparesSizesOnly) {
    FingerprintIndex index(dbPath);
    index.upsertBatch({{full("/c/a", 1), 0.0}, {full("/c/b", 2), 0.0}, {full("/c/c", 3), 0.0}}, "CARD");
    EXPECT_EQ(index.matchCount("CARD", {{"/c/a", 1}, {"/c/b", 20}, {"/c/c", 3}, {"/c/d", 4}}), 2);
    EXPECT_EQ(index.matchCount("OTHER", {{"/c/a", 1}}), 0);
    // The in-place form over a scan's sorted list, path bytes that are not UTF-8 included.
    index.upsert(full("/c/\xff\xfe.mov", 5), "CARD", 0.0);
    const std::string odd = "/c/\xff\xfe.mov";
    EXPECT_EQ(index.matchCountSorted("CARD", {{"/c/a", 1}, {"/c/b", 20}, {"/c/c", 3}, {"/c/d", 4}, {odd, 5}}), 3);
    EXPECT_EQ(index.matchCountSorted("CARD", {}), 0);
}

TEST_F(FingerprintIndexTest, PruneStaysInsideTheRoot) {
    FingerprintIndex index(dbPath);
    for (const char* root : {"/media/card", "/media/card/"}) {
        index.clearAll();
        std::vector<std::pair<Fingerprint, EpochSeconds>> list;
        for (const char* p : {"/media/card", "/media/card/DCIM/gone.jpg", "/media/card/kept.jpg",
                              "/media/card2/sibling.jpg", "/elsewhere/x.jpg"})
            list.emplace_back(bare(p), 0.0);
        index.upsertBatch(list, "CARD");
        index.upsert(bare("/media/card/DCIM/gone.jpg"), "OTHER", 0.0);
        index.prune("CARD", root, {"/media/card/kept.jpg"});
        std::vector<std::string> left;
        for (const auto& f : index.fingerprints("CARD"))
            if (f.url != "/media/card") left.push_back(f.url.native());
        std::vector<std::string> expected{"/elsewhere/x.jpg", "/media/card/kept.jpg", "/media/card2/sibling.jpg"};
        EXPECT_EQ(left, expected) << root;
        EXPECT_EQ(index.count("OTHER"), 1);
    }
    // The root's own row goes only when the root is given as that exact path.
    index.upsert(bare("/media/card"), "CARD", 0.0);
    index.prune("CARD", "/media/card", {});
    EXPECT_FALSE(index.cachedFingerprint("CARD", "/media/card", 10, 0.0));
}

TEST_F(FingerprintIndexTest, ForeignRowsKeepTheTimestampInvariants) {
    { FingerprintIndex index(dbPath); }
    sql("INSERT INTO fingerprints (volume_label, file_path, byte_size, fs_mtime, capture_date, has_camera_ts, "
        "ts_source, width, height, scanned_at) VALUES "
        "('V', '/a', 1, 0, 99.0, 1, 'exif original', 99999999999, 10, 0),"
        "('V', '/b', 1, 0, NULL, 1, 'EXIF DateTimeOriginal', NULL, NULL, 0),"
        "('V', '/c', 1, 0, 50.0, 0, NULL, NULL, NULL, 0);");
    FingerprintIndex index(dbPath);
    for (const char* path : {"/a", "/b", "/c"}) {
        auto f = index.cachedFingerprint("V", path, 1, 0.0);
        ASSERT_TRUE(f) << path;
        EXPECT_EQ(f->timestampSource, TimestampSource::none) << path;
        EXPECT_FALSE(f->captureDate) << path;
        EXPECT_FALSE(f->hasCameraTimestamp) << path;
    }
    auto a = index.cachedFingerprint("V", "/a", 1, 0.0);
    EXPECT_FALSE(a->width);  // outside int's range
    EXPECT_EQ(a->height, 10);
}

TEST_F(FingerprintIndexTest, VersionZeroLosesItsTableVersionOneKeepsIt) {
    sql("CREATE TABLE fingerprints (id INTEGER PRIMARY KEY, path TEXT); INSERT INTO fingerprints (path) VALUES ('x');");
    {
        FingerprintIndex index(dbPath);
        EXPECT_EQ(index.count("CARD"), 0);
        index.upsert(full("/a"), "CARD", 0.0);
    }
    EXPECT_EQ(sql("PRAGMA user_version;"), "1");
    FingerprintIndex again(dbPath);
    EXPECT_EQ(again.count("CARD"), 1);

    sql("DROP INDEX idx_capture;");
    { FingerprintIndex repaired(dbPath); }
    EXPECT_EQ(sql("SELECT COUNT(*) FROM sqlite_master WHERE name = 'idx_capture';"), "1");
    EXPECT_EQ(sql("SELECT COUNT(*) FROM fingerprints;"), "1");

    sql("PRAGMA user_version = 7;");
    { FingerprintIndex newer(dbPath); }
    EXPECT_EQ(sql("PRAGMA user_version;"), "1");
}

TEST_F(FingerprintIndexTest, StatsAndClearAll) {
    FingerprintIndex index(dbPath);
    CacheStats empty = index.stats();
    EXPECT_TRUE(empty.volumes.empty());
    EXPECT_EQ(empty.totalRows, 0);
    EXPECT_EQ(empty.databaseBytes, static_cast<int64_t>(fs::file_size(dbPath)));

    EpochSeconds before = nowEpoch();
    index.upsertBatch(rows({"/1", "/2"}), "a-card");
    index.upsertBatch(rows({"/3"}), "B-CARD");
    CacheStats stats = index.stats();
    ASSERT_EQ(stats.volumes.size(), 2u);
    EXPECT_EQ(stats.volumes[0].label, "B-CARD");  // byte order: upper case first
    EXPECT_EQ(stats.volumes[0].fileCount, 1);
    EXPECT_EQ(stats.volumes[1].fileCount, 2);
    EXPECT_GE(stats.volumes[1].lastScanned.value_or(0), before);
    EXPECT_EQ(stats.totalRows, 3);

    index.clearAll();
    EXPECT_EQ(index.stats().totalRows, 0);
    EXPECT_EQ(sql("PRAGMA user_version;"), "1");
    EXPECT_EQ(index.stats().databaseBytes, static_cast<int64_t>(fs::file_size(dbPath)));
    index.clear("nothing");
}

TEST_F(FingerprintIndexTest, ClearRemovesOneLabel) {
    FingerprintIndex index(dbPath);
    index.upsertBatch(rows({"/1", "/2"}), "A");
    index.upsertBatch(rows({"/1"}), "B");
    index.clear("A");
    EXPECT_EQ(index.count("A"), 0);
    EXPECT_EQ(index.count("B"), 1);
}

TEST_F(FingerprintIndexTest, ForeignOrDamagedFileIsSetAsideAndReplaced) {
    std::string junk(8192, 'j');
    writeFile(dbPath, junk);
    writeFile(dbPath.native() + "-wal", "stale log");
    {
        FingerprintIndex index(dbPath);
        index.upsert(full("/a"), "CARD", 0.0);
        EXPECT_EQ(index.count("CARD"), 1);
    }
    std::optional<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(sandbox.path())) {
        const std::string& name = entry.path().native();
        if (name.find(".unreadable-") != std::string::npos && !name.ends_with("-wal") && !name.ends_with("-shm"))
            aside = entry.path();
    }
    ASSERT_TRUE(aside);
    EXPECT_TRUE(readFile(*aside) == junk);
    EXPECT_TRUE(readFile(aside->native() + "-wal") == "stale log");  // kept with its database
    EXPECT_FALSE(fs::exists(dbPath.native() + "-wal") && readFile(dbPath.native() + "-wal") == "stale log");

    // A real cache whose header was overwritten is treated the same way.
    fs::path second = sandbox / "second.db";
    { FingerprintIndex index(second); index.upsert(full("/a"), "CARD", 0.0); }
    std::string bytes = readFile(second);
    bytes.replace(0, 16, "not a database!!");
    writeFile(second, bytes);
    FingerprintIndex reopened(second);
    EXPECT_EQ(reopened.count("CARD"), 0);
}

TEST_F(FingerprintIndexTest, OpenFailureNamesThePath) {
    fs::path nowhere = sandbox / "missing-folder" / "cache.db";
    try {
        FingerprintIndex index(nowhere);
        FAIL();
    } catch (const IndexError& error) {
        EXPECT_EQ(error.kind(), IndexError::Kind::openFailed);
        EXPECT_EQ(std::string(error.what()), "Cannot open index at " + nowhere.string() + " (sqlite3 rc=14)");
    }
}

TEST_F(FingerprintIndexTest, AnotherWriterMakesWritesBusyWhileReadsGoOn) {
    FingerprintIndex index(dbPath);
    index.upsert(full("/a"), "CARD", 0.0);
    FingerprintIndex second(dbPath);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        index.upsertBatch(rows({"/b"}), "CARD");
        FAIL();
    } catch (const IndexError& error) {
        EXPECT_EQ(error.code(), SQLITE_BUSY);
    }
    EXPECT_THROW(second.prune("CARD", "/", {}), IndexError);
    EXPECT_TRUE(second.cachedFingerprint("CARD", "/a", 1234567, 0.0));
    EXPECT_EQ(second.matchCount("CARD", {{"/a", 1234567}}), 1);
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    index.upsertBatch(rows({"/b"}), "CARD");  // nothing was left open by the failures
    second.prune("CARD", "/", {"/b"});
    EXPECT_EQ(index.count("CARD"), 1);
}

TEST_F(FingerprintIndexTest, DefaultLocationIsThePrivateDataFolder) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedText = saved ? saved : "";
    setenv("XDG_DATA_HOME", (sandbox / "data").c_str(), 1);
    fs::path url = FingerprintIndex::defaultDatabaseURL();
    EXPECT_EQ(url, sandbox / "data" / "Brindlecove" / "fingerprint-cache.db");
    struct stat st{};
    ASSERT_EQ(stat(url.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    writeFile(sandbox / "file", "x");
    setenv("XDG_DATA_HOME", (sandbox / "file").c_str(), 1);
    EXPECT_THROW(FingerprintIndex::defaultDatabaseURL(), FileWriteError);
    if (saved)
        setenv("XDG_DATA_HOME", savedText.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
