// The copy engine onto a FUSE exFAT drive while the kernel forgets its entries, so the drive
// numbers the copies afresh: a drive that never left is never called gone, every file the run
// leaves at the destination is one it reports, and a drive really pulled still fails the rest.
// And from a FUSE exFAT card, whose files are numbered afresh while the drive's copies are
// compared with them: a second run finds every file present, and a card file replaced
// meanwhile is still never taken for its old copy.

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/CacheDropLoop.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

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

// The card on a FUSE exFAT volume, the drive of the parameter's file system.
class RenumberingCardTest : public CopyRenumberingTest, public ::testing::WithParamInterface<std::string> {};

// Stills copied in batches, clips long enough that the kernel forgets the card while their
// copies on the drive are read.
void fillCard(const fs::path& card) {
    for (int i = 0; i < 200; ++i)
        writePatternFile(card / "DCIM/100STILL" / ("IMG_" + std::to_string(1000 + i) + ".JPG"), 12'288 + i, i);
    for (int i = 1; i <= 8; ++i)
        writePatternFile(card / "PRIVATE/CLIP" / ("C000" + std::to_string(i) + ".MP4"), 6 << 20, i);
}

// The first copy, then several more onto the same drive while the kernel forgets everything
// every 50 ms, and at once whenever a file on the drive is opened to be compared (the card
// file compared with it, not yet open, is renumbered then): every file already present,
// nothing written, no new name, nothing failed, the card unchanged.
TEST_P(RenumberingCardTest, ASecondRunFindsEveryFilePresentWhileTheCardIsRenumbered) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 96, "CARD");
    LoopVolume drive(GetParam(), 96, "SHUTTLE");
    fillCard(card.mountPoint());
    const fs::path destination = drive.mountPoint() / "Day1";
    const auto first =
        CopyEngine().copy(card.mountPoint(), destination, {}, SettleOptions::none(), [] { return false; });
    ASSERT_EQ(first.outcomes.size(), 208u);
    for (const auto& outcome : first.outcomes) ASSERT_EQ(outcome.status.kind, Kind::copiedVerified);
    const auto onDrive = filesIn(destination);

    auto io = std::make_shared<FaultyIO>();
    int compared = 0;
    const std::string drivePath = destination.native() + "/";
    io->beforeOpen = [&](const char* path, int flags) {
        if (!(flags & O_CREAT) && std::string_view(path).starts_with(drivePath)) {
            ++compared;
            CacheDropLoop::dropNow();
        }
    };
    struct rlimit descriptors{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The last round may hold no more than a hundred files for its closing look.
        const bool fewDescriptors = round == 3;
        struct rlimit few = descriptors;
        few.rlim_cur = 2 * (256 + 100);
        if (fewDescriptors) ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        CopyEngine::CopyRun again;
        // The closing look finds each proven file under the number its proof found (held for
        // it), so it reads none again: its count goes from none straight to all. With too few
        // descriptors to hold them all, it reads the rest again and finds them unchanged.
        std::vector<int> looked;
        {
            CacheDropLoop loop(std::chrono::milliseconds(50), std::chrono::seconds(120), 3);
            again = CopyEngine(io).copy(card.mountPoint(), destination, {}, SettleOptions::none(),
                                        [] { return false; }, [&](const CopyEngine::Event& event) {
                                            using Checking = CopyEngine::CheckingEvent;
                                            auto checking = std::get_if<Checking>(&event);
                                            if (checking && checking->phase == Checking::Phase::cardAgain)
                                                looked.push_back(checking->done);
                                        });
        }
        if (fewDescriptors) ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &descriptors), 0);
        if (!fewDescriptors) EXPECT_EQ(looked, (std::vector<int>{0, 208}));
        else EXPECT_TRUE(looked.size() > 2 && looked[1] >= 100 && looked[1] < 208 && looked.back() == 208);
        ASSERT_EQ(again.outcomes.size(), 208u);
        for (const auto& outcome : again.outcomes) {
            EXPECT_EQ(outcome.status.kind, Kind::skippedAlreadyPresent)
                << outcome.relativePath << ": " << outcome.status.reason.value_or("");
            EXPECT_EQ(outcome.destinationURL, destination / outcome.relativePath);
        }
        EXPECT_TRUE(again.changedOnCard.empty());
        EXPECT_EQ(filesIn(destination), onDrive);
    }
    EXPECT_GE(compared, 4 * 208);
    EXPECT_TRUE(readFile(destination / "PRIVATE/CLIP/C0008.MP4") ==
                readFile(card.mountPoint() / "PRIVATE/CLIP/C0008.MP4"));
}

// Puts another file of the same size and times, with bytes drawn from `seed`, in place of
// `file` by a rename over it, and makes the kernel forget what it knew of the card.
void replaceKeepingTimes(const fs::path& file, unsigned seed) {
    struct stat before{};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    const fs::path other = file.parent_path() / "replacement.new";
    writePatternFile(other, static_cast<size_t>(before.st_size), seed);
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    fs::rename(other, file);
    CacheDropLoop::dropNow();
}

// The card of the parameter's file system.
class ReplacedCardFileTest : public CopyRenumberingTest, public ::testing::WithParamInterface<std::string> {};

// A card file replaced (a rename over it, the same size and modification time, other bytes)
// after it was read for the comparison and before its drive copy is read: the drive's copy
// of the old file is not the card file now, on a card that numbers files afresh (its bytes
// tell) as on one that keeps numbers. The new file lands beside the old copies.
TEST_P(ReplacedCardFileTest, ACardFileReplacedDuringTheComparisonIsNotPresent) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card(GetParam(), 32, "CARD");
    const fs::path cardRoot = card.mountPoint();
    const fs::path clip = cardRoot / "DCIM/A.MP4";
    writePatternFile(clip, 300'000, 1);
    const fs::path destination = sandbox / "Drive";
    // The plain name holds a file of the same size with other bytes; "_1" the old file's copy.
    writePatternFile(destination / "DCIM/A.MP4", 300'000, 2);
    writePatternFile(destination / "DCIM/A_1.MP4", 300'000, 1);

    auto io = std::make_shared<FaultyIO>();
    bool replaced = false;
    io->beforeOpen = [&](const char* path, int) {
        if (replaced || fs::path(path) != destination / "DCIM/A_1.MP4") return;
        replaced = true;
        replaceKeepingTimes(clip, 3);
    };
    const auto run = CopyEngine(io).copy({{clip, MediaFile::Kind::media, 300'000}}, cardRoot, destination, {},
                                         [] { return false; });
    ASSERT_TRUE(replaced);
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[0].destinationURL, destination / "DCIM/A_2.MP4");
    EXPECT_TRUE(readFile(destination / "DCIM/A_2.MP4") == readFile(clip));
    EXPECT_TRUE(readFile(destination / "DCIM/A_1.MP4") != readFile(clip));
}

// A card file replaced just after its proof (a rename over it: the same size and times,
// other bytes) while the kernel forgets the card: the closing look of the card copy and of the
// file-list copy names it, on a card that numbers files afresh as on one that keeps numbers.
TEST_P(ReplacedCardFileTest, ACardFileReplacedAfterItsProofIsNamedByTheClosingLook) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card(GetParam(), 32, "CARD");
    const fs::path clip = card.mountPoint() / "DCIM/A.MP4";
    for (const bool cardCopy : {true, false}) {
        SCOPED_TRACE(cardCopy ? "card copy" : "file-list copy");
        writePatternFile(clip, 300'000, 1);
        writePatternFile(card.mountPoint() / "DCIM/B.MP4", 200'000, 2);
        bool replaced = false;
        auto replace = [&](const CopyEngine::Event& event) {
            if (replaced || !std::holds_alternative<CopyEngine::FileFinishedEvent>(event)) return;
            replaced = true;
            replaceKeepingTimes(clip, 3);
        };
        const fs::path destination = sandbox / (cardCopy ? "Card" : "List");
        const auto run =
            cardCopy ? CopyEngine().copy(card.mountPoint(), destination, {}, SettleOptions::none(),
                                         [] { return false; }, replace)
                     : CopyEngine().copy({{clip, MediaFile::Kind::media, 300'000},
                                          {card.mountPoint() / "DCIM/B.MP4", MediaFile::Kind::media, 200'000}},
                                         card.mountPoint(), destination, {}, [] { return false; }, replace);
        ASSERT_TRUE(replaced);
        ASSERT_EQ(run.outcomes.size(), 2u);
        EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
        EXPECT_EQ(run.changedOnCard, (std::vector<std::string>{"DCIM/A.MP4"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, RenumberingCardTest, ::testing::Values("ext4", "exfat"));
INSTANTIATE_TEST_SUITE_P(Cards, ReplacedCardFileTest, ::testing::Values("ext4", "exfat"));

}  // namespace
}  // namespace tessaline
