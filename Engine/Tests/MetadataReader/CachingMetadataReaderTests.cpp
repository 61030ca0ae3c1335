#include "Tessaline/MetadataReader/CachingMetadataReader.hpp"

#include "Support/MediaFixtures.hpp"
#include "Support/FingerprintAssertions.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

// The real reader, counting how often it is asked.
class CountingReader final : public MetadataReader {
public:
    Fingerprint fingerprint(const fs::path& url) override {
        ++calls;
        return native.fingerprint(url);
    }
    NativeMetadataReader native;
    std::atomic<int> calls{0};
};

class CachingMetadataReaderTest : public SandboxedTest {
protected:
    fs::path dbPath = sandbox / "fingerprint-cache.db";
    std::shared_ptr<CountingReader> inner = std::make_shared<CountingReader>();
    std::vector<fs::path> files;

    void SetUp() override {
        makeJpeg(sandbox / "card/DCIM/IMG_0001.JPG", {"-DateTimeOriginal=2024:05:01 12:34:56", "-Make=Canon"});
        makeVideo(sandbox / "card/A001.MOV", {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:00:00Z"});
        makeAudio(sandbox / "card/ZOOM0001.WAV");
        writeFile(sandbox / "card/notes.txt", "not media\n");
        for (const char* name : {"DCIM/IMG_0001.JPG", "A001.MOV", "ZOOM0001.WAV", "notes.txt"})
            files.push_back(sandbox / "card" / name);
    }

    std::shared_ptr<FingerprintIndex> openIndex() { return std::make_shared<FingerprintIndex>(dbPath); }

    std::string sql(const std::string& statement) {
        auto result = runCommand({"sqlite3", dbPath.string(), statement});
        while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
        return result.output;
    }
};

}  // namespace

TEST_F(CachingMetadataReaderTest, SecondScanIsAnsweredFromTheCacheWithoutReadingFiles) {
    std::vector<Fingerprint> first;
    {
        CachingMetadataReader reader(inner, openIndex(), "EOS_DIGITAL", true, 500);
        for (const auto& f : files) first.push_back(reader.fingerprint(f));
        EXPECT_EQ(reader.cacheHits(), 0);
        reader.flush();
    }
    EXPECT_EQ(inner->calls.load(), 4);
    EXPECT_EQ(sql("SELECT COUNT(*) FROM fingerprints WHERE volume_label = 'EOS_DIGITAL';"), "4");

    CachingMetadataReader again(inner, openIndex(), "EOS_DIGITAL", true, 500);
    for (size_t i = 0; i < files.size(); ++i) expectSameFingerprint(again.fingerprint(files[i]), first[i]);
    EXPECT_EQ(again.cacheHits(), 4);
    EXPECT_EQ(inner->calls.load(), 4);
}

TEST_F(CachingMetadataReaderTest, FreshScanRereadsAndRewritesButHitsAreNotRewritten) {
    { CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500); for (const auto& f : files) reader.fingerprint(f); }
    sql("UPDATE fingerprints SET scanned_at = 1;");
    {
        CachingMetadataReader hits(inner, openIndex(), "CARD", true, 500);
        for (const auto& f : files) hits.fingerprint(f);
    }
    EXPECT_EQ(sql("SELECT MAX(scanned_at) FROM fingerprints;"), "1.0");  // a hit writes nothing
    {
        CachingMetadataReader fresh(inner, openIndex(), "CARD", false, 500);
        for (const auto& f : files) fresh.fingerprint(f);
        EXPECT_EQ(fresh.cacheHits(), 0);
    }
    EXPECT_EQ(inner->calls.load(), 8);
    EXPECT_EQ(sql("SELECT COUNT(*) FROM fingerprints WHERE scanned_at > 1;"), "4");
}

TEST_F(CachingMetadataReaderTest, WithoutAnIndexEverythingPassesThrough) {
    CachingMetadataReader reader(inner, nullptr, "CARD", true, 1);
    for (const auto& f : files) reader.fingerprint(f);
    for (const auto& f : files) reader.fingerprint(f);
    reader.flush();
    EXPECT_EQ(inner->calls.load(), 8);
    EXPECT_EQ(reader.cacheHits(), 0);
    EXPECT_FALSE(fs::exists(dbPath));
}

TEST_F(CachingMetadataReaderTest, FlushesEveryNRowsAndOnDestruction) {
    auto index = openIndex();
    {
        CachingMetadataReader reader(inner, index, "CARD", true, 3);
        reader.fingerprint(files[0]);
        reader.fingerprint(files[1]);
        EXPECT_EQ(index->count("CARD"), 0);
        reader.fingerprint(files[2]);
        EXPECT_EQ(index->count("CARD"), 3);
        reader.fingerprint(files[3]);
        EXPECT_EQ(index->count("CARD"), 3);
    }
    EXPECT_EQ(index->count("CARD"), 4);

    for (int every : {0, -5}) {
        index->clearAll();
        CachingMetadataReader reader(inner, index, "CARD", true, every);
        reader.fingerprint(files[0]);
        EXPECT_EQ(index->count("CARD"), 1) << every;
    }
}

TEST_F(CachingMetadataReaderTest, ChangedFileIsReadAgainAndItsRowReplaced) {
    const fs::path& jpeg = files[0];
    setModificationTime(jpeg, 1700000000.0);
    { CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500); reader.fingerprint(jpeg); }
    setModificationTime(jpeg, 1700000001.5);  // within the tolerance
    {
        CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500);
        reader.fingerprint(jpeg);
        EXPECT_EQ(reader.cacheHits(), 1);
    }
    setModificationTime(jpeg, 1700000002.0);
    {
        CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500);
        reader.fingerprint(jpeg);
        EXPECT_EQ(reader.cacheHits(), 0);
    }
    EXPECT_EQ(inner->calls.load(), 2);
    EXPECT_EQ(sql("SELECT fs_mtime FROM fingerprints;"), "1700000002.0");

    exiftool({"-Make=Nikon", jpeg.string()});  // the content changes, and with it size and time
    CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500);
    EXPECT_EQ(reader.fingerprint(jpeg).cameraMake, "Nikon");
}

TEST_F(CachingMetadataReaderTest, MissingFileIsStoredUnderSizeAndTimeZero) {
    fs::path gone = sandbox / "card/gone.MOV";
    {
        CachingMetadataReader reader(inner, openIndex(), "CARD", true, 500);
        auto f = reader.fingerprint(gone);
        EXPECT_EQ(f.timestampSource, TimestampSource::none);
    }
    EXPECT_EQ(sql("SELECT byte_size, fs_mtime, ts_source FROM fingerprints;"), "0|0.0|no timestamp");
}

TEST_F(CachingMetadataReaderTest, FailedWritesAreDroppedNotThrown) {
    auto index = openIndex();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    CachingMetadataReader reader(inner, index, "CARD", true, 2);
    reader.fingerprint(files[0]);
    EXPECT_NO_THROW(reader.fingerprint(files[1]));  // the write is refused: busy
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(index->count("CARD"), 0);
    reader.fingerprint(files[2]);
    reader.flush();
    EXPECT_EQ(index->count("CARD"), 1);  // the dropped batch is not retried
}

TEST_F(CachingMetadataReaderTest, SeveralThreadsThroughOneReader) {
    std::vector<fs::path> many;
    for (int i = 0; i < 40; ++i) {
        fs::path copy = sandbox / "card" / ("copy" + std::to_string(i) + files[i % 4].extension().string());
        fs::copy_file(files[i % 4], copy);
        many.push_back(copy);
    }
    auto index = openIndex();
    std::vector<Fingerprint> expected;
    NativeMetadataReader native;
    for (const auto& f : many) expected.push_back(native.fingerprint(f));

    for (bool useCache : {true, true, false}) {
        CachingMetadataReader reader(inner, index, "CARD", useCache, 7);
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([&, t] {
                for (size_t i = t; i < many.size() * 3; i += 6) {
                    size_t k = i % many.size();
                    Fingerprint f = reader.fingerprint(many[k]);
                    if (f.url != expected[k].url || f.captureDate != expected[k].captureDate ||
                        f.byteSize != expected[k].byteSize || f.codec != expected[k].codec)
                        ++wrong;
                }
            });
        for (auto& thread : threads) thread.join();
        reader.flush();
        EXPECT_EQ(wrong.load(), 0);
        EXPECT_EQ(index->count("CARD"), 40);
    }
}
