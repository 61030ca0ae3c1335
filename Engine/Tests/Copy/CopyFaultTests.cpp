// The copy engine under injected faults: every file call that can fail is made to fail, one
// at a time, at every point of a run. After each failure nothing that is not a true copy is
// reported verified, nothing that was there before was changed, and no partial file is left
// under a final name. Also: a byte changed after the write, a name taken between planning
// and creation, and two engines copying into one folder at once.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/CopyFileIO.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

enum Op { openOp, readOp, writeOp, fsyncOp, closeOp, futimensOp, mkdirOp, unlinkOp, opCount };
const char* opName(int op) {
    static const char* names[] = {"open", "read", "write", "fsync", "close", "futimens", "mkdir", "unlink"};
    return names[op];
}

// The real calls, with the Nth call of one kind failing with a chosen errno, and hooks.
class FaultyIO final : public CopyFileIO {
public:
    int failOp = -1;
    int failAt = 0;
    int failErrno = EIO;
    std::array<std::atomic<int>, opCount> counts{};
    std::function<void(const char* path, int flags)> beforeOpen;
    std::mutex unlinkedLock;
    std::vector<std::string> unlinked;

    int open(const char* path, int flags, mode_t mode) override {
        if (beforeOpen) beforeOpen(path, flags);
        if (fails(openOp)) return -1;
        return real_->open(path, flags, mode);
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        return fails(readOp) ? -1 : real_->read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        return fails(writeOp) ? -1 : real_->write(fd, buffer, count);
    }
    int fsync(int fd) override { return fails(fsyncOp) ? -1 : real_->fsync(fd); }
    int close(int fd) override {
        if (fails(closeOp)) {
            real_->close(fd);  // Linux closes the descriptor even when close reports an error
            errno = failErrno;
            return -1;
        }
        return real_->close(fd);
    }
    int futimens(int fd, const struct timespec times[2]) override {
        return fails(futimensOp) ? -1 : real_->futimens(fd, times);
    }
    int mkdir(const char* path, mode_t mode) override { return fails(mkdirOp) ? -1 : real_->mkdir(path, mode); }
    int unlink(const char* path) override {
        if (fails(unlinkOp)) return -1;
        std::lock_guard lock(unlinkedLock);
        unlinked.push_back(path);
        return real_->unlink(path);
    }

private:
    bool fails(int op) {
        int n = ++counts[op];
        if (op == failOp && n == failAt) {
            errno = failErrno;
            return true;
        }
        return false;
    }
    std::shared_ptr<CopyFileIO> real_ = CopyFileIO::posix();
};

bool sameBytes(const fs::path& a, const fs::path& b) { return readFile(a) == readFile(b); }

std::map<std::string, std::string> contentsOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().native()] = readFile(entry.path());
    return files;
}

class CopyFaultTest : public SandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }
    fs::path drive() const { return sandbox / "DRIVE"; }

    void makeCard() {
        writePatternFile(card() / "DCIM/A001.MOV", 200'000, 1);
        writePatternFile(card() / "DCIM/A002.MOV", 50'000, 2);
        writePatternFile(card() / "DCIM/A003.JPG", 9'000, 3);
        writePatternFile(card() / "XML/A001.XML", 300, 4);
        writeFile(card() / "XML/EMPTY.TXT", "");
    }
    // Before each run: a different file under one taken name and an identical one under another.
    void makeDrive() {
        fs::remove_all(drive());
        writePatternFile(drive() / "DCIM/A002.MOV", 50'000, 77);
        fs::copy_file(card() / "DCIM/A003.JPG", drive() / "DCIM/A003.JPG");
    }
    std::vector<MediaFile> cardList() const {
        std::vector<MediaFile> files;
        for (auto& entry : fs::recursive_directory_iterator(card()))
            if (entry.is_regular_file())
                files.push_back({entry.path(), MediaFile::Kind::media, (int64_t)entry.file_size()});
        return files;
    }

    // The invariants that must hold after any run, faulty or not.
    void checkInvariants(const CopyEngine::CopyRun& run, const std::map<std::string, std::string>& before) {
        auto after = contentsOf(drive());
        // Nothing that was there before changed.
        for (const auto& [path, bytes] : before) {
            ASSERT_TRUE(after.contains(path)) << path << " disappeared";
            EXPECT_EQ(after.at(path), bytes) << path << " was overwritten";
        }
        std::set<std::string> accounted;
        for (const auto& [path, bytes] : before) accounted.insert(path);
        for (const auto& outcome : run.outcomes) {
            SCOPED_TRACE(outcome.relativePath);
            const std::string dest = outcome.destinationURL.native();
            switch (outcome.status.kind) {
                case Kind::copiedVerified:
                case Kind::skippedAlreadyPresent:
                    ASSERT_TRUE(after.contains(dest));
                    EXPECT_EQ(after.at(dest), readFile(outcome.sourceURL)) << "reported verified but differs";
                    EXPECT_EQ(outcome.sourceChecksum, outcome.destinationChecksum);
                    accounted.insert(dest);
                    break;
                case Kind::copiedNotVerified:
                case Kind::verificationFailed:
                    // Written and kept; no claim is made about its bytes.
                    if (after.contains(dest)) accounted.insert(dest);
                    break;
                case Kind::failed:
                    if (!before.contains(dest)) EXPECT_FALSE(after.contains(dest)) << "partial file left behind";
                    break;
            }
        }
        for (const auto& [path, bytes] : after) EXPECT_TRUE(accounted.contains(path)) << "stray file " << path;
    }
};

TEST_F(CopyFaultTest, EveryFailingCallAtEveryPointKeepsTheInvariants) {
    makeCard();
    const auto list = cardList();
    const CopyEngine::Options options{true, true, true, 16 * 1024};

    // A clean run first, to count the calls of each kind.
    makeDrive();
    auto counter = std::make_shared<FaultyIO>();
    auto before = contentsOf(drive());
    auto clean = CopyEngine(counter).copy(list, card(), drive(), options, [] { return false; });
    checkInvariants(clean, before);
    std::array<int, opCount> totals{};
    for (int op = 0; op < opCount; ++op) totals[op] = counter->counts[op];
    EXPECT_GT(totals[readOp], 10);
    EXPECT_GT(totals[fsyncOp], 3);
    EXPECT_EQ(totals[unlinkOp], 0);

    for (int op : {openOp, readOp, writeOp, fsyncOp, closeOp, mkdirOp}) {
        for (int n = 1; n <= totals[op]; ++n) {
            SCOPED_TRACE(std::string("failing ") + opName(op) + " #" + std::to_string(n));
            makeDrive();
            before = contentsOf(drive());
            auto io = std::make_shared<FaultyIO>();
            io->failOp = op;
            io->failAt = n;
            auto run = CopyEngine(io).copy(list, card(), drive(), options, [] { return false; });
            ASSERT_EQ(run.outcomes.size(), list.size());
            checkInvariants(run, before);
            // Only files this run created were ever removed.
            for (const auto& path : io->unlinked) EXPECT_FALSE(before.contains(path)) << path;
        }
    }
}

TEST_F(CopyFaultTest, FlushFailureFailsTheFileAndRemovesIt) {
    writePatternFile(card() / "A.MOV", 10'000, 1);
    for (int error : {EIO, ENOSPC, EDQUOT}) {
        fs::remove_all(drive());
        auto io = std::make_shared<FaultyIO>();
        io->failOp = fsyncOp;
        io->failAt = 1;
        io->failErrno = error;
        auto run = CopyEngine(io).copy({{card() / "A.MOV", MediaFile::Kind::media, 10'000}}, card(), drive(),
                                       {true, true, true, 4096}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status, CopyEngine::FileStatus::failed(strerror(error)));
        EXPECT_FALSE(fs::exists(drive() / "A.MOV"));
    }
}

TEST_F(CopyFaultTest, AByteChangedAfterTheWriteIsCaughtAndTheCopyStays) {
    writePatternFile(card() / "A.MOV", 100'000, 1);
    auto io = std::make_shared<FaultyIO>();
    const std::string target = (drive() / "A.MOV").native();
    // Just before the read-back opens the copy, one byte of it changes on disk.
    io->beforeOpen = [&](const char* path, int flags) {
        if (target != path || (flags & O_ACCMODE) != O_RDONLY) return;
        int fd = ::open(path, O_WRONLY);
        char byte = 0x5A;
        ASSERT_EQ(::pwrite(fd, &byte, 1, 4242), 1);
        ::fsync(fd);
        ::close(fd);
    };
    auto run = CopyEngine(io).copy({{card() / "A.MOV", MediaFile::Kind::media, 100'000}}, card(), drive(),
                                   {true, true, true, 8192}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 1u);
    const auto& outcome = run.outcomes[0];
    EXPECT_EQ(outcome.status,
              CopyEngine::FileStatus::verificationFailed("Checksum mismatch — the destination's bytes differ from the card's."));
    ASSERT_TRUE(outcome.sourceChecksum && outcome.destinationChecksum);
    EXPECT_NE(*outcome.sourceChecksum, *outcome.destinationChecksum);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_FALSE(outcome.status.landedSafely());
}

TEST_F(CopyFaultTest, ANameTakenAfterPlanningGoesToTheNextName) {
    writePatternFile(card() / "DCIM/A.MOV", 10'000, 1);
    auto io = std::make_shared<FaultyIO>();
    const std::string taken = (drive() / "DCIM/A.MOV").native();
    // Another run creates the planned name just before this one does.
    io->beforeOpen = [&](const char* path, int flags) {
        if (taken == path && (flags & O_CREAT) && !fs::exists(taken)) writeFile(taken, "the other run's file");
    };
    auto run = CopyEngine(io).copy({{card() / "DCIM/A.MOV", MediaFile::Kind::media, 10'000}}, card(), drive(),
                                   {true, true, true, 4096}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[0].destinationURL, drive() / "DCIM/A_1.MOV");
    EXPECT_EQ(readFile(taken), "the other run's file");
    EXPECT_TRUE(sameBytes(card() / "DCIM/A.MOV", drive() / "DCIM/A_1.MOV"));
}

TEST_F(CopyFaultTest, TwoEnginesIntoOneFolderNeverOverwriteEachOther) {
    // Two cards with the same names and different bytes, copied at once, in small chunks.
    std::vector<MediaFile> first, second;
    for (int i = 0; i < 40; ++i) {
        std::string name = "DCIM/C" + std::to_string(i % 8) + "/F" + std::to_string(i) + ".MOV";
        writePatternFile(sandbox / "ONE" / name, 20'000 + i, 100 + i);
        writePatternFile(sandbox / "TWO" / name, 20'000 + i, 200 + i);
        first.push_back({sandbox / "ONE" / name, MediaFile::Kind::media, 20'000 + i});
        second.push_back({sandbox / "TWO" / name, MediaFile::Kind::media, 20'000 + i});
    }
    for (bool preserve : {true, false}) {
        fs::remove_all(drive());
        CopyEngine::CopyRun runOne, runTwo;
        std::thread a([&] { runOne = CopyEngine().copy(first, sandbox / "ONE", drive(), {preserve, true, true, 1024}, [] { return false; }); });
        std::thread b([&] { runTwo = CopyEngine().copy(second, sandbox / "TWO", drive(), {preserve, true, true, 1024}, [] { return false; }); });
        a.join();
        b.join();
        std::set<fs::path> destinations;
        for (const auto* run : {&runOne, &runTwo}) {
            for (const auto& outcome : run->outcomes) {
                EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
                EXPECT_TRUE(sameBytes(outcome.sourceURL, outcome.destinationURL)) << outcome.destinationURL;
                EXPECT_TRUE(destinations.insert(outcome.destinationURL).second) << outcome.destinationURL;
            }
        }
        EXPECT_EQ(destinations.size(), 80u);
    }
}

}  // namespace
}  // namespace tessaline
