// The copy engine against real volumes: a destination that fills up, a destination drive
// pulled mid-run, a source file that vanishes mid-run, and a card on exFAT (FUSE).

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <sys/stat.h>

#include <set>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

std::set<std::string> namesIn(const fs::path& root) {
    std::set<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(root)) names.insert(fs::relative(entry.path(), root));
    return names;
}

class CopyVolumeTest : public SandboxedTest {
protected:
    std::vector<MediaFile> makeFiles(const fs::path& root, int count, size_t size) {
        std::vector<MediaFile> files;
        for (int i = 0; i < count; ++i) {
            fs::path path = root / "DCIM" / ("C" + std::to_string(i) + ".MOV");
            writePatternFile(path, size, 10 + i);
            files.push_back({path, MediaFile::Kind::media, static_cast<int64_t>(size)});
        }
        return files;
    }
};

TEST_F(CopyVolumeTest, AFullDestinationFailsTheFileAndRemovesItsPartialCopy) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 16, "SMALL");
    // Three clips of 6 MiB onto a 16 MiB file system: the third cannot fit.
    auto files = makeFiles(sandbox / "CARD", 3, 6 * 1024 * 1024);
    fs::path destination = drive.mountPoint() / "Backup";
    auto run = CopyEngine().copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    int failed = 0;
    for (const auto& outcome : run.outcomes) {
        if (outcome.status.kind == Kind::copiedVerified) {
            EXPECT_EQ(readFile(outcome.sourceURL), readFile(outcome.destinationURL));
        } else {
            ++failed;
            EXPECT_EQ(outcome.status, CopyEngine::FileStatus::failed("No space left on device"));
            EXPECT_FALSE(fs::exists(outcome.destinationURL)) << "partial copy left under its final name";
        }
    }
    EXPECT_GE(failed, 1);
}

TEST_F(CopyVolumeTest, ADrivePulledMidRunFailsTheRestAndWritesNothingElsewhere) {
    TESSALINE_REQUIRE_ROOT();
    auto drive = std::make_unique<LoopVolume>("ext4", 64, "BACKUP");
    auto files = makeFiles(sandbox / "CARD", 4, 200'000);
    const fs::path mountPoint = drive->mountPoint();
    const fs::path destination = mountPoint / "Shoot";
    // The drive goes away once the second file is written, with both copies still open.
    auto io = std::make_shared<FaultyIO>();
    io->afterFutimens = [&](int call) {
        if (call == 2) drive->unmountLazily();
    };
    auto run = CopyEngine(io).copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 4u);
    // The two copies in flight never got their final names; the rest were never started.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(run.outcomes[i].status, CopyEngine::FileStatus::failed(CopyEngine::destinationGoneText)) << i;
    // The empty mount-point folder on the root file system got nothing.
    EXPECT_TRUE(fs::is_empty(mountPoint));
    // The temporary copies on the pulled drive were removed through their open folder.
    drive->remount();
    EXPECT_EQ(namesIn(destination), (std::set<std::string>{"DCIM"}));
}

TEST_F(CopyVolumeTest, ASourceThatVanishesMidRunFailsOnlyThatFile) {
    auto files = makeFiles(sandbox / "CARD", 3, 100'000);
    const fs::path destination = sandbox / "DRIVE";
    // The second source goes just before the engine opens it.
    auto io = std::make_shared<FaultyIO>();
    io->beforeOpen = [&](const char* path, int) {
        if (files[1].url == path) fs::remove(files[1].url);
    };
    auto run = CopyEngine(io).copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[1].status, CopyEngine::FileStatus::failed("No such file or directory"));
    EXPECT_EQ(run.outcomes[2].status.kind, Kind::copiedVerified);
    EXPECT_FALSE(fs::exists(destination / "DCIM/C1.MOV"));
}

TEST_F(CopyVolumeTest, AFileThatGrowsOnTheCardIsNotCalledVerified) {
    auto files = makeFiles(sandbox / "CARD", 1, 100'000);
    files[0].byteSize = 90'000;  // listed before the camera finished writing
    auto run = CopyEngine().copy(files, sandbox / "CARD", sandbox / "DRIVE", {}, [] { return false; });
    EXPECT_EQ(run.outcomes[0].status,
              CopyEngine::FileStatus::verificationFailed(
                  "Source changed size during the copy (90000 → 100000 bytes) — the card was still being written to. "
                  "Re-run after the camera finishes."));
    // A copy that is not proven never takes its final name, and is not kept.
    EXPECT_FALSE(fs::exists(sandbox / "DRIVE/DCIM/C0.MOV"));
    EXPECT_TRUE(temporaryFilesIn(sandbox / "DRIVE").empty());
}

TEST_F(CopyVolumeTest, ExfatCardToExt4DriveAndBack) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "EOS_DIGITAL");
    LoopVolume drive("ext4", 64, "SHUTTLE");
    writePatternFile(card.mountPoint() / "DCIM/100EOS5D/IMG_0001.CR3", 3'000'001, 1);
    writePatternFile(card.mountPoint() / "DCIM/100EOS5D/IMG_0001.JPG", 900'000, 2);
    writePatternFile(card.mountPoint() / "PRIVATE/LASTCLIP.TXT", 12, 3);
    auto run = CopyEngine().copy(card.mountPoint(), drive.mountPoint() / "Day1", {}, SettleOptions::none(),
                                 [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    for (const auto& outcome : run.outcomes) {
        EXPECT_EQ(outcome.status.kind, Kind::copiedVerified) << outcome.relativePath;
        EXPECT_EQ(readFile(outcome.sourceURL), readFile(outcome.destinationURL));
    }
    // And back onto the card, where FUSE may refuse direct reads: still proven.
    auto back = CopyEngine().copy({{drive.mountPoint() / "Day1/PRIVATE/LASTCLIP.TXT", MediaFile::Kind::media, 12}},
                                  drive.mountPoint(), card.mountPoint() / "back", {}, [] { return false; });
    EXPECT_EQ(back.outcomes[0].status.kind, Kind::copiedVerified);
}

}  // namespace
}  // namespace tessaline
