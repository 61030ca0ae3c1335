// The gate's rules for the files beside the clips, as pure functions: which card files a
// report vouches for, and the standing when other files exist only on the card.

#include "BrindlecoveApp/ViewModels/EraseGate.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"

#include <gtest/gtest.h>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::OtherFile;
using Kind = VerificationStanding::Kind;

const tessaline::VolumeIdentity card{.uuid = "2A9C-A474", .name = "CARD"};

tessaline::VerificationReport report(std::vector<OtherFile> others, MatchStatus status = MatchStatus::confirmed("/d/C0001.MP4")) {
    tessaline::MatchResult clip{tessaline::ClipGroup{{tessaline::Fingerprint{.url = "/media/u/CARD/CLIP/C0001.MP4",
                                                                             .byteSize = 100}},
                                                     {"/media/u/CARD/CLIP/C0001M01.XML"},
                                                     tessaline::ClipGroup::Kind::video},
                                std::move(status)};
    return tessaline::VerificationReport("/media/u/CARD", {"/d"}, 0, {clip}, card, {}, std::move(others));
}

VerificationStanding standingOf(const tessaline::VerificationReport& r, const CardMediaSnapshot* files = nullptr) {
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.media = files;
    return EraseGate::standing(in);
}

}  // namespace

TEST(EraseGateFiles, EveryNonJunkFileMustBeOneTheReportVouchesFor) {
    auto r = report({{"/media/u/CARD/CLIP/C0001M01.XML", 40, OtherFile::Role::sidecar, fs::path("/d/C0001M01.XML")},
                     {"/media/u/CARD/NOTES.TXT", 7, OtherFile::Role::other, fs::path("/d/NOTES.TXT")}});
    CardMediaSnapshot files{{{"CLIP/C0001.MP4", 100}, {"CLIP/C0001M01.XML", 40}, {"NOTES.TXT", 7}}};
    EXPECT_TRUE(EraseGate::unvouchedFiles(r, files).empty());
    EXPECT_TRUE(standingOf(r, &files).isSafe());

    // A note grown since the scan, and a playlist written after it.
    files.sizes["NOTES.TXT"] = 9;
    files.sizes["PLAYLIST/00001.MPL"] = 3;
    EXPECT_EQ(EraseGate::unvouchedFiles(r, files), (std::vector<std::string>{"NOTES.TXT", "PLAYLIST/00001.MPL"}));
    const auto changed = standingOf(r, &files);
    EXPECT_EQ(changed.kind, Kind::notVerified);
    EXPECT_EQ(changed.files, 2);
    EXPECT_EQ(changed.fileNames, (std::vector<std::string>{"NOTES.TXT", "00001.MPL"}));
    EXPECT_EQ(EraseTexts::notVerifiedText(changed),
              "This card holds 2 files your last scan didn't check (NOTES.TXT, 00001.MPL). Scan it again so you're "
              "not erasing footage that was never backed up.");

    // A clip's sidecar is known by its place whatever its size while the clip is in doubt.
    auto doubtful = report({}, MatchStatus::nameMatchMetadataMismatch("/d/C0001.MOV"));
    CardMediaSnapshot clipOnly{{{"CLIP/C0001.MP4", 100}, {"CLIP/C0001M01.XML", 41}}};
    EXPECT_EQ(standingOf(doubtful, &clipOnly).kind, Kind::mismatch);
}

TEST(EraseGateFiles, OtherFilesOnlyOnTheCardAreNamedAndNeverSafe) {
    std::vector<OtherFile> others;
    for (const char* name : {"00000.CPI", "00000.MPL", "INDEX.BDM", "NOTES.TXT"})
        others.push_back({fs::path("/media/u/CARD/PRIVATE") / name, 1, OtherFile::Role::other, std::nullopt});
    auto r = report(others);
    auto standing = standingOf(r);
    EXPECT_EQ(standing.kind, Kind::otherFilesOnlyOnCard);
    EXPECT_EQ(standing.count, 4);
    EXPECT_EQ(EraseTexts::stopText(standing),
              "STOP \u2014 your last scan found 4 other files that exist ONLY on this card (00000.CPI, 00000.MPL, "
              "INDEX.BDM and 1 more). Erasing now loses them. Copy or re-scan first.");

    // Proven, but by a copy on the card itself: still only on the card.
    for (auto& other : others) other.provenAt = fs::path("/d") / other.url.filename();
    others[3].provenAt = "/media/u/CARD/backup/NOTES.TXT";
    r = report(others);
    EXPECT_EQ(EraseGate::otherFilesOnlyOnCard(r, "/media/u/CARD", {}), std::vector<std::string>{"NOTES.TXT"});
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.otherFilesOnlyOnCard = [&] { return EraseGate::otherFilesOnlyOnCard(r, "/media/u/CARD", {}); };
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::otherFilesOnlyOnCard);
    // Or on the card's device (a bind mount).
    others[3].provenAt = "/mnt/bound/NOTES.TXT";
    r = report(others);
    EXPECT_EQ(EraseGate::otherFilesOnlyOnCard(r, "/media/u/CARD",
                                              [](const fs::path& p) { return p.native().rfind("/mnt/bound/", 0) == 0; }),
              std::vector<std::string>{"NOTES.TXT"});

    // Missing clips and other files are counted and named together.
    auto both = report({others[0]}, MatchStatus::missing());
    both.otherFiles[0].provenAt.reset();
    standing = standingOf(both);
    EXPECT_EQ(standing.kind, Kind::missing);
    EXPECT_EQ(EraseTexts::stopText(standing),
              "STOP \u2014 your last scan found 1 clips and 1 other file that exist ONLY on this card (00000.CPI). "
              "Erasing now loses them. Copy or re-scan first.");
}

}  // namespace brindlecove
