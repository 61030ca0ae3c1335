// The proof of the card files beside the clips' footage: which ones are listed for proof, and
// the proof itself (same name and size, same bytes, never the card itself).

#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/OtherFile.hpp"

#include <gtest/gtest.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

class OtherFileProofTest : public SandboxedTest {
protected:
    fs::path card = sandbox / "card";
    fs::path drive = sandbox / "drive";

    OtherFile other(const fs::path& path, const std::string& bytes) {
        writeFile(path, bytes);
        return OtherFile{path, static_cast<int64_t>(bytes.size()), OtherFile::Role::other, std::nullopt};
    }
    static MediaFile onDrive(const fs::path& path) {
        return MediaFile{path, MediaFile::Kind::other, static_cast<int64_t>(fs::file_size(path))};
    }
    std::vector<OtherFile> prove(std::vector<OtherFile> files, const std::vector<MediaFile>& drives,
                                 std::vector<std::pair<int, int>>* progress = nullptr) {
        return MatchVerifier(ChecksumEngine(64 * 1024), card)
            .verifyOtherFiles(std::move(files), drives, [] { return false; }, [progress](int done, int total) {
                if (progress) progress->emplace_back(done, total);
            });
    }
};

}  // namespace

TEST_F(OtherFileProofTest, ListsTheBackedUpClipsSidecarsAndEveryFileOfNoClip) {
    ScanResult scan;
    scan.sidecarFiles = {{card / "A/C0001M01.XML", MediaFile::Kind::sidecar, 10},
                         {card / "A/C0002M01.XML", MediaFile::Kind::sidecar, 20},
                         {card / "A/ORPHAN.XMP", MediaFile::Kind::sidecar, 30}};
    scan.otherFiles = {{card / "B/00000.CPI", MediaFile::Kind::other, 40}, {card / "NOTES.TXT", MediaFile::Kind::other, 50}};
    auto clip = [&](const char* name, const char* sidecar, MatchStatus status) {
        return MatchResult{ClipGroup{{Fingerprint{.url = card / "A" / name}}, {card / "A" / sidecar}, ClipGroup::Kind::video},
                           std::move(status)};
    };
    const auto files = OtherFile::toProve(
        scan, {clip("C0001.MP4", "C0001M01.XML", MatchStatus::confirmed(drive / "C0001.MP4")),
               clip("C0002.MP4", "C0002M01.XML", MatchStatus::missing())});
    // The missing clip's sidecar goes with its clip; the orphan is an other file.
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], (OtherFile{card / "A/C0001M01.XML", 10, OtherFile::Role::sidecar, std::nullopt}));
    EXPECT_EQ(files[1], (OtherFile{card / "A/ORPHAN.XMP", 30, OtherFile::Role::other, std::nullopt}));
    EXPECT_EQ(files[2].url, card / "B/00000.CPI");
    EXPECT_EQ(files[3].url, card / "NOTES.TXT");
}

TEST_F(OtherFileProofTest, ProofNeedsTheSameNameSizeAndBytesOffTheCard) {
    auto moved = other(card / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "clip info 1");
    auto changed = other(card / "PRIVATE/AVCHD/BDMV/INDEX.BDM", "index table");
    auto onlyHere = other(card / "NOTES.TXT", "call sheet");
    auto renamed = other(card / "LOG.TXT", "camera log");
    writeFile(drive / "Elsewhere/00000.cpi", "clip info 1");  // another folder, name case differs
    writeFile(drive / "Day1/INDEX.BDM", "index tablE");        // same name and size, one byte off
    writeFile(drive / "Day1/CAMERA.TXT", "camera log");        // same bytes, another name
    writeFile(card / "copy/NOTES.TXT", "call sheet");           // a copy on the card itself
    std::vector<std::pair<int, int>> progress;
    auto out = prove({moved, changed, onlyHere, renamed},
                     {onDrive(drive / "Elsewhere/00000.cpi"), onDrive(drive / "Day1/INDEX.BDM"),
                      onDrive(drive / "Day1/CAMERA.TXT"), onDrive(card / "copy/NOTES.TXT")},
                     &progress);
    EXPECT_EQ(out[0].provenAt, drive / "Elsewhere/00000.cpi");
    EXPECT_TRUE(out[1].isOnlyOnCard());
    EXPECT_TRUE(out[2].isOnlyOnCard());
    EXPECT_TRUE(out[3].isOnlyOnCard());
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
}

TEST_F(OtherFileProofTest, ReturnsWithoutAProgressCallback) {
    auto note = other(card / "NOTES.TXT", "call sheet");
    writeFile(drive / "NOTES.TXT", "call sheet");
    std::vector<CardFileDigest> digests;
    auto out = MatchVerifier(ChecksumEngine(), card).verifyOtherFiles({note}, {onDrive(drive / "NOTES.TXT")},
                                                                     [] { return false; }, {}, nullptr, &digests);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].provenAt, drive / "NOTES.TXT");
    // The proven card file's digest comes back with the verdicts.
    ASSERT_EQ(digests.size(), 1u);
    EXPECT_EQ(digests[0].url, note.url);
    EXPECT_EQ(digests[0].digest, ChecksumEngine().hash(note.url));
    EXPECT_EQ(digests[0].byteSize, 10);
}

TEST_F(OtherFileProofTest, PrefersTheCopyInTheCardsOwnPlace) {
    // Every AVCHD card has a 00000.CPI: the one in the same place below the card root is
    // tried first, whatever the drive order.
    auto file = other(card / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "same bytes");
    writeFile(drive / "Flat/00000.CPI", "same bytes");
    writeFile(drive / "CardA/PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "same bytes");
    auto out = prove({file}, {onDrive(drive / "Flat/00000.CPI"),
                              onDrive(drive / "CardA/PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI")});
    EXPECT_EQ(out[0].provenAt, drive / "CardA/PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI");
    // Without it, the other copy proves.
    fs::remove(drive / "CardA/PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI");
    out = prove({file}, {onDrive(drive / "Flat/00000.CPI")});
    EXPECT_EQ(out[0].provenAt, drive / "Flat/00000.CPI");
}

TEST_F(OtherFileProofTest, ACardFileReachedThroughABindMountIsNoBackup) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume volume(fsType, 64, "CARD");
        card = volume.mountPoint();
        auto notes = other(card / "NOTES.TXT", "the only copy");
        writeFile(card / ".backup/NOTES.TXT", "the only copy");
        ScopedMount bound({"--bind", (card / ".backup").string()}, sandbox / fsType / "bound");
        auto out = prove({notes}, {onDrive(bound.target() / "NOTES.TXT")});
        EXPECT_TRUE(out[0].isOnlyOnCard());
        writeFile(drive / fsType / "NOTES.TXT", "the only copy");
        out = prove({notes}, {onDrive(bound.target() / "NOTES.TXT"), onDrive(drive / fsType / "NOTES.TXT")});
        EXPECT_EQ(out[0].provenAt, drive / fsType / "NOTES.TXT");
    }
}
