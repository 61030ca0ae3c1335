#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

// Counts opens per path and fails the first `failures[path]` of them with EIO. The proof
// opens files on several threads.
struct CountingOpener {
    std::shared_ptr<std::map<std::string, int>> opens = std::make_shared<std::map<std::string, int>>();
    std::shared_ptr<std::map<std::string, int>> failures = std::make_shared<std::map<std::string, int>>();
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();

    FileOpener opener() const {
        return [opens = opens, failures = failures, mutex = mutex](const fs::path& path, int flags) {
            std::lock_guard lock(*mutex);
            int& count = (*opens)[path.string()];
            ++count;
            auto it = failures->find(path.string());
            if (it != failures->end() && count <= it->second) {
                errno = EIO;
                return -1;
            }
            return ::open(path.c_str(), flags);
        };
    }
    int opensOf(const fs::path& path) const {
        std::lock_guard lock(*mutex);
        auto it = opens->find(path.string());
        return it == opens->end() ? 0 : it->second;
    }
};

class MatchVerifierTest : public SandboxedTest {
protected:
    fs::path card = sandbox / "card";
    fs::path drive = sandbox / "drive";
    CountingOpener counter;

    Fingerprint make(const fs::path& path, size_t size, unsigned seed) {
        writePatternFile(path, size, seed);
        return Fingerprint{.url = path, .byteSize = static_cast<int64_t>(size)};
    }
    Fingerprint copy(const Fingerprint& from, const fs::path& to) {
        fs::create_directories(to.parent_path());
        fs::copy_file(from.url, to, fs::copy_options::overwrite_existing);
        return Fingerprint{.url = to, .byteSize = from.byteSize};
    }
    static MatchResult claim(std::vector<Fingerprint> files, MatchStatus status) {
        return {ClipGroup{std::move(files), {}, ClipGroup::Kind::video}, std::move(status)};
    }
    std::vector<MatchResult> run(const std::vector<MatchResult>& results, const std::vector<Fingerprint>& drives,
                                 std::optional<fs::path> cardRoot = std::nullopt,
                                 MatchVerifier::CancelTest cancel = [] { return false; },
                                 std::vector<std::pair<int, int>>* progress = nullptr) {
        MatchVerifier verifier(ChecksumEngine(64 * 1024, counter.opener()), std::move(cardRoot));
        return verifier.verify(results, drives, cancel, [progress](int done, int total) {
            if (progress) progress->emplace_back(done, total);
        });
    }
    // The scan's road: the matcher's claims proven.
    std::vector<MatchResult> prove(const std::vector<ClipGroup>& groups, const std::vector<Fingerprint>& drives) {
        return MatchVerifier(ChecksumEngine(64 * 1024, counter.opener()), card)
            .verify(Matcher().claim(groups, drives, card), [] { return false; });
    }
    // The scan's order: the matcher's verdict for one card file, then the verifier's.
    struct Verdicts {
        MatchStatus matched;
        MatchStatus proven;
    };
    Verdicts matchAndVerify(const Fingerprint& cardFile, const std::vector<Fingerprint>& drives, const fs::path& cardRoot) {
        auto matched = Matcher().match({ClipGroup{{cardFile}, {}, ClipGroup::Kind::video}}, drives, cardRoot);
        return {matched.front().status, run(matched, drives, cardRoot).front().status};
    }
};

}  // namespace

TEST_F(MatchVerifierTest, ProofTurnsOnTheBytes) {
    auto a = make(card / "A.MOV", 300'000, 1);
    auto b = make(card / "B.MOV", 300'000, 2);
    auto c = make(card / "C.MOV", 1000, 3);
    auto aCopy = copy(a, drive / "A.MOV");
    auto bCopy = copy(b, drive / "B.MOV");
    // One byte changed in the middle of B's copy.
    std::string bytes = readFile(bCopy.url);
    bytes[150'000] ^= 0x01;
    writeFile(bCopy.url, bytes);
    std::vector<std::pair<int, int>> progress;
    auto out = run({claim({a}, MatchStatus::confirmed(aCopy.url)), claim({b}, MatchStatus::confirmed(bCopy.url)),
                    claim({c}, MatchStatus::confirmed(drive / "gone.MOV")),
                    claim({c}, MatchStatus::nameMatchMetadataMismatch(aCopy.url))},
                   {aCopy, bCopy}, std::nullopt, [] { return false; }, &progress);
    EXPECT_EQ(out[0].status, MatchStatus::confirmed(aCopy.url));
    EXPECT_EQ(out[1].status, MatchStatus::missing());
    EXPECT_EQ(out[2].status, MatchStatus::missing());
    EXPECT_EQ(out[3].status, MatchStatus::nameMatchMetadataMismatch(aCopy.url));
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    // A vanished drive file fails at the size test: nothing opened, no retry.
    EXPECT_EQ(counter.opensOf(c.url), 0);
}

TEST_F(MatchVerifierTest, ReadErrorsAreRetriedThreeTimes) {
    auto a = make(card / "A.MOV", 5000, 1);
    auto aCopy = copy(a, drive / "A.MOV");
    (*counter.failures)[aCopy.url.string()] = 2;
    auto out = run({claim({a}, MatchStatus::confirmed(aCopy.url))}, {aCopy});
    EXPECT_EQ(out[0].status, MatchStatus::confirmed(aCopy.url));
    EXPECT_EQ(counter.opensOf(aCopy.url), 3);
    // The card file was read once: its digest is kept across the attempts.
    EXPECT_EQ(counter.opensOf(a.url), 1);

    CountingOpener fresh;
    counter = fresh;
    (*counter.failures)[aCopy.url.string()] = 3;
    out = run({claim({a}, MatchStatus::confirmed(aCopy.url))}, {aCopy});
    EXPECT_EQ(out[0].status, MatchStatus::missing());
    EXPECT_EQ(counter.opensOf(aCopy.url), 3);
}

TEST_F(MatchVerifierTest, DuplicatesNarrowToTheProvenLocations) {
    auto a = make(card / "A.MOV", 4000, 1);
    auto one = copy(a, drive / "1/A.MOV");
    auto two = copy(a, drive / "2/A.MOV");
    auto other = make(drive / "3/A.MOV", 4000, 9);
    auto out = run({claim({a}, MatchStatus::possibleDuplicate({other.url, one.url})),
                    claim({a}, MatchStatus::possibleDuplicate({one.url, other.url, two.url})),
                    claim({a}, MatchStatus::possibleDuplicate({other.url}))},
                   {one, two, other});
    EXPECT_EQ(out[0].status, MatchStatus::confirmed(one.url));
    EXPECT_EQ(out[1].status, MatchStatus::possibleDuplicate({one.url, two.url}));
    EXPECT_EQ(out[2].status, MatchStatus::missing());
    // Each file is hashed once for the whole call, however many claims name it.
    EXPECT_EQ(counter.opensOf(a.url), 1);
    EXPECT_EQ(counter.opensOf(one.url), 1);
}

TEST_F(MatchVerifierTest, EveryMemberOfAClipNeedsACopy) {
    auto raw = make(card / "IMG_0001.CR3", 9000, 1);
    auto jpeg = make(card / "IMG_0001.JPG", 3000, 2);
    auto rawCopy = copy(raw, drive / "raw/IMG_0001.CR3");
    auto decoy = make(drive / "IMG_9999.JPG", 3000, 7);  // same size, other bytes
    auto out = run({claim({raw, jpeg}, MatchStatus::confirmed(rawCopy.url))}, {rawCopy, decoy});
    EXPECT_EQ(out[0].status, MatchStatus::missing());

    // The member's copy may lie in any folder, under any name.
    auto jpegCopy = copy(jpeg, drive / "elsewhere/renamed.jpg");
    out = run({claim({raw, jpeg}, MatchStatus::confirmed(rawCopy.url))}, {rawCopy, decoy, jpegCopy});
    EXPECT_EQ(out[0].status, MatchStatus::confirmed(rawCopy.url));
}

// The scan's road for clips whose first file is on no drive while other members are: a pair
// with only its JPEG copied, a burst without its first still, a spanned clip without its first
// piece. Each is missing, never a name mismatch, and names exactly its files without a copy.
TEST_F(MatchVerifierTest, AClipWhoseFirstFileIsOnNoDriveNamesItsMembersWithoutACopy) {
    auto raw = make(card / "DSC00267.ARW", 9000, 1);
    auto jpeg = make(card / "DSC00267.JPG", 3000, 2);
    std::vector<Fingerprint> burst;
    for (int k = 0; k < 4; ++k) burst.push_back(make(card / ("B000" + std::to_string(k) + ".JPG"), size_t(2000 + k), unsigned(10 + k)));
    auto piece1 = make(card / "C0001_001.MP4", 7000, 20);
    auto piece2 = make(card / "C0001_002.MP4", 5000, 21);
    auto lone1 = make(card / "L0001.ARW", 8000, 30);
    auto lone2 = make(card / "L0001.JPG", 2500, 31);
    const std::vector<ClipGroup> groups{{{raw, jpeg}, {}, ClipGroup::Kind::rawJpegPair},
                                        {burst, {}, ClipGroup::Kind::burstSet},
                                        {{piece1, piece2}, {}, ClipGroup::Kind::video},
                                        {{lone1, lone2}, {}, ClipGroup::Kind::rawJpegPair}};
    // The JPEG under its own name beside the card's folder layout, burst stills 1 and 3, the
    // second piece; nothing of the lone pair (its JPEG's name only, on another file).
    const std::vector<Fingerprint> drives{copy(jpeg, drive / "DCIM/DSC00267.JPG"), copy(burst[1], drive / "B/B0001.JPG"),
                                          copy(burst[3], drive / "B/B0003.JPG"), copy(piece2, drive / "V/C0001_002.MP4"),
                                          make(drive / "X/L0001.jpg", 1234, 40)};
    const MatchClaims claims = Matcher().claim(groups, drives, card);
    for (size_t g = 0; g < 3; ++g) {
        EXPECT_EQ(claims.status(g), MatchStatus::missing()) << g;
        EXPECT_TRUE(claims.claim(g).membersOnDrives) << g;
    }
    EXPECT_FALSE(claims.claim(3).membersOnDrives);

    std::vector<std::pair<int, int>> progress;
    const auto out = MatchVerifier(ChecksumEngine(64 * 1024, counter.opener()), card)
                         .verify(claims, [] { return false; }, [&](int done, int total) { progress.emplace_back(done, total); });
    ASSERT_EQ(out.size(), groups.size());
    for (const auto& result : out) EXPECT_TRUE(result.isMissing()) << result.description();
    EXPECT_EQ(out[0].unprovenMembers(), (std::vector<size_t>{0}));
    EXPECT_EQ(out[1].unprovenMembers(), (std::vector<size_t>{0, 2}));
    EXPECT_EQ(out[2].unprovenMembers(), (std::vector<size_t>{0}));
    EXPECT_TRUE(out[3].membersProven.empty());
    // The examined clips count in the progress; the lone pair is not read at all.
    EXPECT_EQ(progress.front(), std::make_pair(0, 3));
    EXPECT_EQ(progress.back(), std::make_pair(3, 3));
    EXPECT_EQ(counter.opensOf(lone1.url) + counter.opensOf(lone2.url), 0);

    // Once the RAW is copied as well (under any folder), the pair is proven.
    auto withRaw = drives;
    withRaw.push_back(copy(raw, drive / "Rescue/DSC00267.ARW"));
    EXPECT_EQ(prove(groups, withRaw)[0].status, MatchStatus::confirmed(drive / "Rescue/DSC00267.ARW"));

    // A same-named RAW of other bytes on a drive still asks for a check.
    auto spoiled = withRaw;
    spoiled.back() = make(drive / "Rescue/DSC00267.ARW", 9001, 3);
    const auto checked = prove(groups, spoiled);
    EXPECT_EQ(checked[0].status, MatchStatus::nameMatchMetadataMismatch(drive / "Rescue/DSC00267.ARW"));
}

TEST_F(MatchVerifierTest, ACardIsNeverItsOwnBackup) {
    auto a = make(card / "DCIM/A.MOV", 4000, 1);
    auto backupOnCard = copy(a, card / "backup/A.MOV");
    fs::create_directories(drive);
    ASSERT_EQ(::link(a.url.c_str(), (drive / "hardlink.MOV").c_str()), 0);
    Fingerprint hardlink{.url = drive / "hardlink.MOV", .byteSize = 4000};
    fs::create_symlink(card, sandbox / "cardlink");
    Fingerprint throughLink{.url = sandbox / "cardlink/backup/A.MOV", .byteSize = 4000};

    auto out = run({claim({a}, MatchStatus::confirmed(a.url)), claim({a}, MatchStatus::confirmed(hardlink.url)),
                    claim({a}, MatchStatus::confirmed(backupOnCard.url)), claim({a}, MatchStatus::confirmed(throughLink.url))},
                   {a, hardlink, backupOnCard, throughLink}, card);
    for (const auto& result : out) EXPECT_EQ(result.status, MatchStatus::missing()) << result.description();

    // A real copy among the locations still proves.
    auto real = copy(a, drive / "real/A.MOV");
    out = run({claim({a}, MatchStatus::possibleDuplicate({backupOnCard.url, real.url}))}, {backupOnCard, real}, card);
    EXPECT_EQ(out[0].status, MatchStatus::confirmed(real.url));
}

TEST_F(MatchVerifierTest, CancellationKeepsTheMatchersVerdicts) {
    auto a = make(card / "A.MOV", 4000, 1);
    auto aCopy = copy(a, drive / "A.MOV");
    std::vector<MatchResult> claims{claim({a}, MatchStatus::confirmed(aCopy.url)),
                                    claim({a}, MatchStatus::possibleDuplicate({aCopy.url, aCopy.url}))};
    std::vector<std::pair<int, int>> progress;
    auto out = run(claims, {aCopy}, std::nullopt, [] { return true; }, &progress);
    EXPECT_EQ(out[0].status, claims[0].status);
    EXPECT_EQ(out[1].status, claims[1].status);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(counter.opensOf(a.url), 0);

    // Stopped while the first claim is proven: it fails, the rest keep their verdicts.
    int asked = 0;
    progress.clear();
    out = run(claims, {aCopy}, std::nullopt, [&asked] { return ++asked > 1; }, &progress);
    EXPECT_EQ(out[0].status, MatchStatus::missing());
    EXPECT_EQ(out[1].status, claims[1].status);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}}));

    progress.clear();
    EXPECT_TRUE(run({}, {}, std::nullopt, [] { return false; }, &progress).empty());
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_THROW(MatchVerifier(ChecksumEngine(0)), std::invalid_argument);
}

// A card's own folder, or the card itself, reached through a bind mount looks like any other
// folder by path and by inode (the bind shows the card's files under another path with the
// card's device and inodes, and a copy on the card has an inode of its own). Its place in the
// card's file system gives it away.
TEST_F(MatchVerifierTest, ACardFolderReachedThroughABindMountIsNoBackup) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        auto a = make(root / "DCIM/A.MOV", 40'000, 1);
        copy(a, root / ".backup/A.MOV");
        ScopedMount bound({"--bind", (root / ".backup").string()}, sandbox / fsType / "x");
        Fingerprint boundCopy{.url = bound.target() / "A.MOV", .byteSize = a.byteSize};

        auto verdicts = matchAndVerify(a, {boundCopy}, root);
        EXPECT_EQ(verdicts.matched, MatchStatus::missing());
        EXPECT_EQ(verdicts.proven, MatchStatus::missing());
        EXPECT_EQ(run({claim({a}, MatchStatus::confirmed(boundCopy.url))}, {boundCopy}, root)[0].status,
                  MatchStatus::missing());

        // A second mount of the card's device (for exFAT another FUSE daemon) is the card too.
        ScopedMount again({"-t", fsType == "exfat" ? "exfat-fuse" : fsType, card.device()}, sandbox / fsType / "again");
        Fingerprint viaSecondMount{.url = again.target() / ".backup/A.MOV", .byteSize = a.byteSize};
        EXPECT_EQ(run({claim({a}, MatchStatus::confirmed(viaSecondMount.url))}, {viaSecondMount}, root)[0].status,
                  MatchStatus::missing());

        // With a real copy beside the bound one, the real copy is matched and proven, even when
        // the card's own copy is nearer in (file-system) time.
        auto real = copy(a, drive / fsType / "A.MOV");
        Fingerprint dated = a, boundDated = boundCopy, realDated = real;
        dated.captureDate = boundDated.captureDate = 1.7e9;
        realDated.captureDate = 1.7e9 + 100;
        verdicts = matchAndVerify(dated, {boundDated, realDated}, root);
        EXPECT_EQ(verdicts.matched, MatchStatus::confirmed(real.url));
        EXPECT_EQ(verdicts.proven, MatchStatus::confirmed(real.url));

        // Nor does the card's own file explain a miss by its name: the first same-named file
        // off the card does.
        Fingerprint resized = a;
        resized.byteSize += 1;
        auto matched = Matcher().match({ClipGroup{{resized}, {}, ClipGroup::Kind::video}}, {boundCopy}, root);
        EXPECT_EQ(matched.front().status, MatchStatus::missing());
        matched = Matcher().match({ClipGroup{{resized}, {}, ClipGroup::Kind::video}}, {boundCopy, real}, root);
        EXPECT_EQ(matched.front().status, MatchStatus::nameMatchMetadataMismatch(real.url));
    }
}

TEST_F(MatchVerifierTest, TheCardReachedThroughABindMountIsNoBackupOfItself) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        // The card is scanned through a bind mount of it; the drive is a folder on its own mount.
        ScopedMount view({"--bind", card.mountPoint().string()}, sandbox / fsType / "card-view");
        auto a = make(view.target() / "DCIM/A.MOV", 40'000, 2);
        auto onCard = copy(a, card.mountPoint() / "backup/A.MOV");

        auto verdicts = matchAndVerify(a, {onCard}, view.target());
        EXPECT_EQ(verdicts.matched, MatchStatus::missing());
        EXPECT_EQ(verdicts.proven, MatchStatus::missing());
        EXPECT_EQ(run({claim({a}, MatchStatus::possibleDuplicate({onCard.url, onCard.url}))}, {onCard}, view.target())[0]
                      .status,
                  MatchStatus::missing());
    }
}

TEST_F(MatchVerifierTest, ACopyElsewhereOnTheCardsFileSystemStillProves) {
    TESSALINE_REQUIRE_ROOT();
    // The card is a folder on a big disk; the backups lie elsewhere on the same disk.
    LoopVolume disk("ext4", 64, "BIG");
    const fs::path cardRoot = disk.mountPoint() / "cards/A";
    auto a = make(cardRoot / "DCIM/A.MOV", 40'000, 3);
    auto backup = copy(a, disk.mountPoint() / "backup/A.MOV");
    auto sibling = copy(a, disk.mountPoint() / "cards/A2/A.MOV");  // a name that only starts like the card's
    ScopedMount boundBackup({"--bind", (disk.mountPoint() / "backup").string()}, sandbox / "bk");
    Fingerprint viaBind{.url = boundBackup.target() / "A.MOV", .byteSize = a.byteSize};

    for (const auto& copyOnDisk : {backup, sibling, viaBind}) {
        auto verdicts = matchAndVerify(a, {copyOnDisk}, cardRoot);
        EXPECT_EQ(verdicts.matched, MatchStatus::confirmed(copyOnDisk.url)) << copyOnDisk.url;
        EXPECT_EQ(verdicts.proven, MatchStatus::confirmed(copyOnDisk.url)) << copyOnDisk.url;
    }
    // The card folder itself bound elsewhere is still the card.
    copy(a, cardRoot / "old/A.MOV");
    ScopedMount boundCard({"--bind", cardRoot.string()}, sandbox / "card-bound");
    Fingerprint ownCopy{.url = boundCard.target() / "old/A.MOV", .byteSize = a.byteSize};
    EXPECT_EQ(matchAndVerify(a, {ownCopy, backup}, cardRoot).proven, MatchStatus::confirmed(backup.url));
    EXPECT_EQ(run({claim({a}, MatchStatus::confirmed(ownCopy.url))}, {ownCopy}, cardRoot)[0].status,
              MatchStatus::missing());
}
