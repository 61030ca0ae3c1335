// Clips of several files with some files on the drive and others on none, end to end through
// the real scan run and the Report section's rescue, on loop-mounted FUSE exFAT and ext4
// cards: a RAW+JPEG pair with only its JPEG copied and a burst without its first and third
// stills are missing (never "same-named but different"), and name exactly the files without a
// copy in the text, CSV and JSON; the rescue copies those files and no other, says the card is
// safe, also while the kernel keeps forgetting the card's files; the next scan proves the
// card. A proven member rewritten after its proof, during the scan or after it, is not
// counted as proven.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/CacheDropLoop.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Report/ReportExporter.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using tessaline::ClipGroup;
using tessaline::MatchResult;
using tessaline::TransferLog;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

const std::string pairFolder = "DCIM/100MSDCF";
const std::string burstFolder = "DCIM/101MSDCF";
const std::vector<std::string> burstNames{"DSC00301.JPG", "DSC00302.JPG", "DSC00303.JPG", "DSC00304.JPG"};

class PartlyCopiedClipEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    // The card's pair (a TIFF-built RAW and a JPEG of one camera second) and burst (four
    // stills of one second and model); on the drive only the JPEG and stills 2 and 4. `name`
    // (9 characters at most: exFAT labels are short) names the two volumes.
    testing::CardAndDrive shoot(const std::string& fsType, const std::string& name) {
        testing::CardAndDrive volumes;
        volumes.card = loops.add(fsType, "C_" + name).mountPoint();
        volumes.driveRoot = loops.add("ext4", "B_" + name).mountPoint();
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(volumes.driveRoot);
        volumes.label = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
        const fs::path raw = sandbox / "raw.tif";
        if (!fs::exists(raw)) {
            tessaline::testing::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=160x120", "-frames:v", "1", raw.string()});
            tessaline::testing::exiftool(
                {"-DateTimeOriginal=2024:05:06 10:11:12", "-Make=Sony", "-Model=ILCE-7M4", raw.string()});
        }
        testing::copyFile(raw, volumes.card / pairFolder / "DSC00267.ARW");
        testing::writeDistinctMedia(TestMedia::jpeg, volumes.card / pairFolder / "DSC00267.JPG", 1);
        for (size_t k = 0; k < burstNames.size(); ++k)
            testing::writeDistinctMedia(TestMedia::jpeg, volumes.card / burstFolder / burstNames[k], int(10 + k));
        const fs::path shoot = volumes.driveRoot / "Shoot";
        testing::copyFile(volumes.card / pairFolder / "DSC00267.JPG", shoot / pairFolder / "DSC00267.JPG");
        for (size_t k : {1, 3})
            testing::copyFile(volumes.card / burstFolder / burstNames[k], shoot / burstFolder / burstNames[k]);
        return volumes;
    }

    ReportPtr scan(const testing::CardAndDrive& volumes, std::function<void(const ScanEvent&)> onEvent = {}) const {
        return testing::scanAgainstGrantedDrive(volumes.card, volumes.label, grantsFile(), {}, std::move(onEvent));
    }

    // The Report section's rescue of `report`'s missing files into `destination`, to its end.
    std::shared_ptr<const TransferLog> rescue(const tessaline::VerificationReport& report, const fs::path& destination) {
        fs::create_directories(destination);  // a folder the user picked
        MissingSyncViewModel::Dependencies dependencies;
        dependencies.dialogs.chooseFolder = [destination](const FolderRequest&) {
            return std::optional<QString>(qpath(destination));
        };
        dependencies.bookmarkStoreURL = sandbox / "rescue-grants.json";
        MissingSyncViewModel model(std::move(dependencies));
        model.pickDestination();
        model.start(report);
        EXPECT_TRUE(
            waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(model.phase()); }, 120'000));
        const auto* done = std::get_if<MissingSyncViewModel::Done>(&model.phase());
        if (!done) return nullptr;
        const auto outcome = ReportTexts::outcome(done->log, model.wasStopped(), done->goneFromCard);
        rescueOutcome = outcome.text;
        rescueTone = outcome.tone;
        return model.lastLog();
    }

    static const MatchResult* resultOf(const tessaline::VerificationReport& report, ClipGroup::Kind kind) {
        for (const auto& result : report.results)
            if (result.group.kind == kind) return &result;
        return nullptr;
    }

    static std::vector<std::string> names(const MatchResult& result, const std::vector<size_t>& members) {
        std::vector<std::string> out;
        for (size_t m : members) out.push_back(result.group.primaryFiles[m].url.filename());
        return out;
    }

    // The files below `folder`, relative to it, sorted.
    static std::vector<std::string> filesBelow(const fs::path& folder) {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
        std::sort(files.begin(), files.end());
        return files;
    }

    // The scan's verdict on the shoot: both clips missing, each naming its files without a copy
    // in every form the report takes.
    void expectMembersNamed(const tessaline::VerificationReport& report) {
        EXPECT_TRUE(report.nameMismatches().empty()) << report.summary();
        ASSERT_EQ(report.missing().size(), 2u) << report.summary();
        const MatchResult* pair = resultOf(report, ClipGroup::Kind::rawJpegPair);
        const MatchResult* burst = resultOf(report, ClipGroup::Kind::burstSet);
        ASSERT_TRUE(pair && burst) << report.summary();
        EXPECT_EQ(names(*pair, pair->unprovenMembers()), (std::vector<std::string>{"DSC00267.ARW"}));
        EXPECT_EQ(names(*burst, burst->unprovenMembers()), (std::vector<std::string>{"DSC00301.JPG", "DSC00303.JPG"}));

        const std::string text = report.summary();
        EXPECT_EQ(text.find("name matches"), std::string::npos) << text;
        EXPECT_NE(text.find("\u2717 DSC00267.ARW  no proven copy"), std::string::npos) << text;
        EXPECT_NE(text.find("\u2713 DSC00267.JPG"), std::string::npos) << text;
        EXPECT_NE(text.find("\u2717 DSC00303.JPG  no proven copy"), std::string::npos) << text;
        const std::string csv = tessaline::ReportExporter::csv(report);
        EXPECT_NE(csv.find("member MISSING,DSC00267.ARW,"), std::string::npos) << csv;
        EXPECT_NE(csv.find("member confirmed,DSC00267.JPG,"), std::string::npos) << csv;
        EXPECT_NE(csv.find("member MISSING,DSC00301.JPG,"), std::string::npos) << csv;
        EXPECT_EQ(csv.find("name-mismatch"), std::string::npos) << csv;
        const auto json = nlohmann::json::parse(tessaline::ReportExporter::json(report));
        int seen = 0;
        for (const auto& clip : json["clips"]) {
            ASSERT_EQ(clip["status"], "missing") << clip.dump();
            if (clip["files"][0] == "DSC00267.ARW") {
                EXPECT_EQ(clip["unproven_files"], nlohmann::json::array({"DSC00267.ARW"}));
                EXPECT_EQ(clip["proven_files"], nlohmann::json::array({"DSC00267.JPG"}));
                ++seen;
            } else {
                EXPECT_EQ(clip["unproven_files"], nlohmann::json::array({"DSC00301.JPG", "DSC00303.JPG"}));
                ++seen;
            }
        }
        EXPECT_EQ(seen, 2);
    }

    QString rescueOutcome;
    ReportTexts::Tone rescueTone = ReportTexts::Tone::neutral;
    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(PartlyCopiedClipEndToEndTest, MissingMembersAreNamedRescuedAloneAndTheNextScanIsSafe) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const auto volumes = shoot(fsType, "PAIR" + fsType);
        ReportPtr report = scan(volumes);
        ASSERT_TRUE(report);
        expectMembersNamed(*report);
        EXPECT_EQ(ReportTexts::countsOf(*report).toRescue(), 2);
        EXPECT_EQ(MissingSyncViewModel::clipFilesToRescue(*report), 3);

        const fs::path destination = volumes.driveRoot / "Rescue";
        auto log = rescue(*report, destination);
        ASSERT_TRUE(log);
        EXPECT_TRUE(log->allVerified()) << log->summary();
        EXPECT_EQ(log->fileCount(), 3);
        EXPECT_EQ(rescueTone, ReportTexts::Tone::good) << rescueOutcome.toStdString();
        EXPECT_TRUE(log->cardFileNotes.empty()) << log->summary();
        // Only the files without a copy were copied; the JPEG and stills 2 and 4 were not.
        EXPECT_EQ(filesBelow(destination), (std::vector<std::string>{"DSC00267.ARW", "DSC00301.JPG", "DSC00303.JPG"}));

        report = scan(volumes);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase()) << report->summary();
        EXPECT_EQ(report->confirmed().size(), 2u);
    }
}

TEST_F(PartlyCopiedClipEndToEndTest, WhileTheCardIsRenumberedTheRescueVouchesForWhatItCopiedButNotForARewrite) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const auto volumes = shoot("exfat", "DROPS");
    // A still whose namesake on the drive holds other bytes: a check, never rescued.
    testing::writeDistinctMedia(TestMedia::jpeg, volumes.card / "DCIM/102MSDCF/DSC00400.JPG", 40);
    testing::writeDistinctMedia(TestMedia::jpeg, volumes.driveRoot / "Shoot/DCIM/102MSDCF/DSC00400.JPG", 41);
    ReportPtr report = scan(volumes);
    ASSERT_TRUE(report);
    ASSERT_EQ(report->nameMismatches().size(), 1u);

    {
        // The kernel forgets the card's files before the rescue and throughout it.
        tessaline::testing::CacheDropLoop::dropNow();
        tessaline::testing::CacheDropLoop drops(std::chrono::milliseconds(20));
        auto log = rescue(*report, volumes.driveRoot / "Rescue");
        ASSERT_TRUE(log);
        EXPECT_EQ(log->verifiedCount(), 3) << log->summary();
        EXPECT_EQ(log->failedCount(), 0) << log->summary();
        // Only the still left unrescued is named, for what the scan found, not as changed.
        ASSERT_EQ(log->cardFilesNotProven().size(), 1u) << log->summary();
        EXPECT_EQ(log->cardFilesNotProven()[0].relativePath, "DCIM/102MSDCF/DSC00400.JPG");
        EXPECT_EQ(log->cardFilesNotProven()[0].reason, "Name matches DSC00400.JPG but contents differ");
        EXPECT_FALSE(rescueOutcome.contains(QStringLiteral("changed on the card"))) << rescueOutcome.toStdString();
    }
    report = scan(volumes);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->missing().empty()) << report->summary();
    EXPECT_EQ(report->confirmed().size(), 2u) << report->summary();
    EXPECT_EQ(report->nameMismatches().size(), 1u) << report->summary();

    // The same shoot on a fresh card, its proven JPEG rewritten after the scan: the rescue of
    // the RAW cannot vouch for the card.
    const auto second = shoot("exfat", "REWRITE");
    report = scan(second);
    ASSERT_TRUE(report);
    expectMembersNamed(*report);
    {
        std::ofstream(second.card / pairFolder / "DSC00267.JPG", std::ios::binary | std::ios::app) << "x";
        tessaline::testing::CacheDropLoop::dropNow();
        tessaline::testing::CacheDropLoop drops(std::chrono::milliseconds(20));
        auto log = rescue(*report, second.driveRoot / "Rescue");
        ASSERT_TRUE(log);
        EXPECT_FALSE(log->allVerified()) << log->summary();
        EXPECT_NE(rescueTone, ReportTexts::Tone::good);
        EXPECT_TRUE(rescueOutcome.contains(QString::fromStdString(pairFolder + "/DSC00267.JPG")))
            << rescueOutcome.toStdString();
    }
}

}  // namespace brindlecove

namespace brindlecove {

TEST_F(PartlyCopiedClipEndToEndTest, AMemberRewrittenAfterItsProofDuringTheScanIsCopiedWithTheRest) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const auto volumes = shoot("exfat", "DURING");
    const fs::path jpeg = volumes.card / pairFolder / "DSC00267.JPG";
    bool rewritten = false;
    // Once every clip is proven, before the scan's last look at the card.
    ReportPtr report = scan(volumes, [&](const ScanEvent& event) {
        const auto* progress = std::get_if<scan_event::VerifyingProgress>(&event);
        if (rewritten || !progress || progress->part != ProofPart::clips || progress->total == 0 ||
            progress->completed < progress->total)
            return;
        std::ofstream(jpeg, std::ios::binary | std::ios::app) << "x";
        rewritten = true;
    });
    ASSERT_TRUE(report);
    ASSERT_TRUE(rewritten);
    const MatchResult* pair = resultOf(*report, ClipGroup::Kind::rawJpegPair);
    ASSERT_TRUE(pair);
    EXPECT_TRUE(pair->isMissing());
    EXPECT_EQ(names(*pair, pair->unprovenMembers()), (std::vector<std::string>{"DSC00267.ARW", "DSC00267.JPG"}));
    EXPECT_TRUE(pair->membersProven.empty());

    // The rescue tries the JPEG too; it is not the file the scan saw, so the card stays unsafe.
    const fs::path destination = volumes.driveRoot / "Rescue";
    auto log = rescue(*report, destination);
    ASSERT_TRUE(log);
    std::vector<std::string> tried;
    for (const auto& outcome : log->outcomes) tried.push_back(outcome.relativePath);
    std::sort(tried.begin(), tried.end());
    EXPECT_EQ(tried, (std::vector<std::string>{pairFolder + "/DSC00267.ARW", pairFolder + "/DSC00267.JPG",
                                               burstFolder + "/DSC00301.JPG", burstFolder + "/DSC00303.JPG"}));
    EXPECT_FALSE(log->allVerified()) << log->summary();
    EXPECT_EQ(rescueTone, ReportTexts::Tone::bad);
    EXPECT_NE(log->summary().find(pairFolder + "/DSC00267.JPG"), std::string::npos) << log->summary();

    // Scanned again, the pair lacks only its rewritten JPEG; rescued, the card is safe.
    report = scan(volumes);
    ASSERT_TRUE(report);
    pair = resultOf(*report, ClipGroup::Kind::rawJpegPair);
    ASSERT_TRUE(pair);
    EXPECT_EQ(names(*pair, pair->unprovenMembers()), (std::vector<std::string>{"DSC00267.JPG"}));
    log = rescue(*report, destination);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->allVerified()) << log->summary();
    report = scan(volumes);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isSafeToErase()) << report->summary();
}

}  // namespace brindlecove
