// Image sequences and bursts scanned end to end (ScanRun::perform) on loop-mounted exFAT and
// ext4 cards against an ext4 drive holding a byte-identical copy of every file: thousands of
// same-size stills without a camera date (one fingerprint key for all; on ext4 the
// file-system times, nearest in time, name another frame's copy), and a burst sharing one
// camera second and model. Every file is confirmed and none is missing; a copy that differs
// by one byte leaves exactly its frame unproven, and a burst frame's names that frame in the
// burst's row, text, JSON and PDF.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"

#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/AtomicFile.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;

constexpr int frames = 2000;
constexpr int burstStills = 600;

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

std::string frameName(const char* prefix, int k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%05d.JPG", prefix, k);
    return name;
}

// `original` followed by eight bytes of its own number (after the JPEG's end marker): one
// size for all, different bytes for each.
std::string numbered(const std::string& original, int k) {
    std::string bytes = original;
    for (int b = 0; b < 8; ++b) bytes.push_back(char(uint64_t(k + 1) >> (8 * b)));
    return bytes;
}

class SequenceScanEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    // Writes the sequence (undated stills) and the burst (one camera second, one model) to the
    // card, then their copies to `backup` in reverse order, so each card frame is nearest in
    // file-system time to another frame's copy.
    void shoot(const fs::path& card, const fs::path& backup) {
        const fs::path undated = sandbox / "undated.JPG";
        tessaline::testing::makeJpeg(undated);
        const std::string still = readFile(undated);
        const std::string dated = readFile(testing::testMediaOriginal(testing::TestMedia::jpeg));
        for (int k = 0; k < frames; ++k) writeFile(card / "DCIM/100SEQ" / frameName("F", k), numbered(still, k));
        for (int k = 0; k < burstStills; ++k) writeFile(card / "DCIM/101BURST" / frameName("B", k), numbered(dated, k));
        for (int k = frames - 1; k >= 0; --k)
            writeFile(backup / "DCIM/100SEQ" / frameName("F", k), numbered(still, k));
        for (int k = burstStills - 1; k >= 0; --k)
            writeFile(backup / "DCIM/101BURST" / frameName("B", k), numbered(dated, k));
    }

    std::shared_ptr<const tessaline::VerificationReport> scan(const fs::path& card, const fs::path& backup) {
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(backup);
        const std::string label = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
        return testing::scanAgainstGrantedDrive(card, label, grantsFile());
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(SequenceScanEndToEndTest, EveryFrameAndTheBurstAreConfirmedAndOnlyASpoiledCopyIsNot) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const fs::path card = loops.add(fsType, "SEQ_" + fsType).mountPoint();
        const fs::path backup = loops.add("ext4", "COPY_" + fsType, 128).mountPoint() / "Backup";
        shoot(card, backup);

        auto report = scan(card, backup);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->results.size(), size_t(frames + 1));  // every frame alone, the burst as one
        EXPECT_TRUE(report->missing().empty());
        EXPECT_EQ(report->confirmed().size(), report->results.size());
        for (const auto& result : report->results) {
            ASSERT_EQ(result.status.kind(), MatchStatus::Kind::confirmed) << result.description();
            if (result.group.kind == tessaline::ClipGroup::Kind::burstSet) {
                EXPECT_EQ(result.group.primaryFiles.size(), size_t(burstStills));
                continue;
            }
            EXPECT_EQ(result.status.path(), backup / "DCIM/100SEQ" / result.primaryName()) << result.description();
        }
        EXPECT_TRUE(report->isSafeToErase());
        // The proven burst's every frame is in the saved text.
        EXPECT_EQ(occurrences(report->summary(), "+ B"), size_t(burstStills - 1));

        // One byte of one frame's copy changed: exactly that frame is only on the card.
        const fs::path spoiled = backup / "DCIM/100SEQ" / frameName("F", 1234);
        std::string bytes = readFile(spoiled);
        bytes.back() ^= 0x01;
        writeFile(spoiled, bytes);
        report = scan(card, backup);
        ASSERT_TRUE(report);
        const auto missing = report->missing();
        ASSERT_EQ(missing.size(), 1u);
        EXPECT_EQ(missing.front().primaryName(), frameName("F", 1234));
        EXPECT_EQ(report->confirmed().size(), size_t(frames));

        // One byte of one burst frame's copy changed: the burst is not proven, and that frame
        // alone is named as without a proven copy, on screen and in the text, JSON and PDF.
        writeFile(spoiled, readFile(card / "DCIM/100SEQ" / frameName("F", 1234)));
        const std::string bad = frameName("B", 42);
        const fs::path spoiledFrame = backup / "DCIM/101BURST" / bad;
        bytes = readFile(spoiledFrame);
        bytes.back() ^= 0x01;
        writeFile(spoiledFrame, bytes);
        report = scan(card, backup);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->missing().size(), 1u);
        const tessaline::MatchResult burst = report->missing().front();
        ASSERT_EQ(burst.group.kind, tessaline::ClipGroup::Kind::burstSet);
        const auto unproven = burst.unprovenMembers();
        ASSERT_EQ(unproven.size(), 1u);
        EXPECT_EQ(burst.group.primaryFiles[unproven.front()].url.filename(), bad);

        ReportFileListModel rows;
        rows.setReport(report);
        bool rowNamesIt = false;
        for (int r = 0; r < rows.rowCount(); ++r)
            if (rows.row(r).status == ReportRow::Status::missing)
                rowNamesIt = rows.row(r).statusLine ==
                             QStringLiteral("No proven copy of %1 — the other 599 files are proven").arg(QString::fromStdString(bad));
        EXPECT_TRUE(rowNamesIt);

        const std::string text = report->summary();
        EXPECT_NE(text.find("\u2717 " + bad + "  no proven copy"), std::string::npos);
        EXPECT_EQ(occurrences(text, "\u2713 B"), size_t(burstStills - 1));
        const auto json = nlohmann::json::parse(tessaline::ReportExporter::json(*report));
        for (const auto& clip : json["clips"])
            if (clip["status"] == "missing") {
                EXPECT_EQ(clip["unproven_files"], nlohmann::json::array({bad}));
                EXPECT_EQ(clip["proven_files"].size(), size_t(burstStills - 1));
            }
        const fs::path pdf = sandbox / ("burst-" + fsType + ".pdf");
        tessaline::writeFileAtomically(pdf, tessaline::ReportExporter::pdf(*report));
        const std::string pdfText = tessaline::testing::pdfText(pdf);
        EXPECT_NE(pdfText.find(bad), std::string::npos);
        EXPECT_EQ(occurrences(pdfText, "no proven copy"), 2u);  // the burst's line and the frame's
        writeFile(spoiledFrame, readFile(card / "DCIM/101BURST" / bad));
    }
}

}  // namespace brindlecove
