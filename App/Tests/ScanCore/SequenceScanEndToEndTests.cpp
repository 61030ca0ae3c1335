// Image sequences and bursts scanned end to end (ScanRun::perform) on loop-mounted exFAT and
// ext4 cards against an ext4 drive holding a byte-identical copy of every file: thousands of
// same-size stills without a camera date (one fingerprint key for all; on ext4 the
// file-system times, nearest in time, name another frame's copy), and a burst sharing one
// camera second and model. Every file is confirmed and none is missing; a copy that differs
// by one byte leaves exactly its frame unproven.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

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
    }
}

}  // namespace brindlecove
