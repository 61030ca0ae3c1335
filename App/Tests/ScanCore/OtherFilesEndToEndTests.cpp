// A card holding more than clips, end to end on loop-mounted ext4 and exFAT volumes: Sony
// XAVC clips with their numbered XML files, an AVCHD tree with its support files, a note and
// the junk computers leave. The real scan, report, rescue copy and erase gate must agree at
// every step that the card is safe only once every file the erase deletes is on the drive.

#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::writeDistinctMedia;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
using Standing = tessaline::VerificationReport::EraseStanding;

class OtherFilesEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    // Nine XAVC clips (the first with its C0001M01.XML), one AVCHD clip with its support
    // files, a note, and junk.
    static void shoot(const fs::path& card) {
        for (int i = 1; i <= 9; ++i)
            writeDistinctMedia(TestMedia::video, card / ("PRIVATE/M4ROOT/CLIP/C000" + std::to_string(i) + ".MP4"), i);
        writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
        writeDistinctMedia(TestMedia::video, card / "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", 10);
        writeFile(card / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", std::string(300, 'c'));
        writeFile(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", std::string(200, 'p'));
        writeFile(card / "PRIVATE/AVCHD/BDMV/INDEX.BDM", std::string(100, 'i'));
        writeFile(card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
        // Junk: nothing an erase must vouch for.
        writeFile(card / "._C0001.MP4", "apple double");
        writeFile(card / ".DS_Store", "finder");
        writeFile(card / "System Volume Information/IndexerVolumeGuid", "guid");
    }

    ReportPtr scan(const fs::path& card, const std::string& label) const {
        ScanRun::Environment environment;
        environment.bookmarkStoreURL = grantsFile();
        environment.openCache = [] { return nullptr; };
        environment.fingerprintThreads = 2;
        auto outcome = ScanRun::perform({card, {label}, false, false}, environment, {}, {});
        auto* report = std::get_if<ReportPtr>(&outcome);
        EXPECT_TRUE(report) << std::get<ScanFailure>(outcome).message;
        return report ? *report : nullptr;
    }

    static std::vector<std::string> onlyOnCard(const tessaline::VerificationReport& report) {
        std::vector<std::string> names;
        for (const auto& file : report.otherFilesOnlyOnCard()) names.push_back(file.url.filename().string());
        return names;
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(OtherFilesEndToEndTest, TheCardIsSafeOnlyOnceEveryFileItHoldsIsOnTheDrive) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const fs::path card = loops.add(fsType, fsType == "exfat" ? "XAVC" : "AVCHD").mountPoint();
        const fs::path driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        const fs::path destination = driveRoot / "Shoot";
        fs::create_directories(destination);
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(driveRoot);
        const std::string label = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
        shoot(card);

        CardPrepViewModel::Dependencies eraseDependencies;
        CardPrepViewModel gate(std::move(eraseDependencies));
        gate.takeCard(qtPath(card));
        ASSERT_TRUE(waitFor([&] { return !gate.isBusy(); }, 30'000));

        // 1. Nothing on the drive: every clip missing, the XML with its clip, and the four
        //    other files named.
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->results.size(), 10u);
        EXPECT_EQ(report->missing().size(), 10u);
        const auto sony = std::find_if(report->results.begin(), report->results.end(),
                                       [](const auto& r) { return r.primaryName() == "C0001.MP4"; });
        ASSERT_NE(sony, report->results.end());
        EXPECT_EQ(sony->group.sidecars, std::vector<fs::path>{card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"});
        EXPECT_EQ(onlyOnCard(*report), (std::vector<std::string>{"NOTES.TXT", "00000.CPI", "INDEX.BDM", "00000.MPL"}));
        EXPECT_EQ(report->eraseStanding().kind, Standing::Kind::hasMissing);
        VerificationStanding standing = gate.gate(report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::missing);
        EXPECT_EQ(standing.count, 10);
        EXPECT_EQ(standing.files, 4);
        EXPECT_EQ(EraseTexts::stopText(standing),
                  "STOP \u2014 your last scan found 10 clips and 4 other files that exist ONLY on this card (NOTES.TXT, "
                  "00000.CPI, INDEX.BDM and 1 more). Erasing now loses them. Copy or re-scan first.");

        // 2. The rescue copies the clips, the XML and the other files.
        MissingSyncViewModel::Dependencies rescueDependencies;
        rescueDependencies.dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional(qtPath(destination)); };
        MissingSyncViewModel rescue(std::move(rescueDependencies));
        rescue.pickDestination();
        rescue.setPreserveStructure(true);
        EXPECT_EQ(ReportTexts::countsOf(*report).toRescue(), 14);
        rescue.start(*report);
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); }, 60'000));
        const auto& log = std::get<MissingSyncViewModel::Done>(rescue.phase()).log;
        EXPECT_TRUE(log.allVerified());
        EXPECT_EQ(log.fileCount(), 15);  // 10 clips, 1 XML, 4 other files
        EXPECT_EQ(readFile(destination / "NOTES.TXT"), readFile(card / "NOTES.TXT"));

        // 3. A new scan: safe, and the gate agrees although junk lies beside the clips.
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->eraseStanding(), (Standing{Standing::Kind::safe, 10, 10}));
        EXPECT_EQ(report->otherFiles.size(), 5u);  // the XML and the four others, all proven
        EXPECT_TRUE(gate.gate(report).isSafe());

        // 4. One other file gone from the drive: the clips are backed up, the card is not.
        fs::rename(destination / "NOTES.TXT", driveRoot / "NOTES.moved");
        report = scan(card, label);
        EXPECT_EQ(report->eraseStanding(), (Standing{Standing::Kind::otherFilesOnlyOnCard, 1, 10}));
        EXPECT_EQ(ReportTexts::banner(report->eraseStanding()).title,
                  "All 10 clips are backed up, but 1 other file is only on the card");
        standing = gate.gate(report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::otherFilesOnlyOnCard);
        EXPECT_EQ(EraseTexts::stopText(standing),
                  "STOP \u2014 your last scan found 1 other file that exists ONLY on this card (NOTES.TXT). Erasing "
                  "now loses it. Copy or re-scan first.");
        // Elsewhere on the drive, under another folder, it proves again.
        fs::create_directories(driveRoot / "Notes");
        fs::rename(driveRoot / "NOTES.moved", driveRoot / "Notes/NOTES.TXT");
        report = scan(card, label);
        EXPECT_TRUE(report->isSafeToErase());

        // 5. A file written to the card after the scan: the gate no longer calls it safe, and
        //    the worker's walk just before erasing refuses too.
        writeFile(card / "PRIVATE/M4ROOT/CLIP/LASTCLIP.TXT", "C0009");
        gate.recount();
        ASSERT_TRUE(waitFor([&] { return gate.preview() && gate.preview()->fileCount == 19; }, 30'000));
        standing = gate.gate(report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::changedSinceScan);
        EXPECT_EQ(EraseTexts::changedText(standing),
                  "CHANGED SINCE THE SCAN \u2014 1 file on this card has changed since your last scan (LASTCLIP.TXT). "
                  "Scan it again before erasing.");
        fs::remove(card / "PRIVATE/M4ROOT/CLIP/LASTCLIP.TXT");
        gate.recount();
        ASSERT_TRUE(waitFor([&] { return gate.gate(report).isSafe(); }, 30'000));
        writeFile(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00001.MPL", "new playlist");
        gate.setConfirmationText(gate.cardName());
        ASSERT_TRUE(gate.runChecked(report));
        ASSERT_TRUE(waitFor([&] { return !gate.isBusy(); }, 30'000));
        ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Failed>(gate.phase()));
        EXPECT_EQ(std::get<CardPrepViewModel::Failed>(gate.phase()).message,
                  CardPrepViewModel::changedMessage({"PRIVATE/AVCHD/BDMV/PLAYLIST/00001.MPL"}));
        EXPECT_TRUE(fs::exists(card / "NOTES.TXT"));

        // 6. Copied and scanned again, the card is erased; every file it held is on the drive.
        fs::copy_file(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00001.MPL", driveRoot / "Notes/00001.MPL");
        report = scan(card, label);
        ASSERT_TRUE(report->isSafeToErase());
        ASSERT_TRUE(waitFor([&] { return gate.gate(report).isSafe(); }, 30'000));
        gate.setConfirmationText(gate.cardName());
        ASSERT_TRUE(gate.runChecked(report));
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(gate.phase()); }, 60'000));
        EXPECT_FALSE(fs::exists(card / "NOTES.TXT"));
        EXPECT_FALSE(fs::exists(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"));
        EXPECT_EQ(readFile(destination / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"),
                  "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
    }
}

}  // namespace brindlecove
