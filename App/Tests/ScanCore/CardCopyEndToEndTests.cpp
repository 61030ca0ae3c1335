// A card copied by the Copy section and then scanned against the drive it was copied to, on
// loop-mounted ext4 and exFAT cards: the copy takes every file the erase would delete (hidden
// files, camera support folders, files of any type; not OS litter, judged by its bytes, nor the
// spared system items), so the scan finds the card safe; the copy says "Safe to reuse the card"
// only when every one of those files landed, and a copy that missed one says otherwise on the
// screen, in its text and in its PDF, as the scan does.

#include "CopySectionRun.hpp"
#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LitterFiles.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::placesOnlyOnCard;
using testing::writeDistinctMedia;
using tessaline::TransferLog;
using tessaline::testing::pdfText;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using tessaline::testing::writeLitter;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
using Standing = tessaline::VerificationReport::EraseStanding;

// What the copy must take, below the card root.
const std::vector<std::string> cardFiles{
    "PRIVATE/M4ROOT/CLIP/C0001.MP4",       "PRIVATE/M4ROOT/CLIP/C0001M01.XML",
    "PRIVATE/M4ROOT/THMBNL/C0001T01.JPG",  "MISC/SETTINGS.DAT",
    ".notes.txt",                          "DCIM/100MSDCF/takes.db",
    "._C0002.MP4",  // named like litter, but a real clip
};
// Litter by its bytes, and a spared system item: never copied.
const std::vector<std::string> leftOnCard{"._C0001.MP4", ".DS_Store", "PRIVATE/M4ROOT/CLIP/._C0001.MP4",
                                          "System Volume Information/IndexerVolumeGuid"};

class CardCopyEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    static void shoot(const fs::path& card) {
        writeDistinctMedia(TestMedia::video, card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1);
        writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
        writeDistinctMedia(TestMedia::jpeg, card / "PRIVATE/M4ROOT/THMBNL/C0001T01.JPG", 2);
        writeFile(card / "MISC/SETTINGS.DAT", std::string(512, 's'));
        writeFile(card / ".notes.txt", "Scene 4, take 2 is the keeper.");
        writeFile(card / "DCIM/100MSDCF/takes.db", std::string(2048, 'd'));
        writeDistinctMedia(TestMedia::video, card / "._C0002.MP4", 3);
        for (const char* litter : {"._C0001.MP4", ".DS_Store", "PRIVATE/M4ROOT/CLIP/._C0001.MP4"})
            writeLitter(card / litter);
        writeFile(card / "System Volume Information/IndexerVolumeGuid", "guid");
    }

    // The drive granted to the scan, and its label.
    std::string grant(const fs::path& driveRoot) const {
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(driveRoot);
        return tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
    }

    ReportPtr scan(const fs::path& card, const std::string& label) const {
        return testing::scanAgainstGrantedDrive(card, label, grantsFile());
    }

    // The Copy section's run of `card` into `destination`, to its end.
    std::shared_ptr<const TransferLog> copy(const fs::path& card, const fs::path& destination) {
        return testing::copyThroughCopySection(card, destination).log;
    }

    std::string pdfOf(const TransferLog& log, const std::string& name) const {
        const fs::path file = sandbox / (name + ".pdf");
        const std::string bytes = tessaline::TransferLogExporter::pdf(log);
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return pdfText(file);
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(CardCopyEndToEndTest, ACardCopiedHereScansAsSafeAndACopyThatMissedAFileSaysSoEverywhere) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const fs::path card = loops.add(fsType, "CARD_" + fsType).mountPoint();
        const fs::path driveRoot = loops.add("ext4", "BACKUP_" + fsType, 128).mountPoint();
        const std::string label = grant(driveRoot);
        shoot(card);

        // 1. A copy in which one file cannot land (a file stands where its folder must go).
        const fs::path blocked = driveRoot / "Blocked";
        writeFile(blocked / "MISC", "in the way");
        auto log = copy(card, blocked);
        ASSERT_TRUE(log);
        EXPECT_EQ(log->plannedFileCount, static_cast<int>(cardFiles.size()));
        EXPECT_EQ(log->failedCount(), 1);
        ASSERT_EQ(log->failures().size(), 1u);
        EXPECT_EQ(log->failures()[0].relativePath, "MISC/SETTINGS.DAT");
        EXPECT_FALSE(log->allVerified());
        EXPECT_FALSE(TransferTexts::banner(*log).subtitle.contains(QStringLiteral("Safe to reuse")));
        EXPECT_EQ(log->summary().find("Safe to reuse"), std::string::npos) << log->summary();
        const std::string blockedPdf = pdfOf(*log, "blocked-" + fsType);
        EXPECT_NE(blockedPdf.find("1 of 7 files FAILED"), std::string::npos) << blockedPdf;
        EXPECT_EQ(blockedPdf.find("verified byte-for-byte"), std::string::npos);
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());
        EXPECT_EQ(placesOnlyOnCard(*report), std::vector<std::string>{"MISC/SETTINGS.DAT"});

        // 2. Into a folder of its own: every file of the card's set, each at its place.
        fs::remove_all(blocked);
        const fs::path destination = driveRoot / "Shoot";
        log = copy(card, destination);
        ASSERT_TRUE(log);
        EXPECT_TRUE(log->allVerified()) << log->summary();
        EXPECT_EQ(log->fileCount(), static_cast<int>(cardFiles.size()));
        for (const std::string& file : cardFiles) EXPECT_EQ(readFile(destination / file), readFile(card / file)) << file;
        for (const std::string& file : leftOnCard) EXPECT_FALSE(fs::exists(destination / file)) << file;
        EXPECT_TRUE(TransferTexts::banner(*log).subtitle.startsWith(QStringLiteral("Safe to reuse the card")));
        EXPECT_NE(log->summary().find("✓  All 7 files copied and verified byte-for-byte. Safe to reuse the card."),
                  std::string::npos);
        EXPECT_NE(pdfOf(*log, "shoot-" + fsType).find("All 7 files copied and verified byte-for-byte"),
                  std::string::npos);

        // 3. The scan right after, against that drive: safe, nothing only on the card.
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->eraseStanding().kind, Standing::Kind::safe) << placesOnlyOnCard(*report).size();
        EXPECT_TRUE(placesOnlyOnCard(*report).empty());
    }
}

}  // namespace brindlecove
