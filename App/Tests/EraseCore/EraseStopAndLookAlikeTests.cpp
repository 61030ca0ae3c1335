// Through the view model on loop-mounted cards: Stop ends an erase inside one large folder on
// the acknowledged and on the safe path, and look-alike files swapped in by folder renames
// after the scan are refused by the gate, or kept and named by the erase.

#include "Support/EraseFixtures.hpp"

#include "Support/CardScanReport.hpp"
#include "Support/LookAlikeFiles.hpp"

#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::testing::makeLookAlikes;
using tessaline::testing::swapInLookAlikes;
using tessaline::testing::writeFile;
using Kind = VerificationStanding::Kind;

class EraseStopAndLookAlikeTest : public AppSandboxedTest {
protected:
    LoopVolumeSet loops;
};

int filesIn(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

TEST_F(EraseStopAndLookAlikeTest, StopEndsAnEraseInsideOneLargeFolderOnBothPaths) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    constexpr int total = 20'000;
    auto& card = loops.add("ext4", "CARD", 128);  // 32768 inodes
    const fs::path root = card.mountPoint();
    // The erase's stop test, counted: Stop comes once it is well into the folder.
    std::atomic<int> asked{0};
    CardPrepBackend backend = CardPrepBackend::standard();
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const std::function<bool()>& isCancelled, const auto& onEvent,
                                                  const auto& vouched) {
        return real(cardRoot, facts, profile, [&] {
            ++asked;
            return isCancelled();
        }, onEvent, vouched);
    };
    auto vm = realCardPrep(backend);
    for (const bool safePath : {false, true}) {
        SCOPED_TRACE(safePath ? "safe" : "acknowledged");
        std::vector<std::pair<fs::path, MatchStatus>> clips;
        for (int i = 0; i < total; ++i) {
            const std::string name = "IMG_" + std::to_string(i) + ".JPG";
            writeFile(root / "DCIM/100CANON" / name, "x");
            if (safePath) clips.emplace_back(root / "DCIM/100CANON" / name, MatchStatus::confirmed(sandbox / "drive" / name));
        }
        pickAndCount(*vm, root);
        const ReportPtr report = safePath ? handMadeReport(root, clips) : nullptr;
        vm->setConfirmationText(vm->cardName());
        if (safePath) {
            ASSERT_TRUE(verdictOf(*vm, report).isSafe());
        } else {
            vm->gate(nullptr);
            vm->setAcknowledgedUnverified(true);
        }
        asked = 0;
        ASSERT_TRUE(vm->runChecked(report));
        ASSERT_TRUE(waitFor([&] { return asked >= 2000; }));
        vm->stop();
        EXPECT_TRUE(vm->isStopping()) << "stopping from the click on";
        const auto stoppedAt = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitForEraseEnd(*vm));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stoppedAt).count(), 1.0);
        EXPECT_FALSE(vm->isStopping());

        const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(done->summary.cancelled);
        const int left = filesIn(root / "DCIM");
        EXPECT_GT(left, 0);
        EXPECT_EQ(done->summary.filesDeleted + left, total);
        EXPECT_TRUE(done->summary.failures.empty());
        const QString outcome = EraseTexts::stoppedText(done->summary.filesDeleted);
        EXPECT_TRUE(outcome.contains(QString::number(done->summary.filesDeleted) + " files were deleted")) << outcome.toStdString();
        EXPECT_TRUE(outcome.contains("still on the card"));
        // What the stop left is counted again.
        EXPECT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == left; }));
        fs::remove_all(root / "DCIM");
    }
}

TEST_F(EraseStopAndLookAlikeTest, LookAlikesSwappedInAfterTheScanAreRefusedOrKeptAndNamed) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        auto& card = loops.add(fsType, "EOS_DIGITAL");
        const fs::path root = card.mountPoint(), drive = sandbox / ("drive-" + fsType);
        const auto stills = shootStills(root, drive, 3);
        makeLookAlikes(root / "DCIM", root / ".Trashes/LOOK");
        std::set<std::string> names;
        for (const auto& still : stills) names.insert(still.lexically_relative(root).string());

        bool swapDuringErase = false;
        CardPrepBackend backend = CardPrepBackend::standard();
        backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                      const auto& isCancelled, const auto& onEvent,
                                                      const auto& vouched) {
            return real(cardRoot, facts, profile, isCancelled, [&](const tessaline::CardPrepEngine::Event& event) {
                const auto* deleting = std::get_if<tessaline::CardPrepEngine::Deleting>(&event);
                if (swapDuringErase && deleting && deleting->name == "DCIM") swapInLookAlikes(cardRoot);
                onEvent(event);
            }, vouched);
        };
        auto vm = realCardPrep(backend);
        pickAndCount(*vm, root);
        const ReportPtr report = scanCard(root, {drive});
        ASSERT_TRUE(verdictOf(*vm, report).isSafe());

        // Swapped in after the scan, the card never mounted again: the gate names them.
        swapInLookAlikes(root);
        pickAndCount(*vm, root);
        const VerificationStanding standing = verdictOf(*vm, report);
        EXPECT_EQ(standing.kind, Kind::changedSinceScan);
        EXPECT_EQ(standing.files, 3);
        vm->setConfirmationText(vm->cardName());
        EXPECT_FALSE(vm->runChecked(report));

        // Put back, safe again; swapped in after the erase's last walk: kept and named.
        tessaline::testing::swapOutLookAlikes(root);
        pickAndCount(*vm, root);
        ASSERT_TRUE(verdictOf(*vm, report).isSafe());
        vm->setConfirmationText(vm->cardName());
        swapDuringErase = true;
        ASSERT_TRUE(vm->runChecked(report));
        ASSERT_TRUE(waitForEraseEnd(*vm));
        const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(std::set<std::string>(done->summary.kept.begin(), done->summary.kept.end()), names);
        EXPECT_TRUE(done->summary.failures.empty()) << "the folders holding them are no failure";
        EXPECT_EQ(filesIn(root / "DCIM"), 3);
        EXPECT_EQ(filesIn(root / ".Trashes/OLD"), 3) << "the originals, moved into a spared folder";
        EXPECT_TRUE(EraseTexts::keptText(done->summary.kept).startsWith("3 files kept"));
    }
}

}  // namespace
}  // namespace brindlecove::testing
