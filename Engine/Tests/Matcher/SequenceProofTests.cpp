// Image sequences and bursts: thousands of card files that share one fingerprint key (one
// size, no camera date, or one camera second). The matcher shares their candidates instead
// of copying them per clip, the verifier finds each frame's byte-identical copy whichever
// candidate the matcher chose, and every file is read once.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <random>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;
using Kind = MatchStatus::Kind;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);

// Counts the opens of every file (the proof opens files on several threads).
struct OpenCounter {
    std::shared_ptr<std::map<std::string, int>> opens = std::make_shared<std::map<std::string, int>>();
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    FileOpener opener() const {
        return [opens = opens, mutex = mutex](const fs::path& path, int flags) {
            std::lock_guard lock(*mutex);
            ++(*opens)[path.string()];
            return ::open(path.c_str(), flags);
        };
    }
    int most() const {
        std::lock_guard lock(*mutex);
        int most = 0;
        for (const auto& [path, count] : *opens) most = std::max(most, count);
        return most;
    }
};

class SequenceProofTest : public SandboxedTest {
protected:
    static constexpr int frames = 120;  // above the matcher's threshold for a large size bucket
    static constexpr size_t frameSize = 3000;

    OpenCounter counter;
    std::vector<Fingerprint> card, drive;

    // Frames of one size and different bytes, copied to the drive under the same names in
    // reverse order (so drive order is not card order), with file-system dates `cardDate(k)`
    // and `driveDate(k)` when given.
    void shoot(const std::function<std::optional<EpochSeconds>(int)>& cardDate = {},
               const std::function<std::optional<EpochSeconds>(int)>& driveDate = {}) {
        for (int k = 0; k < frames; ++k) {
            const std::string name = "F" + std::to_string(10000 + k) + ".DNG";
            writePatternFile(sandbox / "card" / name, frameSize, unsigned(k + 1));
            card.push_back({.url = sandbox / "card" / name, .byteSize = frameSize,
                            .captureDate = cardDate ? cardDate(k) : std::nullopt});
        }
        for (int k = frames - 1; k >= 0; --k) {
            const fs::path copy = sandbox / "drive" / card[size_t(k)].url.filename();
            fs::create_directories(copy.parent_path());
            fs::copy_file(card[size_t(k)].url, copy);
            drive.push_back({.url = copy, .byteSize = frameSize, .captureDate = driveDate ? driveDate(k) : std::nullopt});
        }
        for (auto* list : {&card, &drive})
            for (Fingerprint& fp : *list) fp.timestampSource = fp.captureDate ? TimestampSource::filesystemDate : TimestampSource::none;
    }

    std::vector<ClipGroup> singles() const {
        std::vector<ClipGroup> groups;
        for (const Fingerprint& fp : card) groups.push_back({{fp}, {}, ClipGroup::Kind::still});
        return groups;
    }

    std::vector<MatchResult> prove(const MatchClaims& claims, std::vector<CardFileDigest>* digests = nullptr) const {
        return MatchVerifier(ChecksumEngine(64 * 1024, counter.opener()), sandbox / "card")
            .verify(claims, [] { return false; }, {}, nullptr, digests);
    }

    fs::path copyOf(const fs::path& cardFile) const { return sandbox / "drive" / cardFile.filename(); }
};

}  // namespace

TEST_F(SequenceProofTest, UndatedFramesShareOneCandidateListAndEachProvesAtItsCopy) {
    shoot();
    const std::vector<ClipGroup> groups = singles();
    const MatchClaims claims = Matcher().claim(groups, drive, sandbox / "card");
    for (size_t g = 0; g < claims.size(); ++g) {
        ASSERT_EQ(claims.claim(g).kind, Kind::possibleDuplicate);
        EXPECT_EQ(claims.candidates(g).data(), claims.candidates(0).data()) << "one list for every frame";
        EXPECT_EQ(claims.candidates(g).size(), size_t(frames));
    }
    // The matcher's verdicts with paths are those of match().
    EXPECT_EQ(claims.status(7), Matcher().match({groups[7]}, drive, sandbox / "card").front().status);

    std::vector<CardFileDigest> digests;
    const auto results = prove(claims, &digests);
    for (size_t g = 0; g < results.size(); ++g)
        EXPECT_EQ(results[g].status, MatchStatus::confirmed(copyOf(card[g].url))) << results[g].description();
    EXPECT_EQ(counter.most(), 1) << "every card file and drive file is read once";
    ASSERT_EQ(digests.size(), size_t(frames));
    struct stat st {};
    ASSERT_EQ(::stat(card[3].url.c_str(), &st), 0);
    auto third = std::find_if(digests.begin(), digests.end(), [&](const auto& d) { return d.url == card[3].url; });
    ASSERT_NE(third, digests.end());
    EXPECT_EQ(third->digest, ChecksumEngine().hash(card[3].url));
    EXPECT_EQ(third->inode, st.st_ino);
}

TEST_F(SequenceProofTest, AWrongNearestFrameGivesWayToTheFramesOwnCopy) {
    // File-system times with nanoseconds: each card frame is nearest in time to the copy of
    // the frame at the other end of the sequence.
    shoot([](int k) { return noon + k * 1e-3; }, [](int k) { return noon + (frames - 1 - k) * 1e-3 + 4e-4; });
    const std::vector<ClipGroup> groups = singles();
    const MatchClaims claims = Matcher().claim(groups, drive, sandbox / "card");
    ASSERT_EQ(claims.claim(0).kind, Kind::confirmed);
    EXPECT_EQ(drive[claims.claim(0).drive].url, copyOf(card[frames - 1].url)) << "the matcher picks the wrong frame";
    const auto results = prove(claims);
    for (size_t g = 0; g < results.size(); ++g)
        EXPECT_EQ(results[g].status, MatchStatus::confirmed(copyOf(card[g].url))) << results[g].description();
    EXPECT_EQ(counter.most(), 1);
}

TEST_F(SequenceProofTest, OnlyTheFrameWhoseCopyDiffersByOneByteIsMissing) {
    shoot();
    const fs::path spoiled = copyOf(card[42].url);
    std::string bytes = readFile(spoiled);
    bytes[1500] ^= 0x01;
    writeFile(spoiled, bytes);
    const std::vector<ClipGroup> groups = singles();
    const auto results = prove(Matcher().claim(groups, drive, sandbox / "card"));
    for (size_t g = 0; g < results.size(); ++g)
        EXPECT_EQ(results[g].isMissing(), g == 42) << results[g].description();

    // A burst of all frames (one group) needs every member: the one spoiled copy fails it,
    // and the proof names that frame alone as without a proven copy.
    ClipGroup burst{card, {}, ClipGroup::Kind::burstSet};
    const std::vector<ClipGroup> one{burst};
    const MatchResult failed = prove(Matcher().claim(one, drive, sandbox / "card")).front();
    EXPECT_TRUE(failed.isMissing());
    EXPECT_EQ(failed.unprovenMembers(), std::vector<size_t>{42});
    writeFile(spoiled, readFile(card[42].url));
    auto fixed = prove(Matcher().claim(one, drive, sandbox / "card"));
    EXPECT_FALSE(fixed.front().isMissing()) << fixed.front().description();
}

TEST_F(SequenceProofTest, ABurstWhoseFirstFrameIsSpoiledStillNamesItsProvenFrames) {
    shoot();
    // The first frame's copy differs, and one more frame has no copy at all.
    const fs::path spoiled = copyOf(card[0].url);
    std::string bytes = readFile(spoiled);
    bytes[10] ^= 0x01;
    writeFile(spoiled, bytes);
    fs::remove(copyOf(card[7].url));
    std::erase_if(drive, [&](const Fingerprint& fp) { return fp.url == copyOf(card[7].url); });
    const std::vector<ClipGroup> one{{card, {}, ClipGroup::Kind::burstSet}};
    const MatchResult result = prove(Matcher().claim(one, drive, sandbox / "card")).front();
    ASSERT_TRUE(result.isMissing());
    EXPECT_EQ(result.unprovenMembers(), (std::vector<size_t>{0, 7}));
    ASSERT_EQ(result.membersProven.size(), size_t(frames));

    // A clip of two files with neither copied names both, without a member list.
    const std::vector<ClipGroup> pair{{{card[0], card[7]}, {}, ClipGroup::Kind::burstSet}};
    const MatchResult neither = prove(Matcher().claim(pair, drive, sandbox / "card")).front();
    EXPECT_TRUE(neither.isMissing());
    EXPECT_TRUE(neither.membersProven.empty());
    EXPECT_EQ(neither.unprovenMembers(), (std::vector<size_t>{0, 1}));
}

TEST_F(SequenceProofTest, TheSameNamedCopyIsTriedFirstWhenTheChosenOneFails) {
    // Two byte-identical copies of A besides the chosen decoy; the same-named one comes last
    // in drive order and still confirms the clip.
    writePatternFile(sandbox / "card/A.MOV", 5000, 1);
    writePatternFile(sandbox / "drive/decoy.MOV", 5000, 2);
    fs::copy_file(sandbox / "card/A.MOV", sandbox / "drive/other.MOV");
    fs::copy_file(sandbox / "card/A.MOV", sandbox / "drive/a.mov");
    const Fingerprint a{.url = sandbox / "card/A.MOV", .byteSize = 5000, .captureDate = noon};
    for (const char* name : {"decoy.MOV", "other.MOV", "a.mov"})
        drive.push_back({.url = sandbox / "drive" / name, .byteSize = 5000,
                         .captureDate = noon + (std::string(name) == "decoy.MOV" ? 1 : 100)});
    const std::vector<ClipGroup> groups{{{a}, {}, ClipGroup::Kind::video}};
    const MatchClaims claims = Matcher().claim(groups, drive, sandbox / "card");
    ASSERT_EQ(claims.status(0), MatchStatus::confirmed(sandbox / "drive/decoy.MOV"));
    EXPECT_EQ(prove(claims).front().status, MatchStatus::confirmed(sandbox / "drive/a.mov"));
}

// The shared candidates answer "nearest in time" by bisection: the verdicts must be those of
// sorting every candidate by distance, ties and undated candidates included.
TEST(SharedCandidatesTest, NearestByBisectionAgreesWithSortingEveryCandidate) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<Fingerprint> drives;
        const int count = 70 + int(random() % 60);
        for (int i = 0; i < count; ++i) {
            Fingerprint fp{.url = "/d/F" + std::to_string(i), .byteSize = 100};
            if (random() % 5) fp.captureDate = noon + double(random() % 40) * 0.25;  // many ties
            drives.push_back(fp);
        }
        std::vector<ClipGroup> groups;
        for (int c = 0; c < 30; ++c) {
            Fingerprint fp{.url = "/c/C" + std::to_string(c), .byteSize = 100};
            if (c % 7) fp.captureDate = noon + double(random() % 44) * 0.125 - 0.5;
            groups.push_back({{fp}, {}, ClipGroup::Kind::still});
        }
        const auto results = Matcher().match(groups, drives);
        for (size_t c = 0; c < groups.size(); ++c) {
            const auto& date = groups[c].primaryFiles.front().captureDate;
            std::vector<std::pair<double, size_t>> distances;
            for (size_t i = 0; i < drives.size(); ++i)
                distances.emplace_back(date && drives[i].captureDate ? std::fabs(*date - *drives[i].captureDate)
                                                                     : std::numeric_limits<double>::infinity(),
                                       i);
            std::stable_sort(distances.begin(), distances.end(), [](auto& a, auto& b) { return a.first < b.first; });
            const bool unique = date && distances[0].first != distances[1].first;
            if (unique)
                EXPECT_EQ(results[c].status, MatchStatus::confirmed(drives[distances[0].second].url)) << round << " " << c;
            else
                EXPECT_EQ(results[c].status.kind(), Kind::possibleDuplicate) << round << " " << c;
        }
    }
}
