#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ReportFixtures.hpp"

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/ForwardingCopyIO.hpp"
#include "Tessaline/Report/LogArchive.hpp"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>

using namespace brindlecove;
using namespace brindlecove::testing;
using tessaline::MatchStatus;
namespace fs = std::filesystem;

namespace {

// The real file calls, holding the first created copy until released: a run stopped there
// is stopped mid-run, deterministically.
class GateIO : public tessaline::ForwardingCopyIO {
public:
    int open(const char* path, int flags, mode_t mode) override {
        if (flags & O_CREAT) {
            std::unique_lock lock(mutex_);
            if (!reached_) {
                reached_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
            }
        }
        return ForwardingCopyIO::open(path, flags, mode);
    }

    bool waitUntilReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return reached_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reached_ = false;
    bool released_ = false;
};

class MissingSyncTest : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        card = sandbox.path() / "card";
        drive = sandbox.path() / "drive";
        fs::create_directories(drive / "Shoot" / "Day1");
        fs::create_directories(drive / "Shoot" / "Day2");
    }

    // `missing` clips of `size` bytes on the card (each with an XML sidecar when asked) and
    // two clips confirmed on the drive's Shoot folder.
    std::shared_ptr<const tessaline::VerificationReport> cardReport(int missing, size_t size, bool sidecars = true) {
        std::vector<tessaline::MatchResult> results;
        for (int i = 0; i < missing; ++i) {
            auto name = "C00" + std::to_string(10 + i);
            auto media = card / "DCIM" / (name + ".MP4");
            tessaline::testing::writePatternFile(media, size, static_cast<unsigned>(i + 1));
            std::vector<fs::path> side;
            if (sidecars) {
                side.push_back(card / "DCIM" / (name + "M01.XML"));
                tessaline::testing::writeFile(side.back(), "<xml>" + name + "</xml>");
            }
            results.push_back(clip({fingerprint(media, static_cast<int64_t>(size))}, MatchStatus::missing(), side));
        }
        results.push_back(clip({fingerprint(card / "DCIM/A.MP4", 5)}, MatchStatus::confirmed(drive / "Shoot/Day1/A.MP4")));
        results.push_back(clip({fingerprint(card / "DCIM/B.MP4", 5)}, MatchStatus::confirmed(drive / "Shoot/Day2/B.MP4")));
        return withCardFiles(*makeReport(std::move(results), card));
    }

    MissingSyncViewModel::Dependencies deps(std::optional<QString> picked = std::nullopt) {
        MissingSyncViewModel::Dependencies d;
        d.dialogs.chooseFolder = [this, picked](const FolderRequest& request) {
            lastRequest = request;
            return picked;
        };
        d.bookmarkStoreURL = sandbox.path() / "bookmarks.json";
        return d;
    }

    static const tessaline::TransferLog* finished(const MissingSyncViewModel& vm) {
        const auto* done = std::get_if<MissingSyncViewModel::Done>(&vm.phase());
        return done ? &done->log : nullptr;
    }

    fs::path card;
    fs::path drive;
    FolderRequest lastRequest;
};

}  // namespace

TEST_F(MissingSyncTest, RescuesEveryMissingFileWithItsSidecarsAndFilesTheLogOnce) {
    MissingSyncViewModel vm(deps());
    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    auto report = cardReport(3, 300'000);

    vm.adoptSuggestionIfNeeded(*report);
    ASSERT_TRUE(vm.destination());
    EXPECT_EQ(*vm.destination(), qtPath(drive / "Shoot"));
    EXPECT_TRUE(vm.destinationIsSuggested());

    std::vector<MissingSyncViewModel::Running> seen;
    QObject::connect(&vm, &MissingSyncViewModel::changed, [&] {
        if (auto* r = std::get_if<MissingSyncViewModel::Running>(&vm.phase())) seen.push_back(*r);
    });
    vm.start(*report);
    ASSERT_TRUE(vm.isRunning());
    EXPECT_EQ(vm.runningNoun(), "rescue copy");
    const qint64 planned = 3 * 300'000 + 3 * std::string("<xml>C0010</xml>").size();
    EXPECT_EQ(std::get<MissingSyncViewModel::Running>(vm.phase()), (MissingSyncViewModel::Running{"", 0, planned}));

    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }, 30'000));
    const auto& log = *finished(vm);
    EXPECT_FALSE(vm.wasStopped());
    EXPECT_TRUE(log.allVerified());
    EXPECT_EQ(log.fileCount(), 6);
    EXPECT_EQ(log.destinationURL, drive / "Shoot");
    EXPECT_FALSE(vm.runningNoun());
    // Flat by default: next to the media already there, primaries then sidecars per clip.
    EXPECT_EQ(log.outcomes[0].relativePath, "DCIM/C0010.MP4");
    EXPECT_EQ(log.outcomes[1].relativePath, "DCIM/C0010M01.XML");
    for (int i = 0; i < 3; ++i) {
        auto name = "C00" + std::to_string(10 + i);
        EXPECT_EQ(tessaline::testing::readFile(drive / "Shoot" / (name + ".MP4")),
                  tessaline::testing::readFile(card / "DCIM" / (name + ".MP4")));
        EXPECT_TRUE(fs::exists(drive / "Shoot" / (name + "M01.XML")));
    }
    // Progress came from the engine, with the names of the files being copied.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().total, planned);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const auto& r) { return r.fileName == "C0011.MP4"; }));
    EXPECT_EQ(ReportTexts::outcome(log, vm.wasStopped()).text, "All 6 missing files copied and verified byte-for-byte.");

    ASSERT_TRUE(waitFor([&] { return archived.count() >= 1; }));
    drainEvents();
    EXPECT_EQ(archived.count(), 1);
}

// A rescue into a folder that already holds its files checks them there one by one, then
// looks at the card again (the files it proved, then every file the scan listed, on one
// count); all say how far they are.
TEST_F(MissingSyncTest, ARescueShowsItsChecksOfFilesOnTheDriveAndOfTheCard) {
    using Check = tessaline::CopyEngine::CheckingEvent;
    auto report = cardReport(2, 300'000);
    ASSERT_TRUE(report->cardFiles);
    const int listed = static_cast<int>(report->cardFiles->size());
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "rescued again" : "first rescue");
        MissingSyncViewModel vm(deps(qtPath(drive / "Shoot")));
        vm.pickDestination();
        std::vector<Check> checks;
        QObject::connect(&vm, &MissingSyncViewModel::changed, [&] {
            const auto* r = std::get_if<MissingSyncViewModel::Running>(&vm.phase());
            if (r && r->checking && (checks.empty() || checks.back() != *r->checking)) checks.push_back(*r->checking);
        });
        vm.start(*report);
        ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }, 30'000));
        EXPECT_TRUE(finished(vm)->allVerified());
        std::vector<int> onDrive;
        std::vector<Check> looks;
        bool readBack = false;
        for (const Check& check : checks) {
            if (check.phase == Check::Phase::filesOnDrive && (onDrive.empty() || onDrive.back() != check.done))
                onDrive.push_back(check.done);
            if (check.phase == Check::Phase::cardAgain) looks.push_back(check);
            readBack |= check.phase == Check::Phase::readBack;
        }
        EXPECT_EQ(onDrive, again ? (std::vector<int>{1, 2, 3, 4}) : std::vector<int>{});
        EXPECT_EQ(readBack, !again) << "a copy is read back; a file found on the drive is not copied";
        ASSERT_GE(looks.size(), 3u);
        EXPECT_EQ(looks.front(), (Check{Check::Phase::cardAgain, 0, 4 + listed}));
        EXPECT_EQ(looks[1], (Check{Check::Phase::cardAgain, 4, 4 + listed})) << "the copy's look, at its proven files";
        EXPECT_EQ(looks.back(), (Check{Check::Phase::cardAgain, 4 + listed, 4 + listed}));
    }
}

// The rescue's closing look at a card whose file system numbers files afresh reads the files
// the kernel forgot since the scan, and counts each as it is read; the section is never left
// on a count that stands still while the card is read.
TEST_F(MissingSyncTest, TheRescuesLookAtARenumberedCardCountsTheFilesItReads) {
    TESSALINE_REQUIRE_ROOT();
    using Check = tessaline::CopyEngine::CheckingEvent;
    tessaline::testing::LoopVolume volume("exfat", 64, "CARD");
    card = volume.mountPoint();
    // The scan read every card file: its records carry the digests of their bytes.
    auto report = std::make_shared<tessaline::VerificationReport>(*cardReport(3, 2'000'000));
    ASSERT_EQ(report->cardFiles->size(), 6u);
    for (auto& record : *report->cardFiles) record.digest = tessaline::ChecksumEngine().hash(card / record.relative);
    tessaline::testing::LoopVolume::dropCaches();  // every card file gets a new number

    MissingSyncViewModel vm(deps(qtPath(drive / "Shoot")));
    vm.pickDestination();
    std::vector<Check> looks;
    QObject::connect(&vm, &MissingSyncViewModel::changed, [&] {
        const auto* r = std::get_if<MissingSyncViewModel::Running>(&vm.phase());
        if (r && r->checking && r->checking->phase == Check::Phase::cardAgain &&
            (looks.empty() || looks.back() != *r->checking))
            looks.push_back(*r->checking);
    });
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }, 60'000));
    EXPECT_EQ(finished(vm)->verifiedCount(), 6);

    // One count over both looks, never going back: the copy's 6 proven files, then the 6 the
    // scan listed, each read and counted.
    ASSERT_FALSE(looks.empty());
    std::vector<int> counted;
    for (size_t i = 0; i < looks.size(); ++i) {
        EXPECT_EQ(looks[i].total, 12);
        if (i > 0) EXPECT_GE(looks[i].done, looks[i - 1].done);
        counted.push_back(looks[i].done);
    }
    EXPECT_EQ(counted.back(), 12);
    for (int done = 7; done <= 12; ++done)
        EXPECT_NE(std::find(counted.begin(), counted.end(), done), counted.end()) << "never showed " << done;
    EXPECT_EQ(TransferTexts::checking(looks.back()), "Checking the card again… 12 of 12");
}

TEST_F(MissingSyncTest, ACardThatChangedSinceItsScanIsNotCalledSafeByTheRescue) {
    MissingSyncViewModel vm(deps(qtPath(drive / "Shoot")));
    auto report = cardReport(1, 1000);
    vm.pickDestination();
    tessaline::testing::writeFile(card / "DCIM/C0099.MP4", "written after the scan");
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
    const auto& log = *finished(vm);
    EXPECT_EQ(log.verifiedCount(), 2);
    EXPECT_FALSE(log.allVerified());
    ASSERT_EQ(log.cardFilesNotProven().size(), 1u);
    EXPECT_EQ(log.cardFilesNotProven()[0].relativePath, "DCIM/C0099.MP4");
    EXPECT_EQ(log.cardFilesNotProven()[0].reason, "changed on the card since the scan — scan again");
    const auto outcome = ReportTexts::outcome(log, false);
    EXPECT_EQ(outcome.tone, ReportTexts::Tone::bad);
    EXPECT_TRUE(outcome.text.contains(QStringLiteral("DCIM/C0099.MP4"))) << outcome.text.toStdString();
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 0, false), "Re-run the Scan to see the copied files confirmed.");
}

TEST_F(MissingSyncTest, MirrorsTheCardsFoldersWhenAsked) {
    MissingSyncViewModel vm(deps());
    auto report = cardReport(1, 1000, false);
    vm.adoptSuggestionIfNeeded(*report);
    vm.setPreserveStructure(true);
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
    EXPECT_TRUE(fs::exists(drive / "Shoot" / "DCIM" / "C0010.MP4"));
    EXPECT_TRUE(finished(vm)->preserveStructure);
}

TEST_F(MissingSyncTest, ARescueLogTheChosenLogsFolderCannotTakeIsFiledByDefaultAndSaysWhere) {
    const fs::path chosen = sandbox.path() / "Shoot Logs";
    fs::create_directories(chosen);
    ASSERT_TRUE(LogArchiveProvider::shared().chooseFolder(chosen));
    tessaline::testing::writeFile(chosen / "Brindlecove Logs", "a file where the archive's folder should be");
    MissingSyncViewModel vm(deps());
    auto report = cardReport(1, 1000);
    vm.adoptSuggestionIfNeeded(*report);
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return vm.filingNotice().has_value(); }, 30'000));
    const auto defaultLogs = tessaline::LogArchive::defaultArchive().list();
    ASSERT_EQ(defaultLogs.size(), 1u);
    EXPECT_TRUE(vm.filingNotice()->endsWith(" \u2014 it was saved in " + qtPath(defaultLogs[0].directory) + " instead."))
        << vm.filingNotice()->toStdString();
    EXPECT_NE(vm.filingNotice()->indexOf("Not a directory"), -1);
}

TEST_F(MissingSyncTest, StopEndsWithTheFilesHandledSoFar) {
    auto gate = std::make_shared<GateIO>();
    auto d = deps();
    d.copyIO = gate;
    MissingSyncViewModel vm(d);
    // More files than one batch writes ahead, so the stop leaves some of them uncopied.
    auto report = cardReport(70, 20'000, false);
    vm.adoptSuggestionIfNeeded(*report);
    vm.start(*report);
    ASSERT_TRUE(gate->waitUntilReached());
    vm.stop();
    gate->release();
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }, 30'000));
    const auto& log = *finished(vm);
    EXPECT_TRUE(vm.wasStopped());
    EXPECT_TRUE(log.wasCancelled);
    EXPECT_EQ(log.plannedFileCount, 70);
    EXPECT_LT(log.fileCount(), 70);
    // Copies proven ahead of the stop in the same batch stay (a proven copy under its final
    // name is never removed) and the stopped run's log lists each of them, as verified:
    // the log and the destination agree. Nothing temporary is left.
    std::set<fs::path> onDisk, listed;
    for (const auto& entry : fs::directory_iterator(drive / "Shoot")) {
        if (!entry.is_regular_file()) continue;
        onDisk.insert(entry.path());
        EXPECT_NE(entry.path().filename().native().front(), '.') << entry.path();
    }
    for (const auto& outcome : log.outcomes) {
        EXPECT_EQ(outcome.status.kind, tessaline::CopyEngine::FileStatus::Kind::copiedVerified);
        listed.insert(outcome.destinationURL);
    }
    EXPECT_EQ(listed, onDisk);
    EXPECT_TRUE(ReportTexts::outcome(log, true).text.startsWith("Stopped early — "));
}

TEST_F(MissingSyncTest, ANewReportPutsAwayTheOutcomeOfTheRescueBeforeIt) {
    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    auto gate = std::make_shared<GateIO>();
    auto d = deps();
    d.copyIO = gate;
    MissingSyncViewModel vm(d);
    auto report = cardReport(1, 1000);
    vm.adoptSuggestionIfNeeded(*report);

    // The report is replaced while its rescue copies: the copy goes on and is filed, but its
    // outcome is not shown under the new report.
    vm.start(*report);
    ASSERT_TRUE(gate->waitUntilReached());
    vm.reportReplaced();
    EXPECT_TRUE(vm.isRunning());
    gate->release();
    ASSERT_TRUE(waitFor([&] { return !vm.runningNoun() && archived.count() == 1; }, 30'000));
    EXPECT_TRUE(std::holds_alternative<MissingSyncViewModel::Idle>(vm.phase()));
    EXPECT_TRUE(fs::exists(drive / "Shoot" / "C0010.MP4"));

    // A finished rescue of this report shows its outcome until a new report arrives; the
    // destination stays for the next rescue.
    fs::remove(drive / "Shoot" / "C0010.MP4");
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }, 30'000));
    vm.reportReplaced();
    EXPECT_TRUE(std::holds_alternative<MissingSyncViewModel::Idle>(vm.phase()));
    EXPECT_FALSE(vm.wasStopped());
    EXPECT_EQ(vm.destination(), qtPath(drive / "Shoot"));
    EXPECT_TRUE(vm.destinationIsSuggested());
    ASSERT_TRUE(waitFor([&] { return archived.count() == 2; }));
}

TEST_F(MissingSyncTest, ADestinationThatIsGoneFailsEveryFileAndCreatesNothing) {
    const QString picked = qtPath(drive / "Shoot" / "Rescue");
    fs::create_directories(drive / "Shoot" / "Rescue");
    MissingSyncViewModel vm(deps(picked));
    auto report = cardReport(2, 1000);
    vm.pickDestination();
    ASSERT_EQ(vm.destination(), picked);
    fs::remove(drive / "Shoot" / "Rescue");  // the drive's folder is no longer there

    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
    const auto& log = *finished(vm);
    EXPECT_EQ(log.fileCount(), 4);
    EXPECT_EQ(log.failedCount(), 4);
    for (const auto& outcome : log.outcomes)
        EXPECT_EQ(outcome.status.reason, RescueDestination::unavailableText(picked).toStdString());
    EXPECT_FALSE(fs::exists(drive / "Shoot" / "Rescue"));
    EXPECT_EQ(ReportTexts::outcome(log, vm.wasStopped()).tone, ReportTexts::Tone::bad);
}

TEST_F(MissingSyncTest, FailedFilesGoneFromTheCardAreToldApartAndTheLogIsTheLatestTransfer) {
    const QString picked = qtPath(drive / "Shoot");
    MissingSyncViewModel vm(deps(picked));
    CopyViewModel copy{CopyViewModel::Dependencies{}};
    LatestTransfer latest(&copy, &vm);
    QSignalSpy latestChanged(&latest, &LatestTransfer::lastLogChanged);
    auto report = cardReport(2, 1000, false);
    vm.pickDestination();
    fs::remove(card / "DCIM/C0010.MP4");  // deleted from the card after the scan

    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
    auto done = std::get<MissingSyncViewModel::Done>(vm.phase());
    EXPECT_EQ(done.log.failedCount(), 1);
    EXPECT_EQ(done.goneFromCard, 1);
    EXPECT_EQ(ReportTexts::outcome(done.log, false, done.goneFromCard).text,
              "1 of 2 files failed — those are no longer on the card. Details in the Production Log tab.");
    // The Production Log's source follows the rescue.
    ASSERT_TRUE(vm.lastLog());
    EXPECT_EQ(*vm.lastLog(), done.log);
    EXPECT_EQ(latest.lastLog(), vm.lastLog());
    EXPECT_EQ(latestChanged.count(), 1);

    // A rescue whose files all fail while still on the card; then one of them goes.
    tessaline::testing::writePatternFile(card / "DCIM/C0010.MP4", 1000, 1);
    fs::create_directories(drive / "Gone");
    MissingSyncViewModel failing(deps(qtPath(drive / "Gone")));
    LatestTransfer both(&copy, &failing);
    failing.pickDestination();
    fs::remove(drive / "Gone");
    failing.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(failing) != nullptr; }));
    EXPECT_EQ(std::get<MissingSyncViewModel::Done>(failing.phase()).goneFromCard, 0);
    fs::remove(card / "DCIM/C0011.MP4");
    failing.recheckCard();
    ASSERT_TRUE(waitFor([&] { return std::get<MissingSyncViewModel::Done>(failing.phase()).goneFromCard == 1; }));
    // A copy that finishes later is the latest transfer.
    auto copyLog = std::make_shared<const tessaline::TransferLog>();
    copy.setLastLog(copyLog);
    EXPECT_EQ(both.lastLog(), copyLog);
    EXPECT_EQ(latest.lastLog(), copyLog);
}

TEST_F(MissingSyncTest, ADriveUnmountedAfterChoosingLeavesTheSystemDiskUntouched) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume volume("ext4", 32, "RESCUE");
    fs::create_directories(volume.mountPoint() / "Shoot");
    auto report = cardReport(2, 1000);
    for (const fs::path& target : {volume.mountPoint() / "Shoot", volume.mountPoint()}) {
        if (volume.mountPoint() / "Shoot" != target) volume.remount();
        MissingSyncViewModel vm(deps(qtPath(target)));
        vm.pickDestination();
        volume.unmount();  // the mount point stays behind as an empty folder on this disk
        vm.start(*report);
        ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
        EXPECT_EQ(finished(vm)->failedCount(), 4) << target;
        EXPECT_TRUE(fs::is_empty(volume.mountPoint())) << target;
    }
}

TEST_F(MissingSyncTest, PreconditionsFailSilently) {
    MissingSyncViewModel vm(deps());
    QSignalSpy changed(&vm, &MissingSyncViewModel::changed);
    auto report = cardReport(1, 100);
    vm.start(*report);  // no destination
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(std::holds_alternative<MissingSyncViewModel::Idle>(vm.phase()));

    vm.adoptSuggestionIfNeeded(*report);
    changed.clear();
    vm.start(*countsReport(0, 2));  // nothing missing
    EXPECT_EQ(changed.count(), 0);
    EXPECT_FALSE(vm.runningNoun());
}

TEST_F(MissingSyncTest, SuggestionsFollowNewReportsButNeverReplaceAPickedFolder) {
    const QString picked = qtPath(sandbox.path() / "elsewhere");
    fs::create_directories(sandbox.path() / "elsewhere");
    auto d = deps(picked);
    MissingSyncViewModel vm(d);
    auto first = cardReport(1, 100);
    vm.adoptSuggestionIfNeeded(*first);
    EXPECT_EQ(vm.destination(), qtPath(drive / "Shoot"));

    // A newer report with another common folder replaces a suggestion...
    fs::create_directories(drive / "Other" / "Day3");
    auto second = makeReport({clip({fingerprint(card / "X.MP4", 1)}, MatchStatus::confirmed(drive / "Other/Day3/X.MP4")),
                              clip({fingerprint(card / "Y.MP4", 1)}, MatchStatus::missing())},
                             card);
    vm.adoptSuggestionIfNeeded(*second);
    EXPECT_EQ(vm.destination(), qtPath(drive / "Other" / "Day3"));
    // ...a report without one clears it (it belongs to the other card's report)...
    vm.adoptSuggestionIfNeeded(*countsReport(1, 0));
    EXPECT_FALSE(vm.destination());
    EXPECT_FALSE(vm.destinationIsSuggested());
    vm.adoptSuggestionIfNeeded(*second);
    EXPECT_EQ(vm.destination(), qtPath(drive / "Other" / "Day3"));
    // ...and a picked folder stays, also under a report without a suggestion. The panel
    // starts at the current destination.
    vm.pickDestination();
    EXPECT_EQ(lastRequest.startFolder, qtPath(drive / "Other" / "Day3"));
    EXPECT_EQ(lastRequest.prompt, "Select Folder");
    EXPECT_TRUE(lastRequest.canCreateFolders);
    EXPECT_EQ(vm.destination(), picked);
    EXPECT_FALSE(vm.destinationIsSuggested());
    vm.adoptSuggestionIfNeeded(*first);
    EXPECT_EQ(vm.destination(), picked);
    vm.adoptSuggestionIfNeeded(*countsReport(1, 0));
    EXPECT_EQ(vm.destination(), picked);
}

TEST_F(MissingSyncTest, PickingAFolderClearsAFinishedRunAndCancellingChangesNothing) {
    const QString picked = qtPath(drive / "Shoot");
    std::optional<QString> answer;
    auto d = deps();
    d.dialogs.chooseFolder = [&](const FolderRequest&) { return answer; };
    MissingSyncViewModel vm(d);
    auto report = cardReport(1, 100);
    vm.adoptSuggestionIfNeeded(*report);
    vm.start(*report);
    ASSERT_TRUE(waitFor([&] { return finished(vm) != nullptr; }));
    vm.pickDestination();  // cancelled
    EXPECT_TRUE(finished(vm));
    EXPECT_TRUE(vm.destinationIsSuggested());
    answer = picked;
    vm.pickDestination();
    EXPECT_TRUE(std::holds_alternative<MissingSyncViewModel::Idle>(vm.phase()));
    EXPECT_FALSE(vm.destinationIsSuggested());
}

TEST_F(MissingSyncTest, WithoutADestinationThePanelOpensWhereDrivesMountElseAtHome) {
    MissingSyncViewModel vm(deps());
    vm.pickDestination();
    const QString mounts = RemovableMounts::parentFolder();
    EXPECT_EQ(lastRequest.startFolder, mounts.isEmpty() ? QDir::homePath() : mounts);
    EXPECT_FALSE(lastRequest.startFolder.isEmpty());
}

TEST(MissingSyncFiles, PrimariesThenSidecarsWithSizesFromDisk) {
    tessaline::testing::TempFolder folder;
    tessaline::testing::writeFile(folder.path() / "A.XML", "12345");
    auto report = makeReport({clip({fingerprint("/c/A.CR3", 10), fingerprint("/c/A.JPG", 20)}, MatchStatus::missing(),
                                   {folder.path() / "A.XML", folder.path() / "gone.XMP"}),
                              clip({fingerprint("/c/B.MOV", 7)}, MatchStatus::confirmed("/d/B.MOV"))});
    auto files = MissingSyncViewModel::filesToRescue(*report);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].url, "/c/A.CR3");
    EXPECT_EQ(files[1].url, "/c/A.JPG");
    EXPECT_EQ(files[1].byteSize, 20);
    EXPECT_EQ(files[2].kind, tessaline::MediaFile::Kind::sidecar);
    EXPECT_EQ(files[2].byteSize, 5);
    EXPECT_EQ(files[3].byteSize, 0);
}

TEST(MissingSyncFiles, OnlyTheMembersWithoutAProvenCopyAreCopiedWithTheSidecars) {
    // A pair whose JPEG the scan proved, a burst missing its first and third stills.
    auto pair = clip({fingerprint("/c/A.ARW", 10), fingerprint("/c/A.JPG", 20)}, MatchStatus::missing(), {"/c/A.XMP"});
    pair.membersProven = {false, true};
    auto burst = clip({fingerprint("/c/B1.JPG", 1), fingerprint("/c/B2.JPG", 2), fingerprint("/c/B3.JPG", 3)},
                      MatchStatus::missing());
    burst.membersProven = {false, true, false};
    auto report = makeReport({pair, burst, clip({fingerprint("/c/C.MOV", 7)}, MatchStatus::confirmed("/d/C.MOV"))});
    std::vector<std::string> copied;
    for (const auto& file : MissingSyncViewModel::filesToRescue(*report)) copied.push_back(file.url.native());
    EXPECT_EQ(copied, (std::vector<std::string>{"/c/A.ARW", "/c/A.XMP", "/c/B1.JPG", "/c/B3.JPG"}));
    EXPECT_EQ(MissingSyncViewModel::clipFilesToRescue(*report), 4);
}

TEST(MissingSyncFiles, OtherFilesOnlyOnTheCardFollowTheClipsOnce) {
    using tessaline::OtherFile;
    auto report = makeReport({clip({fingerprint("/c/A.MOV", 10)}, MatchStatus::missing(), {"/c/AM01.XML"}),
                              clip({fingerprint("/c/B.MOV", 7)}, MatchStatus::confirmed("/d/B.MOV"))});
    auto withOthers = std::make_shared<tessaline::VerificationReport>(*report);
    withOthers->otherFiles = {{"/c/AM01.XML", 3, OtherFile::Role::other, std::nullopt},  // already with its clip
                              {"/c/BM01.XML", 4, OtherFile::Role::sidecar, std::nullopt},
                              {"/c/INDEX.BDM", 5, OtherFile::Role::other, std::nullopt},
                              {"/c/NOTES.TXT", 6, OtherFile::Role::other, fs::path("/d/NOTES.TXT")}};
    auto files = MissingSyncViewModel::filesToRescue(*withOthers);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[1].url, "/c/AM01.XML");
    EXPECT_EQ(files[2].url, "/c/BM01.XML");
    EXPECT_EQ(files[2].kind, tessaline::MediaFile::Kind::sidecar);
    EXPECT_EQ(files[3].url, "/c/INDEX.BDM");
    EXPECT_EQ(files[3].kind, tessaline::MediaFile::Kind::other);
    EXPECT_EQ(files[3].byteSize, 5);

    // With no clip missing, the other files alone are a rescue of their own.
    auto othersOnly = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 2));
    othersOnly->otherFiles = {{"/c/INDEX.BDM", 5, OtherFile::Role::other, std::nullopt}};
    EXPECT_EQ(MissingSyncViewModel::filesToRescue(*othersOnly).size(), 1u);
    EXPECT_EQ(ReportTexts::countsOf(*othersOnly).toRescue(), 1);
    EXPECT_EQ(ReportTexts::syncButtonTitle(ReportTexts::countsOf(*othersOnly).missing,
                                           static_cast<int>(MissingSyncViewModel::filesToRescue(*othersOnly).size())),
              "Sync 1 Missing File to Drive");
}
