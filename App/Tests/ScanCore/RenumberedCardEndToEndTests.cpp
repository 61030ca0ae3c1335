// A fully backed-up FUSE exFAT card whose files the kernel forgets (caches dropped) and the
// driver numbers afresh, end to end through the real scan run, the erase gate and the erase:
// a renumbering during the scan, between the scan and the gate, between the gate and the
// click, or during the erase changes no verdict and keeps no file, because the bytes decide;
// a file given other bytes at its size and stamps is refused by the gate or kept and named by
// the erase; look-alikes swapped in by folder renames are refused on ext4 and exFAT alike.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LookAlikeFiles.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <set>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using tessaline::testing::LoopVolume;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
using Kind = VerificationStanding::Kind;

const std::vector<std::string> cardFiles{"NOTES.TXT", "PRIVATE/M4ROOT/CLIP/C0001.MP4", "PRIVATE/M4ROOT/CLIP/C0002.MP4",
                                         "PRIVATE/M4ROOT/CLIP/C0003.MP4"};

class RenumberedCardEndToEndTest : public testing::AppSandboxedTest {
protected:
    struct Setup {
        fs::path card, driveRoot;
        std::string label;
    };

    // A card of three clips and a note, every file on the drive.
    Setup backedUpCard(const std::string& fsType) {
        Setup setup;
        setup.card = loops.add(fsType, "CARD_" + fsType).mountPoint();
        setup.driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        const fs::path grants = sandbox / "grants.json";
        tessaline::SecurityScopedBookmarkStore(grants).grant(setup.driveRoot);
        setup.label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back();
        for (int i = 1; i <= 3; ++i)
            testing::writeDistinctMedia(TestMedia::video, setup.card / cardFiles[size_t(i)], i);
        writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
        for (const auto& file : cardFiles) testing::copyFile(setup.card / file, setup.driveRoot / "Shoot" / file);
        return setup;
    }

    ReportPtr scan(const Setup& setup, std::function<void(const ScanEvent&)> onEvent = {}) {
        return testing::scanAgainstGrantedDrive(setup.card, setup.label, sandbox / "grants.json", {}, std::move(onEvent));
    }

    // The view model over the real system whose erase runs `duringErase` at each deleting event.
    std::unique_ptr<CardPrepViewModel> eraser(const fs::path& card, std::function<void()> duringErase = {}) {
        CardPrepViewModel::Dependencies dependencies;
        dependencies.backend.prepare = [real = dependencies.backend.prepare, duringErase](
                                           const fs::path& root, const auto& facts, const auto& profile,
                                           const std::function<bool()>& isCancelled, const auto& onEvent,
                                           const auto& vouched) {
            return real(root, facts, profile, isCancelled, [&](const tessaline::CardPrepEngine::Event& event) {
                if (duringErase && std::holds_alternative<tessaline::CardPrepEngine::Deleting>(event)) duringErase();
                onEvent(event);
            }, vouched);
        };
        dependencies.backend.computePreview = [real = dependencies.backend.computePreview, this](const fs::path& root) {
            CardContents contents = real(root);
            ++counts;
            return contents;
        };
        auto vm = std::make_unique<CardPrepViewModel>(std::move(dependencies));
        vm->takeCard(qtPath(card));
        EXPECT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
        return vm;
    }

    // How often the kernel was made to forget its file caches since it started (any program).
    static long slabDrops() {
        std::ifstream vmstat("/proc/vmstat");
        std::string key;
        long value = 0;
        while (vmstat >> key >> value)
            if (key == "drop_slab") return value;
        return -1;
    }

    // The standing once the count has read what it must.
    static VerificationStanding settled(CardPrepViewModel& vm, const ReportPtr& report) {
        EXPECT_TRUE(waitFor([&] {
            vm.gate(report);
            return !vm.checking() && !vm.isBusy();
        }, 30'000));
        return vm.gate(report);
    }

    static const CardPrepViewModel::Done* eraseNow(CardPrepViewModel& vm, const ReportPtr& report) {
        vm.setConfirmationText(vm.cardName());
        EXPECT_TRUE(vm.runChecked(report));
        EXPECT_TRUE(waitFor([&] { return !vm.isBusy(); }, 30'000));
        return std::get_if<CardPrepViewModel::Done>(&vm.phase());
    }

    testing::LoopVolumeSet loops;
    std::atomic<int> counts{0};  // walks of the card by the erasers' counts
};

}  // namespace

TEST_F(RenumberedCardEndToEndTest, ABackedUpFuseExfatCardStaysSafeThroughEveryRenumbering) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = backedUpCard("exfat");
    const auto inodeOf = [&](const std::string& file) {
        struct stat st {};
        EXPECT_EQ(::stat((setup.card / file).c_str(), &st), 0);
        return st.st_ino;
    };

    // Forgotten after the card walk, before any proof and again after the first: still safe,
    // every file recorded with the digest its proof read.
    const ino_t walked = inodeOf(cardFiles[1]);
    const ReportPtr report = scan(setup, [](const ScanEvent& event) {
        const auto* verifying = std::get_if<scan_event::VerifyingProgress>(&event);
        if (verifying && verifying->completed <= 1) LoopVolume::dropCaches();
    });
    ASSERT_TRUE(report);
    EXPECT_NE(inodeOf(cardFiles[1]), walked) << "the driver numbered the files afresh";
    EXPECT_TRUE(report->isSafeToErase()) << report->summary();
    ASSERT_TRUE(report->cardFiles);
    ASSERT_EQ(report->cardFiles->size(), cardFiles.size());
    for (const auto& record : *report->cardFiles) EXPECT_EQ(record.digest.size(), 16u) << record.relative;

    // Forgotten between the scan and the gate: the count reads the files again, with
    // progress, and the card stays safe.
    LoopVolume::dropCaches();
    auto vm = eraser(setup.card, [] { LoopVolume::dropCaches(); });
    std::optional<CardPrepViewModel::Checking> checked;
    QObject::connect(vm.get(), &CardPrepViewModel::changed, [&] {
        if (vm->checking() && vm->checking()->total > 0) checked = vm->checking();
    });
    const long dropsBeforeTheCount = slabDrops();
    const VerificationStanding standing = settled(*vm, report);
    EXPECT_EQ(standing, (VerificationStanding{Kind::safe, 3}));
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->total, 4);

    // Counted again without a renumbering: nothing is read again. (Tests running beside this
    // one drop caches too; where any did since the count began, the reads are rightly made.)
    checked.reset();
    const int before = counts;
    bool applied = false;
    QObject::connect(vm.get(), &CardPrepViewModel::changed, [&] { applied = applied || (counts > before && !vm->checking()); });
    vm->recount();
    ASSERT_TRUE(waitFor([&] { return applied; }, 30'000));
    if (slabDrops() == dropsBeforeTheCount) {
        EXPECT_FALSE(checked);
    }
    EXPECT_TRUE(vm->gate(report).isSafe());

    // Forgotten between the gate and the click, and at every item of the erase: nothing kept.
    LoopVolume::dropCaches();
    const auto* done = eraseNow(*vm, report);
    ASSERT_NE(done, nullptr) << "refused";
    EXPECT_TRUE(done->summary.isClean()) << done->summary.kept.size() << " kept";
    EXPECT_EQ(done->summary.filesDeleted, 4);
    for (const auto& file : cardFiles) EXPECT_FALSE(fs::exists(setup.card / file)) << file;
}

TEST_F(RenumberedCardEndToEndTest, OtherBytesAtTheSameSizeAndStampsAfterARenumberingAreRefusedOrKept) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = backedUpCard("exfat");
    const std::string changed = cardFiles[2];
    const std::string saved = readFile(setup.card / changed);
    ReportPtr report = scan(setup);
    ASSERT_TRUE(report && report->isSafeToErase());

    // Renumbered, then rewritten: the gate names it, the erase refuses.
    LoopVolume::dropCaches();
    tessaline::testing::rewriteKeepingStamps(setup.card / changed);
    auto vm = eraser(setup.card);
    VerificationStanding standing = settled(*vm, report);
    EXPECT_EQ(standing.kind, Kind::changedSinceScan);
    EXPECT_EQ(standing.fileNames, std::vector<std::string>{"C0002.MP4"});
    vm->setConfirmationText(vm->cardName());
    EXPECT_FALSE(vm->runChecked(report));

    // Put back and scanned again: rewritten while the erase runs, after a renumbering, it is
    // kept and named; the rest goes.
    writeFile(setup.card / changed, saved);
    report = scan(setup);
    ASSERT_TRUE(report && report->isSafeToErase());
    bool rewritten = false;
    auto erasing = eraser(setup.card, [&] {
        if (rewritten) return;
        rewritten = true;
        LoopVolume::dropCaches();
        tessaline::testing::rewriteKeepingStamps(setup.card / changed);
    });
    ASSERT_TRUE(settled(*erasing, report).isSafe());
    const auto* done = eraseNow(*erasing, report);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->summary.kept, std::vector<std::string>{changed});
    EXPECT_EQ(done->summary.filesDeleted, 3);
    EXPECT_TRUE(fs::exists(setup.card / changed));
}

TEST_F(RenumberedCardEndToEndTest, LookAlikesSwappedInAfterTheScanAreRefusedOnExt4AndExfat) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = backedUpCard(fsType);
        tessaline::testing::makeLookAlikes(setup.card / "PRIVATE", setup.card / ".Trashes/LOOK");
        const ReportPtr report = scan(setup);
        ASSERT_TRUE(report && report->isSafeToErase()) << report->summary();

        fs::rename(setup.card / "PRIVATE", setup.card / ".Trashes/OLD");
        fs::rename(setup.card / ".Trashes/LOOK", setup.card / "PRIVATE");
        LoopVolume::dropCaches();
        auto vm = eraser(setup.card);
        const VerificationStanding standing = settled(*vm, report);
        EXPECT_EQ(standing.kind, Kind::changedSinceScan);
        EXPECT_EQ(standing.files, 3);
        vm->setConfirmationText(vm->cardName());
        EXPECT_FALSE(vm->runChecked(report));
        EXPECT_EQ(readFile(setup.card / "NOTES.TXT"), "Scene 4, take 2 is the keeper.");
    }
}

}  // namespace brindlecove
