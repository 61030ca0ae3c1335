// The scan worker on real media: parallel fingerprinting against one thread, stops inside
// and after the byte proof, unreadable card folders, drives that lie on the card.

#include "ScanCardFixture.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <map>
#include <set>
#include <sstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::ScanCardFixture;
using testing::TestMedia;
using testing::writeDistinctMedia;
using tessaline::MatchStatus;
using tessaline::VerificationReport;

class ScanRunTest : public testing::AppSandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    // Grants `folder` in the test's grants file and returns its label.
    std::string grant(const fs::path& folder) const {
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(folder);
        return tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
    }

    ScanRun::Environment environment(int threads) const {
        ScanRun::Environment environment;
        environment.bookmarkStoreURL = grantsFile();
        environment.openCache = [] { return nullptr; };
        environment.fingerprintThreads = threads;
        return environment;
    }

    struct Recorded {
        std::vector<ScanEvent> events;
        ScanOutcome outcome;
    };

    Recorded run(const ScanRequest& request, const ScanRun::Environment& environment,
                 std::function<bool(const std::vector<ScanEvent>&)> stopWhen = {}) const {
        Recorded recorded;
        std::atomic<bool> stop{false};
        recorded.outcome = ScanRun::perform(
            request, environment, [&] { return stop.load(); },
            [&](const ScanEvent& event) {
                recorded.events.push_back(event);
                if (stopWhen && stopWhen(recorded.events)) stop = true;
            });
        return recorded;
    }

    static std::shared_ptr<const VerificationReport> reportOf(const Recorded& recorded) {
        auto* report = std::get_if<std::shared_ptr<const VerificationReport>>(&recorded.outcome);
        return report ? *report : nullptr;
    }
};

// The events without their times, which differ between any two runs.
std::vector<ScanEvent> withoutTimes(std::vector<ScanEvent> events) {
    for (ScanEvent& event : events) {
        std::visit(
            [](auto& e) {
                if constexpr (requires { e.elapsed; }) e.elapsed = 0;
            },
            event);
    }
    return events;
}

std::string describe(const VerificationReport& report) {
    std::ostringstream text;
    for (const auto& result : report.results) text << result.description() << "\n";
    return text.str();
}

TEST_F(ScanRunTest, ParallelFingerprintingGivesTheEventsAndResultsOfOneThread) {
    for (int i = 1; i <= 41; ++i)
        writeDistinctMedia(TestMedia::jpeg, card() / ("DCIM/" + std::to_string(i) + "/P" + std::to_string(i) + ".JPG"),
                           i);
    writeDistinctMedia(TestMedia::video, card() / "CLIPS/C1.MOV", 1);
    writeDistinctMedia(TestMedia::video, card() / "CLIPS/C2.MOV", 2);
    fs::path drive = sandbox / "Backup";
    for (int i = 1; i <= 30; ++i) writeDistinctMedia(TestMedia::jpeg, drive / ("copy" + std::to_string(i) + ".jpg"), i);
    writeDistinctMedia(TestMedia::video, drive / "v1.mov", 1);
    const std::string label = grant(drive);

    ScanRequest request{card(), {label}, false, false};
    Recorded one = run(request, environment(1));
    Recorded many = run(request, environment(8));
    ASSERT_TRUE(reportOf(one) && reportOf(many));
    EXPECT_EQ(withoutTimes(many.events), withoutTimes(one.events));
    EXPECT_EQ(describe(*reportOf(many)), describe(*reportOf(one)));
    EXPECT_EQ(reportOf(one)->confirmed().size(), 31u);
    EXPECT_EQ(reportOf(one)->missing().size(), 12u);

    std::vector<ScanEvent> cardPhotos;
    for (const ScanEvent& event : withoutTimes(one.events))
        if (auto* p = std::get_if<scan_event::CardProgress>(&event); p && p->kind == MediaKind::photos)
            cardPhotos.push_back(event);
    EXPECT_EQ(cardPhotos, (std::vector<ScanEvent>{scan_event::CardProgress{MediaKind::photos, 0, 41, 0},
                                                  scan_event::CardProgress{MediaKind::photos, 20, 41, 0},
                                                  scan_event::CardProgress{MediaKind::photos, 40, 41, 0},
                                                  scan_event::CardProgress{MediaKind::photos, 41, 41, 0}}));
    EXPECT_EQ(std::get<scan_event::DriveStarted>(one.events[6]).label, label);
}

// Drive paths are held as plain bytes through the walk, the fingerprints, the cache and the
// proofs: names that are not UTF-8 come out byte for byte, the drive's sidecar named by a card
// file is kept, and the cache keeps exactly the rows of files still on the drive.
TEST_F(ScanRunTest, DrivePathBytesSurviveIntoProofsAndCacheRows) {
    writeDistinctMedia(TestMedia::jpeg, card() / "DCIM/P1.JPG", 1);
    writeDistinctMedia(TestMedia::video, card() / "CLIPS/C0001.MOV", 2);
    tessaline::testing::writeFile(card() / "CLIPS/C0001M01.XML", "<clip/>");
    const fs::path drive = sandbox / "Backup";
    const fs::path folder = drive / std::string("Tag \xff\xfe caf\xe9");
    writeDistinctMedia(TestMedia::jpeg, folder / "P1.JPG", 1);
    writeDistinctMedia(TestMedia::video, folder / "C0001.MOV", 2);
    tessaline::testing::writeFile(folder / "C0001M01.XML", "<clip/>");
    tessaline::testing::writeFile(folder / "C0002M01.XML", "<unrelated/>");
    writeDistinctMedia(TestMedia::jpeg, drive / "gone.jpg", 3);
    const std::string label = grant(drive);

    const fs::path cacheFile = sandbox / "cache.db";
    ScanRun::Environment env = environment(4);
    env.openCache = [cacheFile] { return std::make_shared<tessaline::FingerprintIndex>(cacheFile); };
    const ScanRequest request{card(), {label}, false, false};
    Recorded first = run(request, env);
    ASSERT_TRUE(reportOf(first));
    const auto& report = *reportOf(first);
    ASSERT_EQ(report.confirmed().size(), 2u) << describe(report);
    std::set<std::string> proofs;
    for (const auto& result : report.results) proofs.insert(result.status.path().native());
    EXPECT_EQ(proofs, (std::set<std::string>{(folder / "C0001.MOV").native(), (folder / "P1.JPG").native()}));
    ASSERT_EQ(report.otherFiles.size(), 1u);
    ASSERT_TRUE(report.otherFiles[0].provenAt);
    EXPECT_EQ(report.otherFiles[0].provenAt->native(), (folder / "C0001M01.XML").native());

    const std::string driveKey = tessaline::volumeLabel(drive).value_or(drive.string());
    auto driveRows = [&] {
        std::set<std::string> paths;
        for (const auto& print : tessaline::FingerprintIndex(cacheFile).fingerprints(driveKey))
            paths.insert(print.url.native());
        return paths;
    };
    const std::set<std::string> all{(drive / "gone.jpg").native(), (folder / "C0001.MOV").native(),
                                    (folder / "P1.JPG").native()};
    EXPECT_EQ(driveRows(), all);

    // The next scan finds the drive's rows by their bytes, and a file gone from the drive
    // loses its row.
    fs::remove(drive / "gone.jpg");
    Recorded second = run(request, env);
    ASSERT_TRUE(reportOf(second));
    EXPECT_EQ(describe(*reportOf(second)), describe(report));
    bool resumed = false;
    for (const ScanEvent& event : second.events)
        if (auto* info = std::get_if<scan_event::ResumeInfo>(&event); info && info->sourceLabel == label)
            resumed = info->cached == 2 && info->total == 2;
    EXPECT_TRUE(resumed);
    EXPECT_EQ(driveRows(), (std::set<std::string>{(folder / "C0001.MOV").native(), (folder / "P1.JPG").native()}));
}

TEST_F(ScanRunTest, StopInsideOrRightAfterTheByteProofNeverGivesAReport) {
    ScanCardFixture::writeCard(card());
    ScanCardFixture::writeDrive(sandbox / "Backup");
    ScanRequest request{card(), {grant(sandbox / "Backup")}, false, false};

    Recorded inside = run(request, environment(4), [](const std::vector<ScanEvent>& events) {
        return std::holds_alternative<scan_event::VerifyingProgress>(events.back());
    });
    EXPECT_EQ(std::get<ScanFailure>(inside.outcome).message, "Scan stopped.");

    // Stopped as the last claim is proven: the verifier is done, but a stopped run is dropped.
    Recorded after = run(request, environment(4), [](const std::vector<ScanEvent>& events) {
        auto* progress = std::get_if<scan_event::VerifyingProgress>(&events.back());
        return progress && progress->completed == progress->total;
    });
    EXPECT_EQ(std::get<ScanFailure>(after.outcome).message, "Scan stopped.");
    auto* last = std::get_if<scan_event::VerifyingProgress>(&after.events.back());
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->completed, ScanCardFixture::confirmed);
}

TEST_F(ScanRunTest, EveryPartOfTheProofKeepsOneTotalFromItsFirstEventToItsLast) {
    ScanCardFixture::writeCard(card());
    ScanCardFixture::writeDrive(sandbox / "Backup");
    // Other files beside the clips, one of them copied: a part of their own after the clips.
    for (const char* name : {"NOTES.TXT", "MISC/setup.dat"}) tessaline::testing::writeFile(card() / name, name);
    tessaline::testing::writeFile(sandbox / "Backup/NOTES.TXT", "NOTES.TXT");
    Recorded recorded = run({card(), {grant(sandbox / "Backup")}, false, false}, environment(2));
    ASSERT_TRUE(reportOf(recorded));
    std::map<ProofPart, std::vector<scan_event::VerifyingProgress>> parts;
    std::vector<ProofPart> order;
    for (const ScanEvent& event : recorded.events)
        if (auto* progress = std::get_if<scan_event::VerifyingProgress>(&event)) {
            if (order.empty() || order.back() != progress->part) order.push_back(progress->part);
            parts[progress->part].push_back(*progress);
        }
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], ProofPart::clips);
    EXPECT_EQ(order[1], ProofPart::otherFiles);
    EXPECT_EQ(std::set<ProofPart>(order.begin(), order.end()).size(), order.size()) << "each part comes once";
    EXPECT_GE(parts[ProofPart::clips].back().total, ScanCardFixture::confirmed);
    EXPECT_LT(parts[ProofPart::clips].back().total, ScanCardFixture::cardFiles) << "clip claims only";
    EXPECT_GE(parts[ProofPart::otherFiles].back().total, 2);
    for (const auto& [part, events] : parts) {
        SCOPED_TRACE(int(part));
        for (size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].total, events.front().total);
            EXPECT_LE(events[i].completed, events[i].total);
            if (i > 0) EXPECT_GE(events[i].completed, events[i - 1].completed);
        }
        EXPECT_EQ(events.back().completed, events.back().total);
    }
}

TEST_F(ScanRunTest, DriveOnTheCardContributesNothingAndIsSkipped) {
    ScanCardFixture::writeCard(card());
    // A "backup" folder on the card holding copies of card clips.
    ScanCardFixture::writeDrive(card() / "Backup");
    const std::string label = grant(card() / "Backup");
    Recorded recorded = run({card(), {label, "NOT_CONNECTED"}, false, false}, environment(2));
    auto report = reportOf(recorded);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->drivePaths.empty());
    EXPECT_TRUE(report->confirmed().empty());
    EXPECT_FALSE(report->isSafeToErase());
    // Each skip says why: the drive on the card is named as such, not as unmounted.
    using Reason = scan_event::DriveSkipped::Reason;
    std::vector<scan_event::DriveSkipped> skipped;
    for (const ScanEvent& event : recorded.events)
        if (auto* e = std::get_if<scan_event::DriveSkipped>(&event)) skipped.push_back(*e);
    EXPECT_EQ(skipped, (std::vector<scan_event::DriveSkipped>{{label, Reason::onCard},
                                                              {"NOT_CONNECTED", Reason::unavailable}}));
}

TEST_F(ScanRunTest, CardBoundIntoTheDriveByABindMountProvesNothing) {
    TESSALINE_REQUIRE_ROOT();
    ScanCardFixture::writeCard(card());
    fs::path drive = sandbox / "Backup";
    ScanCardFixture::writeDrive(drive);
    tessaline::testing::ScopedMount bound({"--bind", card().string()}, drive / "cardmirror");
    Recorded recorded = run({card(), {grant(drive)}, false, false}, environment(2));
    auto report = reportOf(recorded);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->confirmed().size(), size_t(ScanCardFixture::confirmed)) << describe(*report);
    EXPECT_EQ(report->missing().size(), size_t(ScanCardFixture::missing)) << describe(*report);
}

TEST_F(ScanRunTest, UnreadableCardFoldersMakeTheCardNotFullyRead) {
    ScanCardFixture::writeCard(card());
    fs::path drive = sandbox / "Backup";
    ScanCardFixture::writeDrive(drive);
    writeDistinctMedia(TestMedia::jpeg, card() / "DCIM/106CANON/IMG_0006.JPG", 60);
    writeDistinctMedia(TestMedia::jpeg, drive / "late.jpg", 60);
    // The unprivileged reader must reach the card, the drive and the grants file.
    for (const auto& entry : fs::recursive_directory_iterator(sandbox.path()))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
    ASSERT_EQ(::chmod(sandbox.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod((card() / "DCIM/107CANON").c_str(), 0), 0);
    // Only an unprivileged user meets a folder it cannot read. The drive is granted by that
    // same user, as in use: what root reads of a volume (its UUID from the device itself, where
    // there is no udev database, as in a chroot) that user may not, and a grant made by root
    // would then not be found again.
    std::string out = tessaline::testing::runUnprivileged([&] {
        const std::string label = grant(drive);
        Recorded recorded = run({card(), {label}, false, false}, environment(2));
        if (auto* failure = std::get_if<ScanFailure>(&recorded.outcome)) return "failed: " + failure->message;
        auto report = reportOf(recorded);
        std::string text = std::to_string(report->unreadableCardFolders.size()) + " ";
        for (const auto& folder : report->unreadableCardFolders) text += folder.filename().string() + " ";
        text += std::to_string(int(report->eraseStanding().kind));
        return text;
    });
    ::chmod((card() / "DCIM/107CANON").c_str(), 0755);
    EXPECT_EQ(out, "1 107CANON " + std::to_string(int(VerificationReport::EraseStanding::Kind::cardNotFullyRead)));
}

TEST_F(ScanRunTest, UnscannableCardFailsWithTheScannersSentence) {
    Recorded recorded = run({sandbox / "nowhere", {"X"}, false, false}, environment(1));
    EXPECT_EQ(std::get<ScanFailure>(recorded.outcome).message,
              "Couldn't scan card: Cannot enumerate folder: " + (sandbox / "nowhere").string());
    EXPECT_TRUE(recorded.events.empty());
}

}  // namespace
}  // namespace brindlecove
