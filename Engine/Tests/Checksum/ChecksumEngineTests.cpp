#include "Tessaline/Checksum/ChecksumEngine.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Support/TestSandbox.hpp"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

constexpr int64_t MiB = 1024 * 1024;

std::string xxhsum(const fs::path& file) {
    CommandResult r = runCommand({"xxhsum", "-q", "-H1", file.string()});
    if (r.exitCode != 0) throw std::runtime_error("xxhsum failed: " + r.output);
    return r.output.substr(0, 16);
}

struct Calls {
    int cancelTests = 0;
    std::vector<std::pair<int64_t, int64_t>> progress;
};

std::string hashCounting(const ChecksumEngine& engine, const fs::path& file, Calls& calls, bool bypass = false) {
    return engine.hash(
        file, bypass, [&] { return ++calls.cancelTests, false; },
        [&](int64_t done, int64_t total) { calls.progress.emplace_back(done, total); });
}

// An opener that records the descriptors it hands out, to prove they were closed.
struct RecordingOpener {
    std::shared_ptr<std::vector<int>> fds = std::make_shared<std::vector<int>>();
    FileOpener opener() {
        auto list = fds;
        return [list](const fs::path& path, int flags) {
            int fd = ::open(path.c_str(), flags);
            if (fd >= 0) list->push_back(fd);
            return fd;
        };
    }
    bool allClosed() const {
        for (int fd : *fds)
            if (fcntl(fd, F_GETFD) != -1) return false;
        return true;
    }
};

using ChecksumEngineTest = SandboxedTest;

}  // namespace

TEST_F(ChecksumEngineTest, DigestsEqualXxhsumAcrossChunkBoundaries) {
    ChecksumEngine engine;
    for (int64_t size : {int64_t{0}, int64_t{1}, 4 * MiB - 1, 4 * MiB, 4 * MiB + 1, 20 * MiB}) {
        fs::path file = sandbox / ("f" + std::to_string(size));
        writePatternFile(file, static_cast<size_t>(size), static_cast<unsigned>(size));
        std::string expected = xxhsum(file);
        EXPECT_EQ(engine.hash(file), expected) << size;
        EXPECT_EQ(engine.hash(file, true), expected) << "bypassing the cache, size " << size;
    }
    EXPECT_EQ(engine.hash(sandbox / "f0"), "ef46db3751d8e999");
}

TEST_F(ChecksumEngineTest, AsksForCancellationBeforeEveryReadAndReportsProgressAfterEach) {
    ChecksumEngine engine;
    struct Case {
        int64_t size;
        int cancelTests;
        int progressCalls;
    };
    for (Case c : {Case{0, 1, 0}, Case{1, 2, 1}, Case{4 * MiB, 2, 1}, Case{4 * MiB + 1, 3, 2}, Case{9 * MiB, 4, 3}}) {
        fs::path file = sandbox / "file";
        writePatternFile(file, static_cast<size_t>(c.size));
        Calls calls;
        hashCounting(engine, file, calls);
        EXPECT_EQ(calls.cancelTests, c.cancelTests) << c.size;
        ASSERT_EQ(static_cast<int>(calls.progress.size()), c.progressCalls) << c.size;
        if (c.progressCalls) {
            EXPECT_EQ(calls.progress.back(), std::make_pair(c.size, c.size));
            EXPECT_EQ(calls.progress.front().first, std::min(c.size, 4 * MiB));
        }
    }
}

TEST_F(ChecksumEngineTest, OddChunkSizesGiveTheSameDigest) {
    fs::path file = sandbox / "file";
    writePatternFile(file, 100'003);
    std::string expected = xxhsum(file);
    for (int64_t chunk : {1, 7, 31, 32, 33, 4096, 65537}) {
        ChecksumEngine engine(chunk);
        Calls calls;
        EXPECT_EQ(hashCounting(engine, file, calls, chunk >= 4096), expected) << chunk;
        EXPECT_EQ(static_cast<int64_t>(calls.progress.size()), (100'003 + chunk - 1) / chunk);
    }
}

// Each thread keeps its read buffer between files: a hash begun inside another's progress
// report on the same thread, and hashes on several threads at once, keep their digests.
TEST_F(ChecksumEngineTest, HashesInsideAHashAndOnSeveralThreadsKeepTheirDigests) {
    const fs::path outer = sandbox / "outer", inner = sandbox / "inner";
    writePatternFile(outer, 1'000'003);
    writePatternFile(inner, 700'001, 2);
    const std::string outerDigest = xxhsum(outer), innerDigest = xxhsum(inner);
    ASSERT_NE(outerDigest, innerDigest);
    const ChecksumEngine engine(4 * 1024 * 1024);
    std::vector<std::string> nested;
    EXPECT_EQ(engine.hash(outer, false, {}, [&](int64_t, int64_t) { nested.push_back(engine.hash(inner)); }),
              outerDigest);
    ASSERT_FALSE(nested.empty());
    for (const std::string& digest : nested) EXPECT_EQ(digest, innerDigest);

    std::vector<std::string> digests(8);
    {
        std::vector<std::jthread> threads;
        for (size_t t = 0; t < digests.size(); ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 5; ++round) digests[t] = engine.hash(t % 2 ? inner : outer);
            });
    }
    for (size_t t = 0; t < digests.size(); ++t) EXPECT_EQ(digests[t], t % 2 ? innerDigest : outerDigest) << t;
}

TEST_F(ChecksumEngineTest, ChunkSizeBelowOneIsRejected) {
    EXPECT_THROW(ChecksumEngine(0), std::invalid_argument);
    EXPECT_THROW(ChecksumEngine(-5), std::invalid_argument);
    ChecksumEngine engine(1024);
    EXPECT_THROW(engine.setChunkSize(0), std::invalid_argument);
    EXPECT_EQ(engine.chunkSize(), 1024);
    EXPECT_EQ(ChecksumEngine().chunkSize(), 4 * MiB);
}

TEST_F(ChecksumEngineTest, CancellationStopsBetweenReadsAndClosesTheFile) {
    fs::path file = sandbox / "file";
    writePatternFile(file, static_cast<size_t>(10 * MiB));
    RecordingOpener recorder;
    ChecksumEngine engine(ChecksumEngine::defaultChunkSize, recorder.opener());

    int progressCalls = 0;
    EXPECT_THROW(engine.hash(file, false, [] { return true; }, [&](int64_t, int64_t) { ++progressCalls; }),
                 ChecksumCancelledError);
    EXPECT_EQ(progressCalls, 0);

    int tests = 0;
    EXPECT_THROW(engine.hash(file, true, [&] { return ++tests == 3; }, [&](int64_t, int64_t) { ++progressCalls; }),
                 ChecksumCancelledError);
    EXPECT_EQ(progressCalls, 2);
    ASSERT_EQ(recorder.fds->size(), 2u);
    EXPECT_TRUE(recorder.allClosed());
}

TEST_F(ChecksumEngineTest, OpenAndReadFailuresAreThrownWithTheirErrno) {
    fs::path file = sandbox / "file";
    writePatternFile(file, 1000);
    try {
        ChecksumEngine().hash(sandbox / "missing");
        FAIL();
    } catch (const FileReadError& e) {
        EXPECT_EQ(e.error(), ENOENT);
    }
    // Failures that cannot be caused for real as root come through the opener seam.
    ChecksumEngine failingOpen(ChecksumEngine::defaultChunkSize, [](const fs::path&, int) {
        errno = EIO;
        return -1;
    });
    try {
        failingOpen.hash(file);
        FAIL();
    } catch (const FileReadError& e) {
        EXPECT_EQ(e.error(), EIO);
    }
    // A descriptor that cannot be read fails the first read.
    ChecksumEngine failingRead(ChecksumEngine::defaultChunkSize,
                               [](const fs::path& path, int) { return ::open(path.c_str(), O_WRONLY | O_CLOEXEC); });
    EXPECT_THROW(failingRead.hash(file), FileReadError);
}

TEST_F(ChecksumEngineTest, RefusesAnythingButARegularFile) {
    fs::path fifo = sandbox / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ChecksumEngine engine;
    EXPECT_THROW(engine.hash(fifo), FileReadError);  // would block forever if opened and read
    EXPECT_THROW(engine.hash(sandbox.path()), FileReadError);
    EXPECT_THROW(engine.hash("/dev/zero"), FileReadError);  // would never end
    // A FIFO handed over by the opener in place of the file is refused too.
    ChecksumEngine swapped(ChecksumEngine::defaultChunkSize,
                           [fifo](const fs::path&, int flags) { return ::open(fifo.c_str(), flags); });
    writeFile(sandbox / "file", "x");
    EXPECT_THROW(swapped.hash(sandbox / "file"), FileReadError);
}

TEST_F(ChecksumEngineTest, VerifyComparesSizesFirstThenBytes) {
    writePatternFile(sandbox / "a", 5000, 1);
    writePatternFile(sandbox / "b", 5000, 1);
    writePatternFile(sandbox / "c", 5000, 2);
    writePatternFile(sandbox / "short", 4999, 1);
    RecordingOpener recorder;
    ChecksumEngine engine(ChecksumEngine::defaultChunkSize, recorder.opener());
    EXPECT_TRUE(engine.verify(sandbox / "a", sandbox / "b"));
    EXPECT_FALSE(engine.verify(sandbox / "a", sandbox / "c"));
    size_t opened = recorder.fds->size();
    EXPECT_FALSE(engine.verify(sandbox / "a", sandbox / "short"));
    EXPECT_FALSE(engine.verify(sandbox / "a", sandbox / "missing"));
    EXPECT_FALSE(engine.verify(sandbox / "missing1", sandbox / "missing2"));
    EXPECT_EQ(recorder.fds->size(), opened) << "different sizes must answer without reading";
    EXPECT_THROW(engine.verify(sandbox / "a", sandbox / "b", [] { return true; }), ChecksumCancelledError);
}

namespace {

// Byte offset of a file's first data block on its device.
int64_t physicalOffset(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY);
    alignas(struct fiemap) char storage[sizeof(struct fiemap) + sizeof(struct fiemap_extent)] = {};
    auto* map = reinterpret_cast<struct fiemap*>(storage);
    map->fm_length = ~0ull;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 1;
    int rc = ioctl(fd, FS_IOC_FIEMAP, map);
    ::close(fd);
    if (rc != 0 || map->fm_mapped_extents < 1) return -1;
    return static_cast<int64_t>(map->fm_extents[0].fe_physical);
}

}  // namespace

TEST(ChecksumEngineVolume, BypassSeesBytesChangedUnderTheCache) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume volume("ext4", 64, "DRIVE");
    fs::path file = volume.mountPoint() / "clip.mov";
    writePatternFile(file, static_cast<size_t>(MiB), 1);
    ChecksumEngine direct;          // 4 MiB chunks: O_DIRECT
    ChecksumEngine dropping(1000);  // unaligned chunks: clean and drop cached pages instead
    const std::string before = direct.hash(file);  // now in the page cache
    int64_t offset = physicalOffset(file);
    ASSERT_GT(offset, 0);

    // Change the bytes on the device underneath the mounted file system's cache.
    {
        std::fstream image(volume.image(), std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(offset + 100);
        image.write("CHANGED", 7);
    }
    ASSERT_EQ(direct.hash(file), before) << "a plain read is expected to see the cached bytes";
    const std::string seenDirect = direct.hash(file, true);
    EXPECT_NE(seenDirect, before);
    EXPECT_EQ(dropping.hash(file, true), seenDirect);
    EXPECT_EQ(direct.hash(file), seenDirect) << "the cache now holds the device's bytes";
}
