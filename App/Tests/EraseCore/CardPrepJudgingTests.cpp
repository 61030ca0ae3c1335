// The gate says only what it knows: while a card of 1, 2 or 1,000 files is counted and its
// renumbered files read again it has no verdict and Erase waits, the verdict coming with the
// answer; a recount does the same; an erase runs on the verdict it started with and the card
// is erased since the scan only once the erase ended. A folder of real files stands in for a
// card on a file system that numbers files afresh; the volume facts are scripted.

#include "Support/AppTestSandbox.hpp"
#include "Support/EraseFixtures.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using Kind = VerificationStanding::Kind;
using tessaline::MatchStatus;

const tessaline::VolumeIdentity identity{.uuid = "3B1E-77C0", .name = "CARD"};

class CardPrepJudgingTest : public AppSandboxedTest {
protected:
    // The held backend calls read this fixture from the application's workers: released and
    // waited for before it is gone, also when a test ends early.
    void TearDown() override {
        holdCount = false;
        holdErase = false;
        EXPECT_TRUE(Executor::shared().waitForDone(60'000));
        AppSandboxedTest::TearDown();
    }

    // A card of `n` clips, each proven on a drive, and a report whose records the card's file
    // system has since numbered afresh.
    ReportPtr renumberedCard(int n) {
        root = sandbox / ("CARD" + std::to_string(n));
        std::vector<tessaline::MatchResult> results;
        for (int i = 0; i < n; ++i) {
            const fs::path file = root / "DCIM" / ("IMG_" + std::to_string(i) + ".JPG");
            fs::create_directories(file.parent_path());
            std::ofstream(file) << "frame " << i;
            tessaline::MatchResult result;
            result.group.primaryFiles.push_back(
                tessaline::Fingerprint{.url = file, .byteSize = int64_t(fs::file_size(file))});
            result.status = MatchStatus::confirmed(sandbox / "drive" / file.filename());
            results.push_back(std::move(result));
        }
        tessaline::CardFileSet set = tessaline::CardFileSet::read(root);
        std::vector<std::string> all;
        for (const auto& record : set.files) all.push_back(record.relative);
        tessaline::CardFileComparison::readAgain(root, set.files, all);
        for (auto& record : set.files) record.inode += 1'000'000;
        auto mount = set.mount;
        if (mount) mount->keepsInodeNumbers = false;
        return std::make_shared<const tessaline::VerificationReport>(
            root, std::vector<fs::path>{}, 0.0, std::move(results), identity, std::vector<fs::path>{},
            std::vector<tessaline::OtherFile>{}, std::move(set.files), mount);
    }

    std::unique_ptr<CardPrepViewModel> viewModel() {
        CardPrepBackend backend = CardPrepBackend::standard();
        backend.validate = [this](const fs::path&) {
            tessaline::CardPrepEngine::CheckedCard checked;
            checked.card = tessaline::CardPrepEngine::CardFacts{root, 7, std::string("3B1E-77C0"), 1};
            return checked;
        };
        backend.readIdentity = [](const fs::path&) { return std::optional(identity); };
        backend.isMounted = [](const fs::path&) { return true; };
        backend.computePreview = [this, real = backend.computePreview](const fs::path& card) {
            while (holdCount) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            CardContents contents = real(card);
            if (contents.filesMount) contents.filesMount->keepsInodeNumbers = false;
            return contents;
        };
        backend.walkCardFiles = [real = backend.walkCardFiles](const fs::path& card) {
            auto set = real(card);
            if (set && set->mount) set->mount->keepsInodeNumbers = false;
            return set;
        };
        backend.prepare = [this](const fs::path&, const auto&, const auto&, const auto&, const auto&, const auto&) {
            erasing = true;
            while (holdErase) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return tessaline::CardPrepEngine::Summary{1, 10, {}, {}, false, {}, 1};
        };
        auto vm = realCardPrep(backend);
        vm->takeCard(qstr(root));
        return vm;
    }

    // Every verdict the view model published until `done`, with whether Erase could start.
    struct Seen {
        std::vector<VerificationStanding> standings;
        bool safeWhileJudging = false;  // "safe" while a count or check was under way
        bool erasableWhileJudging = false;
        std::optional<CardPrepViewModel::Checking> lastChecking;
    };
    Seen watch(CardPrepViewModel& vm, const ReportPtr& report, const std::function<bool()>& done) {
        Seen seen;
        auto look = [&] {
            const VerificationStanding now = vm.gate(report);
            seen.standings.push_back(now);
            const bool judging = vm.isCounting() || vm.checking().has_value();
            if (judging && now.isSafe()) seen.safeWhileJudging = true;
            if (judging && vm.canRun(now)) seen.erasableWhileJudging = true;
            if (vm.checking() && vm.checking()->total > 0) seen.lastChecking = vm.checking();
        };
        auto connection = QObject::connect(&vm, &CardPrepViewModel::changed, look);
        look();
        EXPECT_TRUE(QTest::qWaitFor(done, 30'000));
        QObject::disconnect(connection);
        look();
        return seen;
    }

    fs::path root;
    std::atomic<bool> holdCount{false}, holdErase{false}, erasing{false};
};

TEST_F(CardPrepJudgingTest, NoVerdictUntilTheCountAndCheckAnswerAndEraseWaitsMeanwhile) {
    for (int n : {1, 2, 1000}) {
        SCOPED_TRACE(n);
        const ReportPtr report = renumberedCard(n);
        auto vm = viewModel();
        vm->setConfirmationText("card" + QString::number(n));
        const Seen seen = watch(*vm, report, [&] {
            return !vm->isBusy() && !vm->isCounting() && !vm->checking() && vm->gate(report).kind != Kind::checking;
        });
        EXPECT_FALSE(seen.safeWhileJudging) << "\"Verified\" beside the check";
        EXPECT_FALSE(seen.erasableWhileJudging);
        EXPECT_EQ(seen.standings.front().kind, Kind::checking);
        ASSERT_TRUE(seen.lastChecking);
        EXPECT_EQ(seen.lastChecking->total, n) << "every renumbered file is read again";
        EXPECT_EQ(seen.standings.back(), (VerificationStanding{Kind::safe, n})) << "the verdict comes with the answer";
        EXPECT_TRUE(vm->canRun(seen.standings.back()));

        // Counted again (the section shown again): no verdict and no Erase until it is in.
        holdCount = true;
        vm->recount();
        EXPECT_EQ(vm->gate(report).kind, Kind::checking);
        EXPECT_FALSE(vm->canRun(vm->gate(report)));
        EXPECT_FALSE(vm->runChecked(report));
        holdCount = false;
        EXPECT_EQ(verdictOf(*vm, report), (VerificationStanding{Kind::safe, n}));
    }
}

TEST_F(CardPrepJudgingTest, AnEraseRunsOnItsVerdictAndTheCardIsErasedOnlyOnceItEnded) {
    const ReportPtr report = renumberedCard(2);
    auto vm = viewModel();
    ASSERT_EQ(verdictOf(*vm, report).kind, Kind::safe);
    vm->setConfirmationText("CARD2");
    holdErase = true;
    ASSERT_TRUE(vm->runChecked(report));
    const Seen seen = watch(*vm, report, [&] { return erasing.load(); });
    for (const auto& standing : seen.standings)
        EXPECT_EQ(standing, (VerificationStanding{Kind::safe, 2})) << "the verdict the erase started with";
    holdErase = false;
    ASSERT_TRUE(waitForEraseEnd(*vm));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::erasedSinceScan) << "once it is so";
}

}  // namespace
}  // namespace brindlecove::testing
