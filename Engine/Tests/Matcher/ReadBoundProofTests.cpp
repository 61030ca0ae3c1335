// Where the verifier looks for a card file's copy, and how much it may read: under its name
// and near its time first, then beside the copies of its folder's other files, then among
// the other drive files of its fingerprint (never merely of its size), all within four times
// the card's bytes; a file whose search stopped there is named with its unread candidates.

#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/Support/NumberText.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <regex>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;
using Kind = MatchStatus::Kind;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);
constexpr size_t frameSize = 10'000;

// What the proof opened (on any of its threads) and how many bytes it hashed.
struct ReadLog {
    std::shared_ptr<std::map<std::string, int>> opens = std::make_shared<std::map<std::string, int>>();
    std::shared_ptr<int64_t> bytes = std::make_shared<int64_t>(0);
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();

    ChecksumEngine engine() const {
        ChecksumEngine engine(64 * 1024, [opens = opens, mutex = mutex](const fs::path& path, int flags) {
            std::lock_guard lock(*mutex);
            ++(*opens)[path.string()];
            return ::open(path.c_str(), flags);
        });
        engine.observeReads([bytes = bytes, mutex = mutex](const ChecksumEngine::Read& read) {
            std::lock_guard lock(*mutex);
            *bytes += read.opened.st_size;
        });
        return engine;
    }
    int opensBelow(const fs::path& folder) const {
        std::lock_guard lock(*mutex);
        int count = 0;
        for (const auto& [path, n] : *opens)
            if (path.rfind(folder.string() + "/", 0) == 0) count += n;
        return count;
    }
};

class ReadBoundProofTest : public SandboxedTest {
protected:
    ReadLog log;
    std::vector<Fingerprint> card, drive;

    Fingerprint frame(const fs::path& file, unsigned seed, std::optional<EpochSeconds> cameraDate = std::nullopt) {
        writePatternFile(file, frameSize, seed);
        Fingerprint fp{.url = file, .byteSize = frameSize, .captureDate = cameraDate};
        if (cameraDate) fp.hasCameraTimestamp = true, fp.timestampSource = TimestampSource::exifOriginal;
        return fp;
    }
    // `count` frames of the card's size and bytes of their own under drive/Archive/.
    void archive(int count) {
        for (int k = 0; k < count; ++k)
            drive.push_back(frame(sandbox / "drive/Archive" / ("A" + std::to_string(1000 + k) + ".DNG"), 5000 + unsigned(k)));
    }
    std::vector<MatchResult> prove(const std::vector<ClipGroup>& groups, std::vector<UnreadCandidates>* unread = nullptr) {
        const MatchClaims claims = Matcher().claim(groups, drive, sandbox / "card");
        return MatchVerifier(log.engine(), sandbox / "card").verify(claims, [] { return false; }, {}, nullptr, nullptr, unread);
    }
    // A burst of `count` stills in one camera second, copied under other names to drive/Day9
    // (the copy of member `spoiled` with bytes of its own); beside them 100 same-size stills of
    // another day in drive/Other, which are never a member's candidate.
    ClipGroup burstWithCopies(int count, std::optional<int> spoiled = std::nullopt) {
        std::vector<Fingerprint> members;
        for (int k = 0; k < count; ++k) {
            members.push_back(frame(sandbox / "card/DCIM" / ("B" + std::to_string(k) + ".JPG"), unsigned(k + 1), noon + 0.1 * k));
            const fs::path copy = sandbox / "drive/Day9" / ("burst_" + std::to_string(k) + ".JPG");
            fs::create_directories(copy.parent_path());
            if (spoiled == k)
                writePatternFile(copy, frameSize, 77);
            else
                fs::copy_file(members.back().url, copy);
            drive.push_back(members.back());
            drive.back().url = copy;
        }
        for (int k = 0; k < 100; ++k)
            drive.push_back(frame(sandbox / "drive/Other" / ("O" + std::to_string(k) + ".JPG"), 900 + unsigned(k), noon - 86'400 + k));
        return {members, {}, ClipGroup::Kind::burstSet};
    }
    static std::vector<ClipGroup> singles(const std::vector<Fingerprint>& files) {
        std::vector<ClipGroup> groups;
        for (const Fingerprint& fp : files) groups.push_back({{fp}, {}, ClipGroup::Kind::still});
        return groups;
    }
};

}  // namespace

TEST_F(ReadBoundProofTest, ARenamedFrameIsFoundBesideItsSiblingsCopiesAndTheArchiveIsNotOpened) {
    archive(90);  // above the matcher's threshold for a large bucket, first in drive order
    for (int k = 0; k < 10; ++k) {
        card.push_back(frame(sandbox / "card/DCIM" / ("F" + std::to_string(k) + ".DNG"), unsigned(k + 1)));
        const fs::path copy = sandbox / "drive/Day9" / (k == 5 ? "take5.DNG" : "F" + std::to_string(k) + ".DNG");
        fs::create_directories(copy.parent_path());
        fs::copy_file(card.back().url, copy);
        drive.push_back({.url = copy, .byteSize = frameSize});
    }
    const auto results = prove(singles(card));
    for (const auto& result : results) {
        const std::string expected = result.primaryName() == "F5.DNG" ? "take5.DNG" : result.primaryName();
        EXPECT_EQ(result.status, MatchStatus::confirmed(sandbox / "drive/Day9" / expected)) << result.description();
    }
    EXPECT_EQ(log.opensBelow(sandbox / "drive/Archive"), 0);
}

TEST_F(ReadBoundProofTest, ACopyOnlyAmongManyOfItsKindIsLookedForWithinTheBoundAndNamedWhenNotFound) {
    for (int k = 0; k < 3; ++k) card.push_back(frame(sandbox / "card/DCIM" / ("F" + std::to_string(k) + ".DNG"), unsigned(k + 1)));
    archive(200);
    // Frame 2's only copy, under another name in the last archive folder.
    const fs::path late = sandbox / "drive/Zarchive/Z.DNG";
    fs::create_directories(late.parent_path());
    fs::copy_file(card[2].url, late);
    drive.push_back({.url = late, .byteSize = frameSize});

    // And a clip of its own size with three renamed drive candidates, the last its copy: the
    // matcher's few candidates are each read within the bound, whatever the long searches
    // before them took.
    writePatternFile(sandbox / "card/DCIM/C.MOV", 5000, 77);
    const Fingerprint clip{.url = sandbox / "card/DCIM/C.MOV", .byteSize = 5000};
    for (const char* name : {"x.MOV", "y.MOV", "z.MOV"}) {
        if (std::string(name) == "z.MOV") fs::copy_file(clip.url, sandbox / "drive/Other" / name);
        else writePatternFile(sandbox / "drive/Other" / name, 5000, 78 + unsigned(name[0]));
        drive.push_back({.url = sandbox / "drive/Other" / name, .byteSize = 5000});
    }
    std::vector<ClipGroup> groups = singles(card);
    groups.push_back({{clip}, {}, ClipGroup::Kind::video});

    std::vector<UnreadCandidates> unread;
    const auto results = prove(groups, &unread);
    for (size_t g = 0; g < card.size(); ++g) EXPECT_TRUE(results[g].isMissing()) << results[g].description();
    EXPECT_EQ(results.back().status, MatchStatus::confirmed(sandbox / "drive/Other/z.MOV"));
    EXPECT_LE(*log.bytes, 4 * int64_t(card.size() * frameSize + 5000));
    ASSERT_EQ(unread.size(), 3u);
    for (size_t k = 0; k < unread.size(); ++k) {
        EXPECT_EQ(unread[k].cardFile, card[k].url);
        EXPECT_EQ(unread[k].byteSize, int64_t(frameSize));
        EXPECT_GT(unread[k].count, 190);  // of 201, at most a bound's worth read
    }
    EXPECT_EQ(log.opensBelow(sandbox / "drive/Zarchive"), 0);

    // Nearer in drive order, the copy is found within the bound and nothing is named.
    fs::create_directories(sandbox / "drive/Archive");
    fs::rename(late, sandbox / "drive/Archive/A0999.DNG");
    auto moved = std::find_if(drive.begin(), drive.end(), [&](const Fingerprint& fp) { return fp.url == late; });
    moved->url = sandbox / "drive/Archive/A0999.DNG";
    std::rotate(drive.begin(), moved, moved + 1);  // first in drive order
    unread.clear();
    const auto found = prove(groups, &unread);
    EXPECT_EQ(found[2].status, MatchStatus::confirmed(sandbox / "drive/Archive/A0999.DNG"));
    EXPECT_EQ(unread.size(), 2u);
}

TEST_F(ReadBoundProofTest, BurstMembersAreLookedForAmongCopiesOfTheirOwnFingerprintOnly) {
    // A burst of three stills in one camera second, copied under other names; beside them
    // same-size stills of another day, which are never a member's candidate.
    const auto results = prove({burstWithCopies(3)});
    EXPECT_EQ(results.front().status.kind(), Kind::confirmed) << results.front().description();
    EXPECT_EQ(log.opensBelow(sandbox / "drive/Other"), 0);
}

TEST_F(ReadBoundProofTest, ACardCopiedWholeAfterTwelveEarlierCardsOfItsNamesIsReadOnceAtItsCopy) {
    // Two clip folders of four undated frames; twelve earlier cards of the same names copied
    // whole at 23:00 of their days (nearer in time to the card than today's copy at 20:00).
    const EpochSeconds shot = noon - 5 * 3600;
    std::vector<std::string> places;
    for (int c = 1; c <= 2; ++c)
        for (int f = 0; f < 4; ++f) {
            const std::string clip = "B001C00" + std::to_string(c);
            places.push_back(clip + "/" + clip + "_00000" + std::to_string(f) + ".DNG");
        }
    for (size_t k = 0; k < places.size(); ++k) {
        card.push_back(frame(sandbox / "card" / places[k], unsigned(k + 1)));
        setModificationTime(card.back().url, shot + 10 * double(k));
        card.back().captureDate = shot + 10 * double(k);
    }
    auto copyCard = [&](const fs::path& root, int number, EpochSeconds copied) {
        for (size_t k = 0; k < places.size(); ++k) {
            const fs::path file = root / places[k];
            if (number == 0) {
                fs::create_directories(file.parent_path());
                fs::copy_file(card[k].url, file);
                drive.push_back({.url = file, .byteSize = frameSize});
            } else {
                drive.push_back(frame(file, unsigned(1000 * number + int(k))));
            }
            setModificationTime(file, copied + double(k));
            drive.back().captureDate = copied + double(k);
        }
    };
    for (int d = 1; d <= 12; ++d)
        copyCard(sandbox / "drive" / ("Day" + std::to_string(10 + d)) / "Card1", d, shot - (13 - d) * 86'400.0 + 16 * 3600);
    const fs::path today = sandbox / "drive/Day23/Card1";
    copyCard(today, 0, shot + 13 * 3600);

    const auto results = prove(singles(card));
    for (size_t k = 0; k < results.size(); ++k)
        EXPECT_EQ(results[k].status, MatchStatus::confirmed(today / places[k])) << results[k].description();
    EXPECT_LE(*log.bytes, int64_t(2 * card.size() * frameSize)) << "a wrong same-named copy was read";

    // Not copied yet: each frame says how many files of its name were left unread.
    fs::remove_all(today);
    drive.erase(drive.end() - int(places.size()), drive.end());
    std::vector<UnreadCandidates> unread;
    const auto missing = prove(singles(card), &unread);
    for (const auto& result : missing) EXPECT_TRUE(result.isMissing()) << result.description();
    ASSERT_FALSE(unread.empty());
    const std::regex reason("under its name: 12 files of its name and size, (1[0-2]|[1-9]) not read; [0-9]+ other files "
                            "of its kind on the drives were not read");
    for (const auto& note : unread) {
        EXPECT_EQ(note.named, 12);
        EXPECT_TRUE(note.namedNotRead > 0 ? std::regex_match(note.reasonText(), reason)
                                          : note.reasonText().starts_with("not found under its name"))
            << note.reasonText();
    }
}

TEST(UnreadCandidatesTest, TheReasonGroupsItsCountByThousandsInEveryLocale) {
    EXPECT_EQ((UnreadCandidates{"/c/F.DNG", 1, 18'000}.reasonText()),
              "not found under its name or near its time; 18,000 files of its kind on the drives were not read");
    EXPECT_EQ((UnreadCandidates{"/c/F.DNG", 1, 1}.reasonText()),
              "not found under its name or near its time; 1 file of its kind on the drives was not read");
    // Files of its name left unread: said, never "not found under its name".
    EXPECT_EQ((UnreadCandidates{"/c/F.DNG", 1, 42'497, 60, 12}.reasonText()),
              "under its name: 60 files of its name and size, 12 not read; 42,485 other files of its kind on the "
              "drives were not read");
    EXPECT_EQ((UnreadCandidates{"/c/DATA.BIN", 1, 37, 40, 37}.reasonText()),
              "under its name: 40 files of its name and size, 37 not read");
    EXPECT_EQ((UnreadCandidates{"/c/F.DNG", 1, 2, 1, 1}.reasonText()),
              "under its name: 1 file of its name and size, 1 not read; 1 other file of its kind on the drives was not read");
    EXPECT_EQ(groupedText(999), "999");
    EXPECT_EQ(groupedText(1'234'567), "1,234,567");
    EXPECT_EQ(groupedText(-1000), "-1,000");
    EXPECT_EQ(groupedText(0), "0");
}

TEST_F(ReadBoundProofTest, ABurstWithASpoiledMiddleCopyNamesItAndProvesTheMembersAfterIt) {
    // A burst of four stills whose second copy differs, beside the other day's stills.
    const auto results = prove({burstWithCopies(4, 1)});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results.front().status.kind(), Kind::missing) << results.front().description();
    EXPECT_EQ(results.front().membersProven, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(log.opensBelow(sandbox / "drive/Other"), 0);
}
