// The copy engine onto a FUSE exFAT drive while the kernel forgets its entries, so the drive
// numbers the copies afresh: a drive that never left is never called gone, every file the run
// leaves at the destination is one it reports, and a drive really pulled still fails the rest.

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/CacheDropLoop.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <fcntl.h>

#include <set>
#include <utility>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

// Every regular file below `root`, temporary copies included.
std::set<fs::path> filesIn(const fs::path& root) {
    std::set<fs::path> found;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) found.insert(entry.path());
    return found;
}

std::set<fs::path> claimedBy(const CopyEngine::CopyRun& run) {
    std::set<fs::path> claimed;
    for (const auto& outcome : run.outcomes)
        if (outcome.status.landedSafely()) claimed.insert(outcome.destinationURL);
    return claimed;
}

// Fails naming each file at the destination the run does not report (with its size and what
// the run says of the card file of that path), and each reported file that is not there.
void expectOnlyClaimedFilesIn(const fs::path& destination, const CopyEngine::CopyRun& run) {
    static const char* kinds[] = {"verificationFailed", "failed", "copiedVerified", "copiedNotVerified",
                                  "skippedAlreadyPresent"};
    const auto found = filesIn(destination);
    const auto claimed = claimedBy(run);
    for (const auto& file : found) {
        if (claimed.contains(file)) continue;
        std::string said = "no card file of that path";
        for (const auto& outcome : run.outcomes)
            if (destination / outcome.relativePath == file)
                said = std::string(kinds[static_cast<int>(outcome.status.kind)]) + " " +
                       outcome.status.reason.value_or("") + " at " + outcome.destinationURL.string();
        ADD_FAILURE() << "left at the destination but not reported: " << file << ", " << fs::file_size(file)
                      << " bytes (its card file: " << said << ")";
    }
    for (const auto& file : claimed)
        if (!found.contains(file)) ADD_FAILURE() << "reported but not at the destination: " << file;
}

class CopyRenumberingTest : public SandboxedTest {
protected:
    // A card of many small stills (copied in batches) and clips (one larger than the
    // writeback window, flushed as it is written).
    fs::path makeCard() {
        const fs::path card = sandbox / "CARD";
        for (int i = 0; i < 300; ++i)
            writePatternFile(card / "DCIM/100STILL" / ("IMG_" + std::to_string(1000 + i) + ".JPG"), 16'384, i);
        writePatternFile(card / "PRIVATE/CLIP/C0001.MXF", 80 << 20, 1);
        for (int i = 2; i <= 4; ++i)
            writePatternFile(card / "PRIVATE/CLIP" / ("C000" + std::to_string(i) + ".MXF"), 12 << 20, i);
        return card;
    }
};

TEST_F(CopyRenumberingTest, ACopyOntoExfatIsProvenWhileTheKernelForgetsItsFiles) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("exfat", 300, "SHUTTLE");
    const fs::path card = makeCard();
    const fs::path destination = drive.mountPoint() / "Day1";
    // Besides the loop, however fast the run goes: a drop after every 25th copy is written
    // and as every 10th proven copy takes its name.
    auto io = std::make_shared<FaultyIO>();
    io->afterFutimens = [](int call) {
        if (call % 25 == 0) CacheDropLoop::dropNow();
    };
    int renames = 0;
    io->beforeRename = [&](const char*, const char*) {
        if (++renames % 10 == 0) CacheDropLoop::dropNow();
    };
    CopyEngine::CopyRun run;
    {
        CacheDropLoop drops;
        run = CopyEngine(io).copy(card, destination, {}, SettleOptions::none(), [] { return false; });
    }
    ASSERT_EQ(run.outcomes.size(), 304u);
    for (const auto& outcome : run.outcomes)
        EXPECT_EQ(outcome.status, CopyEngine::FileStatus::copiedVerified()) << outcome.relativePath;
    EXPECT_TRUE(run.changedOnCard.empty());
    // Nothing at the destination that the run does not report.
    expectOnlyClaimedFilesIn(destination, run);
    EXPECT_EQ(readFile(destination / "PRIVATE/CLIP/C0001.MXF"), readFile(card / "PRIVATE/CLIP/C0001.MXF"));

    // A second run finds every file present, also while the kernel forgets.
    CopyEngine::CopyRun again;
    {
        CacheDropLoop drops;
        again = CopyEngine().copy(card, destination, {}, SettleOptions::none(), [] { return false; });
    }
    ASSERT_EQ(again.outcomes.size(), 304u);
    for (const auto& outcome : again.outcomes)
        EXPECT_EQ(outcome.status.kind, Kind::skippedAlreadyPresent) << outcome.relativePath;
    expectOnlyClaimedFilesIn(destination, run);
}

// FUSE exFAT takes neither rename flags nor links, so each proven copy takes its final name by
// first claiming it with an empty file of its own. The kernel forgetting that claim as soon as
// it is closed (it numbers it afresh) must not make the run take its own claim for another
// file's: every copy under its own name, and no empty claim left beside it.
TEST_F(CopyRenumberingTest, AClaimedNameForgottenBeforeTheMoveIsStillTheRunsOwn) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("exfat", 64, "SHUTTLE");
    const fs::path card = sandbox / "CARD";
    for (int i = 0; i < 12; ++i)
        writePatternFile(card / "DCIM" / ("IMG_" + std::to_string(1000 + i) + ".JPG"), 16'384, i);
    const fs::path destination = drive.mountPoint() / "Day1";
    auto io = std::make_shared<FaultyIO>();
    bool claimOpen = false;
    int claimsForgotten = 0;
    io->beforeOpen = [&](const char* path, int flags) {
        claimOpen = (flags & O_EXCL) && fs::path(path).filename().native().front() != '.';
    };
    io->afterClose = [&] {
        if (!std::exchange(claimOpen, false)) return;
        CacheDropLoop::dropNow();
        ++claimsForgotten;
    };
    const auto run = CopyEngine(io).copy(card, destination, {}, SettleOptions::none(), [] { return false; });
    EXPECT_EQ(claimsForgotten, 12);
    ASSERT_EQ(run.outcomes.size(), 12u);
    for (const auto& outcome : run.outcomes) {
        EXPECT_EQ(outcome.status, CopyEngine::FileStatus::copiedVerified()) << outcome.relativePath;
        EXPECT_EQ(outcome.destinationURL, destination / outcome.relativePath);
    }
    expectOnlyClaimedFilesIn(destination, run);
}

// The drive pulled (detached at once) while the kernel forgets: the files of the batch in
// flight and every later one fail as a pulled drive, nothing lands in the empty mount-point
// folder, and what the drive holds afterwards is exactly what the run reports.
TEST_F(CopyRenumberingTest, ADrivePulledWhileTheKernelForgetsStillFailsTheRest) {
    TESSALINE_REQUIRE_ROOT();
    auto drive = std::make_unique<LoopVolume>("exfat", 64, "SHUTTLE");
    std::vector<MediaFile> files;
    const fs::path card = sandbox / "CARD";
    for (int i = 0; i < 100; ++i) {
        const fs::path file = card / "DCIM" / ("IMG_" + std::to_string(1000 + i) + ".JPG");
        writePatternFile(file, 16'384, i);
        files.push_back({file, MediaFile::Kind::media, 16'384});
    }
    const fs::path mountPoint = drive->mountPoint();
    const fs::path destination = mountPoint / "Day1";
    auto io = std::make_shared<FaultyIO>();
    // Pulled while the second batch (from the 65th file) is written.
    io->afterFutimens = [&](int call) {
        if (call % 20 == 0) CacheDropLoop::dropNow();
        if (call == 70) drive->unmountLazily();
    };
    CopyEngine::CopyRun run;
    {
        CacheDropLoop drops;
        run = CopyEngine(io).copy(files, card, destination, {}, [] { return false; });
    }
    ASSERT_EQ(run.outcomes.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(run.outcomes[i].relativePath);
        if (i < 64) EXPECT_EQ(run.outcomes[i].status.kind, Kind::copiedVerified);
        else EXPECT_EQ(run.outcomes[i].status, CopyEngine::FileStatus::failed(CopyEngine::destinationGoneText));
    }
    EXPECT_TRUE(fs::is_empty(mountPoint));
    drive->remount();
    expectOnlyClaimedFilesIn(destination, run);
}

}  // namespace
}  // namespace tessaline
