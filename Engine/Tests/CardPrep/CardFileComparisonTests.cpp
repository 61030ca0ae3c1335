// Renumbered card files judged by their bytes, on real volumes: FUSE exFAT numbers afresh
// every file the kernel forgets (caches dropped), and then the bytes decide; ext4 keeps its
// numbers, which decide as before; a look-alike swapped in by folder renames (same names,
// sizes and times, other bytes) differs on both. The scan's reads (CardFileReads) give the
// records the digests and numbers of the very files they read.

#include "Tessaline/CardPrep/CardFileComparison.hpp"

#include "Tessaline/CardPrep/CardFileReads.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/LookAlikeFiles.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <set>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Numbering = CardFileComparison::Numbering;
using testing::LoopVolume;
using testing::readFile;
using testing::writeFile;
using testing::writePatternFile;

// The card's set with the digest of every file, as a scan's proofs leave it.
CardFileSet provenSet(const fs::path& root) {
    CardFileSet set = CardFileSet::read(root);
    std::vector<std::string> all;
    for (const auto& record : set.files) all.push_back(record.relative);
    CardFileComparison::readAgain(root, set.files, all);
    for (const auto& record : set.files)
        if (record.digest.empty()) throw std::runtime_error("no digest for " + record.relative);
    return set;
}

class CardFileComparisonTest : public testing::SandboxedTest {};

TEST_F(CardFileComparisonTest, FilesFuseExfatRenumberedAreJudgedByTheirBytes) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "CARD");
    const fs::path root = card.mountPoint();
    const std::vector<std::string> paths{"DCIM/100CANON/IMG_0001.CR3", "DCIM/100CANON/IMG_0002.CR3", "NOTES.TXT",
                                         "PRIVATE/M4ROOT/CLIP/C0001.MP4"};
    for (unsigned i = 0; i < paths.size(); ++i) writePatternFile(root / paths[i], 300'000 + i, i + 1);
    const CardFileSet before = provenSet(root);
    ASSERT_TRUE(before.mount);
    EXPECT_FALSE(before.mount->keepsInodeNumbers) << "FUSE";

    // The kernel forgets the files: new numbers, nothing else new.
    LoopVolume::dropCaches();
    CardFileSet now = CardFileSet::read(root);
    const Numbering numbering = CardFileComparison::between(before.mount, now.mount);
    ASSERT_EQ(numbering, Numbering::renumbering);
    ASSERT_NE(before.files[0].inode, now.files[0].inode) << "the driver numbered the file afresh";
    EXPECT_EQ(CardFileSet::differences(before.files, now.files, true).size(), paths.size()) << "strict by number";
    EXPECT_EQ(CardFileComparison::compare(before.files, now.files, numbering),
              (CardFileComparison::Differences{{}, paths}));

    // Read again, once each, with progress: the same bytes, so nothing changed.
    std::vector<std::pair<int, int>> progress;
    EXPECT_TRUE(CardFileComparison::changedJudgingBytes(root, before.files, now.files, numbering, {},
                                                        [&](int done, int total) { progress.emplace_back(done, total); })
                    .empty());
    EXPECT_EQ(progress.front(), std::make_pair(0, 4));
    EXPECT_EQ(progress.back(), std::make_pair(4, 4));
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(now.files[i].digest, before.files[i].digest);
    EXPECT_TRUE(CardFileComparison::compare(before.files, now.files, numbering).none()) << "judged once";

    // A record without a digest cannot be vouched for by bytes; a stop leaves files unjudged.
    CardFileSet undigested = before;
    undigested.files[2].digest.clear();
    CardFileSet again = CardFileSet::read(root);
    EXPECT_EQ(CardFileComparison::changedJudgingBytes(root, undigested.files, again.files, numbering),
              std::vector<std::string>{"NOTES.TXT"});
    LoopVolume::dropCaches();
    again = CardFileSet::read(root);
    EXPECT_EQ(CardFileComparison::changedJudgingBytes(root, before.files, again.files, numbering, [] { return true; }),
              paths);

    // Other bytes at the same size and stamps, then renumbered: named by its bytes.
    testing::rewriteKeepingStamps(root / paths[1]);
    LoopVolume::dropCaches();
    again = CardFileSet::read(root);
    EXPECT_TRUE(CardFileSet::differences(before.files, again.files, false).empty()) << "size and stamps alike";
    EXPECT_EQ(CardFileComparison::changedJudgingBytes(root, before.files, again.files, numbering),
              std::vector<std::string>{paths[1]});
}

TEST_F(CardFileComparisonTest, Ext4KeepsItsNumbersAndLookAlikesDifferOnBoth) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        const std::set<std::string> clips{"DCIM/100CANON/MVI_0001.MP4", "DCIM/101CANON/IMG_0002.CR3"};
        unsigned seed = 1;
        for (const auto& clip : clips) writePatternFile(root / clip, 70'000, seed++);
        testing::makeLookAlikes(root / "DCIM", root / ".Trashes/LOOK");
        const CardFileSet before = provenSet(root);
        const Numbering numbering = CardFileComparison::between(before.mount, before.mount);
        EXPECT_EQ(numbering, fsType == "ext4" ? Numbering::identity : Numbering::renumbering);

        LoopVolume::dropCaches();
        CardFileSet now = CardFileSet::read(root);
        EXPECT_TRUE(CardFileComparison::compare(before.files, now.files, numbering).changed.empty());
        if (fsType == "ext4") {
            EXPECT_TRUE(CardFileComparison::compare(before.files, now.files, numbering).none());
        }

        testing::swapInLookAlikes(root);
        now = CardFileSet::read(root);
        const auto changed = CardFileComparison::changedJudgingBytes(root, before.files, now.files, numbering);
        EXPECT_EQ(std::set<std::string>(changed.begin(), changed.end()), clips);
    }
}

TEST_F(CardFileComparisonTest, TheScansReadsGiveRecordsTheirDigestsAndNameWhatChangedBeforeOrWhileRead) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "CARD");
    const fs::path root = card.mountPoint();
    for (const std::string name : {"A.MP4", "B.MP4", "C.MP4", "D.MP4"}) writePatternFile(root / "DCIM" / name, 90'000);
    writeFile(sandbox / "drive.MP4", "a drive file");
    CardFileSet walked = CardFileSet::read(root);
    const Numbering numbering = CardFileComparison::between(walked.mount, walked.mount);

    // Renumbered between the walk and the reads; C grows before its read, D is never read.
    LoopVolume::dropCaches();
    writeFile(root / "DCIM/C.MP4", readFile(root / "DCIM/C.MP4") + "more");
    CardFileReads reads(root / "");
    ChecksumEngine checksum;
    checksum.observeReads(reads.observer());
    std::map<std::string, std::string> digests;
    for (const std::string name : {"A.MP4", "B.MP4", "C.MP4", "A.MP4"}) digests[name] = checksum.hash(root / "DCIM" / name);
    checksum.hash(sandbox / "drive.MP4");  // not the card's: left alone

    EXPECT_EQ(reads.applyTo(walked.files, numbering), std::vector<std::string>{"DCIM/C.MP4"});
    struct stat st {};
    ASSERT_EQ(::stat((root / "DCIM/A.MP4").c_str(), &st), 0);
    EXPECT_EQ(walked.files[0].inode, st.st_ino) << "the number the read file had";
    EXPECT_EQ(walked.files[0].digest, digests["A.MP4"]);
    EXPECT_TRUE(walked.files[2].digest.empty());
    EXPECT_TRUE(walked.files[3].digest.empty());
    // After the proofs: A and B are what was read, C changed, D was renumbered and never read.
    EXPECT_EQ(CardFileSet::changedSince(root, walked.files, numbering),
              (std::vector<std::string>{"DCIM/C.MP4", "DCIM/D.MP4"}));

    // Where numbers are kept, a read of another file than the walk's is a contradiction.
    std::vector<CardFileRecord> records{walked.files[0]};
    records[0].digest.clear();
    CardFileReads kept(root);
    ASSERT_EQ(::stat((root / "DCIM/A.MP4").c_str(), &st), 0);
    st.st_ino += 1;
    kept.observer()({root / "DCIM/A.MP4", st, st, digests["A.MP4"]});
    EXPECT_EQ(kept.applyTo(records, Numbering::identity), std::vector<std::string>{"DCIM/A.MP4"});
    EXPECT_TRUE(kept.applyTo(records, Numbering::renumbering).empty());
    EXPECT_EQ(records[0].inode, st.st_ino);
}

}  // namespace
}  // namespace tessaline
