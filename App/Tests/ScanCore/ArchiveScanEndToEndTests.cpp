// A card of undated frames scanned end to end (ScanRun::perform) against an ext4 drive that
// also holds an archive of earlier days' frames of exactly the card's size and names: the
// scan reads what the card needs, not what the archive weighs. Frames are sparse files (a
// JPEG header, a hole, a tail of their own), so the archive costs little room. What the scan
// reads is taken from /proc/self/io and compared with the same scan against an archive one
// byte longer (other fingerprints, never candidates).

#include "GrantedDriveScan.hpp"
#include "SparseFrames.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/NumberText.hpp"

#include <gtest/gtest.h>


#include <cstdio>
#include <ctime>
#include <regex>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::groupedText;

constexpr int cardFrames = 40;
constexpr int archiveDays = 5;
constexpr int framesPerDay = 400;  // 2,000 archive frames
constexpr int64_t frameSize = 1 << 20;
constexpr int64_t cardBytes = cardFrames * frameSize;
constexpr double day = 86'400;

std::string frameName(const char* prefix, int k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d.JPG", prefix, k);
    return name;
}

class ArchiveScanEndToEndTest : public testing::AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        const fs::path undated = sandbox / "undated.JPG";
        tessaline::testing::makeJpeg(undated);
        header_ = tessaline::testing::readFile(undated);
    }

    // Frame `number` of `size` bytes: the JPEG, a hole, and eight bytes of its own number at
    // the end; dated `when`.
    void writeFrame(const fs::path& file, int number, int64_t size, double when) const {
        testing::writeSparseFrame(file, header_, uint64_t(number), size, when);
    }

    // Earlier days under Archive/Day<d>/ with the card's frame names, each frame of its own.
    void writeArchive(const fs::path& drive, int64_t size) const {
        for (int d = 0; d < archiveDays; ++d)
            for (int k = 0; k < framesPerDay; ++k)
                writeFrame(drive / "Archive" / ("Day" + std::to_string(d)) / frameName("F", k), 100'000 + d * framesPerDay + k,
                           size, now_ - (10 - d) * day + k);
    }
    void writeCard(const fs::path& card) const {
        for (int k = 0; k < cardFrames; ++k) writeFrame(card / "DCIM/100SEQ" / frameName("F", k), k, frameSize, now_ + k);
    }
    // Today's copies in Day9/, made an hour after the shoot with their own times.
    void writeCopies(const fs::path& drive) const {
        for (int k = 0; k < cardFrames; ++k) writeFrame(drive / "Day9" / frameName("F", k), k, frameSize, now_ + 3600 + k);
    }

    // The scan of `card` against `folder` granted as a drive, and the bytes it read.
    std::pair<std::shared_ptr<const tessaline::VerificationReport>, int64_t> scan(const fs::path& card,
                                                                                  const fs::path& folder) {
        const fs::path grants = sandbox / "grants.json";
        fs::remove(grants);
        tessaline::SecurityScopedBookmarkStore(grants).grant(folder);
        const std::string label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back();
        const int64_t before = testing::processBytesRead();
        auto report = testing::scanAgainstGrantedDrive(card, label, grants);
        return {report, testing::processBytesRead() - before};
    }

    std::string header_;
    const double now_ = double(std::time(nullptr)) - 3 * day;
    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(ArchiveScanEndToEndTest, AnArchiveOfTheCardsSizeIsNotReadWholeWhetherOrNotTheCardWasCopied) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const fs::path card = loops.add("ext4", "SEQ_CARD", 64).mountPoint();
    const fs::path sameSize = loops.add("ext4", "ARCHIVE_SAME", 128).mountPoint() / "Raid";
    const fs::path otherSize = loops.add("ext4", "ARCHIVE_OTHER", 128).mountPoint() / "Raid";
    writeCard(card);
    writeArchive(sameSize, frameSize);
    writeArchive(otherSize, frameSize + 1);
    writeCopies(sameSize);
    writeCopies(otherSize);

    // Backed up: every frame proven at its own copy, reading about what the other-size
    // archive's scan reads (the card and its copies).
    auto [copied, copiedRead] = scan(card, sameSize);
    auto [copiedOther, copiedOtherRead] = scan(card, otherSize);
    ASSERT_TRUE(copied && copiedOther);
    for (const auto* report : {copied.get(), copiedOther.get()}) {
        ASSERT_EQ(report->results.size(), size_t(cardFrames));
        for (const auto& result : report->results)
            EXPECT_EQ(result.status, MatchStatus::confirmed(fs::path(report == copied.get() ? sameSize : otherSize) / "Day9" /
                                                            result.primaryName()))
                << result.description();
        EXPECT_TRUE(report->unreadCandidates.empty());
    }
    EXPECT_GE(copiedOtherRead, 2 * cardBytes);
    EXPECT_LE(copiedRead, copiedOtherRead + cardBytes / 4) << "the same-size archive costs at most a few guesses";

    // Not copied yet: every frame missing, each saying how many of its kind were not read, and
    // the reading bounded by the card (four times its bytes), not by the 2,000-frame archive.
    auto [uncopied, uncopiedRead] = scan(card, sameSize / "Archive");
    auto [uncopiedOther, uncopiedOtherRead] = scan(card, otherSize / "Archive");
    ASSERT_TRUE(uncopied && uncopiedOther);
    EXPECT_EQ(uncopied->missing().size(), size_t(cardFrames));
    EXPECT_EQ(uncopiedOther->nameMismatches().size(), size_t(cardFrames));
    // About four times: the hashing threads may have read a few files ahead of a search the
    // bound then stopped.
    EXPECT_LE(uncopiedRead - uncopiedOtherRead, 4 * cardBytes + 4 * frameSize);
    ASSERT_EQ(uncopied->unreadCandidates.size(), size_t(cardFrames));
    // Each frame's reason says whether every archive frame of its name was read.
    const std::regex everyNamedRead(
        "not found under its name or near its time; 1,[89][0-9]{2} files of its kind on the drives were not read");
    const std::regex namedUnread("under its name: 5 files of its name and size, [1-5] not read; 1,[89][0-9]{2} other "
                                 "files of its kind on the drives were not read");
    for (const auto& unread : uncopied->unreadCandidates) {
        EXPECT_GT(unread.count, archiveDays * framesPerDay - 4 * cardFrames);
        EXPECT_EQ(unread.named, archiveDays);
        EXPECT_TRUE(std::regex_match(unread.reasonText(), unread.namedNotRead == 0 ? everyNamedRead : namedUnread))
            << unread.reasonText();
    }
    const std::string summary = uncopied->summary();
    EXPECT_NE(summary.find("40 card files were not looked for among every drive file of their kind. To prove them, "
                           "copy the card with Brindlecove"),
              std::string::npos)
        << summary;
}

TEST_F(ArchiveScanEndToEndTest, ARenamedFrameIsProvenBesideItsSiblingsButNotFromAnUnrelatedArchiveFolder) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const fs::path card = loops.add("ext4", "SEQ_CARD", 64).mountPoint();
    const fs::path drive = loops.add("ext4", "ARCHIVE_SAME", 128).mountPoint() / "Raid";
    writeCard(card);
    writeArchive(drive, frameSize);
    writeCopies(drive);

    // Under another name beside the copies of the frames around it: proven there.
    const fs::path renamed = drive / "Day9/take_0007.JPG";
    fs::rename(drive / "Day9" / frameName("F", 7), renamed);
    auto [beside, besideRead] = scan(card, drive);
    ASSERT_TRUE(beside);
    EXPECT_TRUE(beside->missing().empty());
    for (const auto& result : beside->results)
        if (result.primaryName() == frameName("F", 7)) {
            EXPECT_EQ(result.status, MatchStatus::confirmed(renamed));
        }
    EXPECT_LE(besideRead, 4 * cardBytes);

    // Only in an unrelated archive folder, under another name and with that day's time: not
    // proven, with the reason in every form, and the archive not read whole.
    const fs::path archived = drive / "Archive/Day4/X0007.JPG";
    fs::rename(renamed, archived);
    tessaline::testing::setModificationTime(archived, now_ - 6 * day);
    auto [elsewhere, elsewhereRead] = scan(card, drive);
    ASSERT_TRUE(elsewhere);
    ASSERT_EQ(elsewhere->missing().size(), 1u);
    EXPECT_EQ(elsewhere->missing().front().primaryName(), frameName("F", 7));
    EXPECT_EQ(elsewhere->confirmed().size(), size_t(cardFrames - 1));
    EXPECT_LE(elsewhereRead, 4 * cardBytes + cardBytes / 2) << "the 2,000 MiB archive was read";
    ASSERT_EQ(elsewhere->unreadCandidates.size(), 1u);
    const auto& unread = elsewhere->unreadCandidates.front();
    EXPECT_EQ(unread.cardFile, card / "DCIM/100SEQ" / frameName("F", 7));
    const std::string reason = unread.reasonText();

    const std::string summary = elsewhere->summary();
    EXPECT_NE(summary.find(reason), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 card file was not looked for among every drive file of its kind. To prove it, copy the "
                           "card with Brindlecove, or grant just the drive folder that holds its copy and scan again."),
              std::string::npos)
        << summary;
    const std::string csv = tessaline::ReportExporter::csv(*elsewhere);
    EXPECT_NE(csv.find("NOT-READ,DCIM/100SEQ/F0007.JPG,,1048576,\"" + reason + "\"\n"), std::string::npos) << csv;
    tessaline::ReportExporter::write(*elsewhere, sandbox / "exports", "report");
    const std::string pdf = tessaline::testing::pdfText(sandbox / "exports/report.pdf");
    EXPECT_NE(pdf.find("not found under its name or near its time; " + groupedText(unread.count) + " files of its kind"),
              std::string::npos)
        << pdf;
    EXPECT_NE(pdf.find("1 card file was not looked for among every drive file of its kind."), std::string::npos) << pdf;
    const std::string json = tessaline::ReportExporter::json(*elsewhere);
    EXPECT_NE(json.find("\"reason\": \"" + reason + "\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"candidates_not_read\": " + std::to_string(unread.count)), std::string::npos) << json;
}

}  // namespace brindlecove
