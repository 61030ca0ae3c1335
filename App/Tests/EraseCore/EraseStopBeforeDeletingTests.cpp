// Through the view model on loop-mounted cards: a Stop in every phase before the erase's first
// delete (the safe erase's walk of the card, the plan's measuring, between the plan and the
// first item) ends the erase with nothing deleted, no camera folder made, the report still
// describing the card and its count still shown; and the erase's outcome is judged against
// what the erase itself left, however late the count after it comes.

#include "Support/EraseFixtures.hpp"

#include "Support/CardScanReport.hpp"

#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"

#include <QMetaObject>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::testing::writeFile;
using Engine = tessaline::CardPrepEngine;
using Kind = VerificationStanding::Kind;

int filesIn(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

class EraseStopBeforeDeletingTest : public AppSandboxedTest {
protected:
    // Clicks Stop on the main thread from the erase's worker, as a user would while the worker
    // is at this point, and waits until the run's flag says stop.
    void stopFromWorker(const std::function<bool()>& isCancelled) {
        QMetaObject::invokeMethod(vm.get(), [vm = vm.get()] { vm->stop(); }, Qt::QueuedConnection);
        for (int i = 0; i < 30'000 && !isCancelled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Acknowledges the card's standing for `report`, confirms and starts the erase.
    void eraseAcknowledged(const ReportPtr& report) {
        vm->setConfirmationText(vm->cardName());
        if (!verdictOf(*vm, report).isSafe()) vm->setAcknowledgedUnverified(true);
        ASSERT_TRUE(vm->runChecked(report));
    }
    // The outcome of an erase stopped before it deleted anything, with the card as it was.
    void expectUntouched(const fs::path& root, const std::vector<std::string>& before, int files) {
        const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(done->summary.cancelled);
        EXPECT_TRUE(done->summary.untouched);
        EXPECT_EQ(done->summary.filesDeleted, 0);
        EXPECT_TRUE(done->summary.foldersCreated.empty());
        EXPECT_EQ(topLevel(root), before) << "no camera folder made";
        EXPECT_EQ(filesIn(root), files);
        EXPECT_EQ(EraseTexts::stoppedUntouchedText(),
                  QString::fromUtf8("Stopped before the first delete — nothing was deleted; the card is as it was."));
    }

    LoopVolumeSet loops;
    std::unique_ptr<CardPrepViewModel> vm;
};

TEST_F(EraseStopBeforeDeletingTest, AStopBetweenThePlanAndTheFirstDeleteLeavesCardAndReportAsTheyWere) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "EOS_DIGITAL");
    const fs::path root = card.mountPoint(), drive = sandbox / "drive";
    shootStills(root, drive, 2);
    shootStills(root, {}, 1, 3);  // only on the card
    CardPrepBackend backend = CardPrepBackend::standard();
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const std::function<bool()>& isCancelled, const auto& onEvent,
                                                  const auto& vouched) {
        return real(cardRoot, facts, profile, isCancelled, [&](const Engine::Event& event) {
            if (std::holds_alternative<Engine::Planned>(event)) stopFromWorker(isCancelled);
            onEvent(event);
        }, vouched);
    };
    vm = realCardPrep(backend);
    pickAndCount(*vm, root);
    const ReportPtr report = scanCard(root, {drive});
    ASSERT_EQ(verdictOf(*vm, report).kind, Kind::missing);
    const auto counted = vm->preview();
    const auto before = topLevel(root);

    eraseAcknowledged(report);
    ASSERT_TRUE(waitForEraseEnd(*vm));
    expectUntouched(root, before, 3);
    EXPECT_FALSE(vm->erasedReports().contains(report)) << "nothing was erased since the scan";
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::missing);
    EXPECT_EQ(vm->preview(), counted) << "the count of a card left as it was stays shown";
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase())) << "the outcome stays with its card";
}

TEST_F(EraseStopBeforeDeletingTest, AStopInsideThePlansMeasuringEndsTheEraseWithNothingDeleted) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    constexpr int total = 3000;
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    for (int i = 0; i < total; ++i) writeFile(root / "DCIM/100CANON" / ("IMG_" + std::to_string(i) + ".JPG"), "x");
    // The erase's stop test, counted: Stop comes while the plan measures the folder.
    std::atomic<int> asked{0};
    std::atomic<bool> planned{false}, deleting{false};
    CardPrepBackend backend = CardPrepBackend::standard();
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const std::function<bool()>& isCancelled, const auto& onEvent,
                                                  const auto& vouched) {
        auto test = [&] {
            if (++asked == 100) stopFromWorker(isCancelled);
            return isCancelled();
        };
        return real(cardRoot, facts, profile, test, [&](const Engine::Event& event) {
            planned = planned || std::holds_alternative<Engine::Planned>(event);
            deleting = deleting || std::holds_alternative<Engine::Deleting>(event);
            onEvent(event);
        }, vouched);
    };
    vm = realCardPrep(backend);
    pickAndCount(*vm, root);
    const ReportPtr report = handMadeReport(root, {});  // a scan of this card that found no clip
    const auto before = topLevel(root);

    eraseAcknowledged(report);
    ASSERT_TRUE(waitForEraseEnd(*vm));
    EXPECT_FALSE(planned) << "the stop was heard inside the plan";
    EXPECT_FALSE(deleting);
    expectUntouched(root, before, total);
    EXPECT_FALSE(vm->erasedReports().contains(report));
}

TEST_F(EraseStopBeforeDeletingTest, AStopWhileTheSafeEraseWalksTheCardIsAnsweredAtOnceAndNothingIsErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("exfat", "A001");
    const fs::path root = card.mountPoint(), drive = sandbox / "drive";
    shootStills(root, drive, 2);
    std::atomic<bool> walking{false}, release{false}, walked{false}, prepared{false};
    CardPrepBackend backend = CardPrepBackend::standard();
    backend.walkCardFiles = [&, real = backend.walkCardFiles](const fs::path& cardRoot) {
        walking = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        auto files = real(cardRoot);
        walked = true;
        return files;
    };
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const auto& isCancelled, const auto& onEvent, const auto& vouched) {
        prepared = true;
        return real(cardRoot, facts, profile, isCancelled, onEvent, vouched);
    };
    vm = realCardPrep(backend);
    pickAndCount(*vm, root);
    const ReportPtr report = scanCard(root, {drive});
    ASSERT_TRUE(verdictOf(*vm, report).isSafe());
    const auto before = topLevel(root);

    eraseAcknowledged(report);
    ASSERT_TRUE(QTest::qWaitFor([&] { return walking.load(); }, 30'000));
    vm->stop();
    // Answered by the click itself, the walk still under way.
    expectUntouched(root, before, 2);
    EXPECT_FALSE(vm->isBusy());
    EXPECT_FALSE(vm->erasedReports().contains(report));

    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return walked.load(); }, 30'000));
    QTest::qWait(200);  // whatever the worker would still post
    EXPECT_FALSE(prepared) << "the worker never starts the erase";
    expectUntouched(root, before, 2);
    EXPECT_TRUE(verdictOf(*vm, report).isSafe()) << "the report still vouches for the card";
}

TEST_F(EraseStopBeforeDeletingTest, TheOutcomeIsJudgedByWhatTheEraseLeftHoweverLateTheCountAfterItComes) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "EOS_DIGITAL");
    const fs::path root = card.mountPoint(), drive = sandbox / "drive";
    std::atomic<bool> holdCount{false}, stopAtSecondItem{false};
    CardPrepBackend backend = CardPrepBackend::standard();
    backend.computePreview = [&, real = backend.computePreview](const fs::path& cardRoot) {
        while (holdCount) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return real(cardRoot);
    };
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const std::function<bool()>& isCancelled, const auto& onEvent,
                                                  const auto& vouched) {
        return real(cardRoot, facts, profile, isCancelled, [&](const Engine::Event& event) {
            const auto* deleting = std::get_if<Engine::Deleting>(&event);
            if (stopAtSecondItem && deleting && deleting->index == 1) stopFromWorker(isCancelled);
            onEvent(event);
        }, vouched);
    };
    vm = realCardPrep(backend);

    // A clean erase, the count after it held back; a still shot before that count ends is a
    // change the outcome is put away for.
    shootStills(root, drive, 2);
    pickAndCount(*vm, root);
    const ReportPtr report = scanCard(root, {drive});
    holdCount = true;
    eraseAcknowledged(report);
    ASSERT_TRUE(waitForEraseEnd(*vm));
    ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
    EXPECT_EQ(vm->gate(report).kind, Kind::checking) << "no verdict before the count of what the erase left";
    shootStills(root, {}, 1, 7);
    QTest::qWait(300);  // the change seen while the count is still held
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
    holdCount = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->preview() && vm->preview()->fileCount == 1 && !vm->isCounting(); },
                                30'000));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::changedSinceScan);
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Idle>(vm->phase()));

    // A stopped erase: what it left is counted before any count is shown, and the outcome stays
    // when nothing was added.
    for (const auto& name : topLevel(root))
        if (name != "lost+found") fs::remove_all(root / name);  // the camera folders too: three files alone
    for (const char* name : {"A001.MOV", "A002.MOV", "A003.MOV"}) writeFile(root / name, name);
    pickAndCount(*vm, root);
    const ReportPtr again = scanCard(root, {drive});
    holdCount = true;
    stopAtSecondItem = true;
    vm->setSelectedProfileID("red");
    eraseAcknowledged(again);
    ASSERT_TRUE(waitForEraseEnd(*vm));
    const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->summary.cancelled);
    EXPECT_FALSE(done->summary.untouched);
    EXPECT_EQ(done->summary.filesDeleted, 1);
    EXPECT_FALSE(vm->preview().has_value()) << "no count is shown before the card is counted";
    EXPECT_TRUE(vm->isCounting());
    holdCount = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return vm->preview() && !vm->isCounting(); }, 30'000));
    EXPECT_EQ(vm->preview()->fileCount, 2);
    EXPECT_EQ(vm->gate(again).kind, Kind::erasedSinceScan);
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
}

}  // namespace
}  // namespace brindlecove::testing
