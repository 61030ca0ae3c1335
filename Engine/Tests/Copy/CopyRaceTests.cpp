// The copy engine against what happens around it while it copies, on real volumes: a
// parallel run into the same folder while this one is cancelled, and a card file that
// changes while it is copied. Timing comes from hooks at the engine's file-call seam.

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/CacheDropLoop.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;
using FileStatus = CopyEngine::FileStatus;

std::vector<MediaFile> smallFiles(const fs::path& card, int count) {
    std::vector<MediaFile> files;
    for (int i = 0; i < count; ++i) {
        fs::path file = card / "DCIM" / ("C" + std::to_string(i) + ".MOV");
        writePatternFile(file, 40'000, 30 + i);
        files.push_back({file, MediaFile::Kind::media, 40'000});
    }
    return files;
}

class CopyRaceTest : public SandboxedTest, public ::testing::WithParamInterface<std::string> {};

// Run A is cancelled while its small files are written ahead in a batch; run B copies the
// same card into the same folder just then. Whatever B counts as already present must be a
// proven copy that stays: A's cancellation may take away only its own temporary files. On
// exFAT the kernel forgets the drive's entries throughout, as tests beside it make it do.
TEST_P(CopyRaceTest, ACancelledRunNeverTakesAwayWhatAParallelRunCounted) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive(GetParam(), 64, "SHARED");
    const fs::path card = sandbox / "CARD";
    const auto files = smallFiles(card, 5);
    const fs::path destination = drive.mountPoint() / "Shoot";

    std::optional<CacheDropLoop> drops;
    auto ioB = std::make_shared<FaultyIO>();
    if (GetParam() == "exfat") {
        drops.emplace(std::chrono::milliseconds(40), std::chrono::seconds(20));
        ioB->beforeRename = [](const char*, const char*) { CacheDropLoop::dropNow(); };
    }
    auto io = std::make_shared<FaultyIO>();
    CopyEngine::CopyRun runB;
    bool ranB = false;
    // A has written its first three files (the third ahead of its events) when B runs.
    io->afterFutimens = [&](int call) {
        if (call != 3 || ranB) return;
        ranB = true;
        runB = CopyEngine(ioB).copy(files, card, destination, {}, [] { return false; });
    };
    // A is stopped from then on: its copies not yet proven are removed.
    auto runA = CopyEngine(io).copy(files, card, destination, {}, [&] { return ranB; });
    drops.reset();
    ASSERT_TRUE(ranB);
    EXPECT_TRUE(runA.wasCancelled);
    ASSERT_EQ(runB.outcomes.size(), files.size());
    for (const auto& outcome : runB.outcomes) {
        SCOPED_TRACE(outcome.relativePath);
        EXPECT_TRUE(outcome.status.isVerifiedPass());
        ASSERT_TRUE(fs::exists(outcome.destinationURL)) << "B's proof points at a file that is gone";
        EXPECT_EQ(readFile(outcome.destinationURL), readFile(outcome.sourceURL));
    }
    for (const auto& outcome : runA.outcomes) {
        EXPECT_TRUE(outcome.status.isVerifiedPass());
        EXPECT_EQ(readFile(outcome.destinationURL), readFile(outcome.sourceURL));
    }
    EXPECT_TRUE(temporaryFilesIn(destination).empty());
    // Each card file is at the destination exactly once: the second run found the first's.
    size_t count = 0;
    for (auto& entry : fs::recursive_directory_iterator(destination)) count += entry.is_regular_file();
    EXPECT_EQ(count, files.size());
}

INSTANTIATE_TEST_SUITE_P(Drives, CopyRaceTest, ::testing::Values("ext4", "exfat"));

class ChangingSourceTest : public SandboxedTest {};

// Rewrites `file` in place with other bytes of the same size; with `keepTimes` the old
// modification time is put back afterwards (only the change time tells then).
void rewriteInPlace(const fs::path& file, off_t offset, bool keepTimes) {
    // Kernels without fine-grained timestamps stamp changes with the last timer tick: let
    // one pass so the change time moves (6.13 and later stamp a change after a look finely).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    struct stat before{};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string patch(512, 'Z');
    ASSERT_EQ(::pwrite(fd, patch.data(), patch.size(), offset), static_cast<ssize_t>(patch.size()));
    if (keepTimes) {
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
    }
    ::close(fd);
}

TEST_F(ChangingSourceTest, ACardFileThatChangesWhileItIsCopiedIsNotProven) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD");
    const fs::path drive = sandbox / "DRIVE";
    const fs::path clip = card.mountPoint() / "DCIM/A.MOV";
    enum class Change { patchedWhereAlreadyRead, rewrittenAfterTheRead, rewrittenKeepingItsTime, replacedByARename };
    for (Change change : {Change::patchedWhereAlreadyRead, Change::rewrittenAfterTheRead,
                          Change::rewrittenKeepingItsTime, Change::replacedByARename}) {
        SCOPED_TRACE(static_cast<int>(change));
        fs::remove_all(drive);
        writePatternFile(clip, 200'000, 7);
        auto io = std::make_shared<FaultyIO>();
        bool changed = false;
        if (change == Change::patchedWhereAlreadyRead) {
            // After the first chunk is read, a region inside it changes on the card.
            io->afterRead = [&](int, int call) {
                if (call == 1 && !changed) {
                    rewriteInPlace(clip, 100, false);
                    changed = true;
                }
            };
        } else {
            io->afterFutimens = [&](int) {
                if (changed) return;
                changed = true;
                if (change == Change::replacedByARename) {
                    struct stat before{};
                    ::stat(clip.c_str(), &before);
                    const fs::path other = clip.parent_path() / "A.MOV.new";
                    writePatternFile(other, 200'000, 8);
                    struct timespec times[2] = {before.st_atim, before.st_mtim};
                    ::utimensat(AT_FDCWD, other.c_str(), times, 0);
                    fs::rename(other, clip);
                } else {
                    rewriteInPlace(clip, 0, change == Change::rewrittenKeepingItsTime);
                }
            };
        }
        auto run = CopyEngine(io).copy({{clip, MediaFile::Kind::media, 200'000}}, card.mountPoint(), drive,
                                       {true, true, true, 65'536}, [] { return false; });
        ASSERT_TRUE(changed);
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status, FileStatus::verificationFailed("The card file changed while it was copied."));
        EXPECT_FALSE(run.outcomes[0].status.landedSafely());
        EXPECT_FALSE(fs::exists(drive / "DCIM/A.MOV"));
        EXPECT_TRUE(temporaryFilesIn(drive).empty());
    }
    // Unchanged, the same file is proven.
    fs::remove_all(drive);
    auto run = CopyEngine().copy({{clip, MediaFile::Kind::media, 200'000}}, card.mountPoint(), drive,
                                 {true, true, true, 65'536}, [] { return false; });
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
}

}  // namespace
}  // namespace tessaline
