// The gate's rules for the files beside the clips, as pure functions: which card files a
// report vouches for, and the standing when other files exist only on the card.

#include "BrindlecoveApp/ViewModels/EraseGate.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::OtherFile;
using Kind = VerificationStanding::Kind;

const tessaline::VolumeIdentity card{.uuid = "2A9C-A474", .name = "CARD"};

// The records of a card's files: path, size and modification time (the change time with it).
CardFiles recordsOf(std::initializer_list<std::pair<const char*, int64_t>> files, int64_t modified = 1'000) {
    CardFiles records;
    for (const auto& [path, size] : files) records.push_back({path, size, modified, modified});
    return records;
}

const CardFiles cardRecords = recordsOf({{"CLIP/C0001.MP4", 100}, {"CLIP/C0001M01.XML", 40}, {"NOTES.TXT", 7}});

tessaline::VerificationReport report(std::vector<OtherFile> others, MatchStatus status = MatchStatus::confirmed("/d/C0001.MP4"),
                                     std::optional<CardFiles> records = cardRecords) {
    tessaline::MatchResult clip{tessaline::ClipGroup{{tessaline::Fingerprint{.url = "/media/u/CARD/CLIP/C0001.MP4",
                                                                             .byteSize = 100}},
                                                     {"/media/u/CARD/CLIP/C0001M01.XML"},
                                                     tessaline::ClipGroup::Kind::video},
                                std::move(status)};
    return tessaline::VerificationReport("/media/u/CARD", {"/d"}, 0, {clip}, card, {}, std::move(others),
                                         std::move(records));
}

VerificationStanding standingOf(const tessaline::VerificationReport& r, const CardFiles* files = nullptr) {
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.files = files;
    return EraseGate::standing(in);
}

const std::vector<OtherFile> provenOthers{
    {"/media/u/CARD/CLIP/C0001M01.XML", 40, OtherFile::Role::sidecar, fs::path("/d/C0001M01.XML")},
    {"/media/u/CARD/NOTES.TXT", 7, OtherFile::Role::other, fs::path("/d/NOTES.TXT")}};

}  // namespace

TEST(EraseGateFiles, EveryFileMustBeAsTheScanRecordedIt) {
    auto r = report(provenOthers);
    CardFiles files = cardRecords;
    EXPECT_TRUE(EraseGate::unvouchedFiles(r, files).empty());
    EXPECT_TRUE(standingOf(r, &files).isSafe());

    // The same size, rewritten a minute later; a note grown; a playlist written after the scan.
    for (auto* path : {"CLIP/C0001.MP4", "CLIP/C0001M01.XML"}) {
        SCOPED_TRACE(path);
        CardFiles rewritten = cardRecords;
        for (auto& record : rewritten)
            if (record.relative == path) record.modified.seconds += 60;
        const auto changed = standingOf(r, &rewritten);
        EXPECT_EQ(changed.kind, Kind::changedSinceScan);
        EXPECT_EQ(changed.fileNames, std::vector<std::string>{fs::path(path).filename().string()});
    }
    CardFiles touched = cardRecords;
    touched[2].changed.nanoseconds += 1;  // only the change time moved (a rewrite that put the old time back)
    EXPECT_EQ(standingOf(r, &touched).kind, Kind::changedSinceScan);

    files[2].byteSize = 9;
    files.push_back({"PLAYLIST/00001.MPL", 3, {5, 0}, {5, 0}});
    EXPECT_EQ(EraseGate::unvouchedFiles(r, files), (std::vector<std::string>{"NOTES.TXT", "PLAYLIST/00001.MPL"}));
    const auto changed = standingOf(r, &files);
    EXPECT_EQ(changed.kind, Kind::changedSinceScan);
    EXPECT_EQ(changed.files, 2);
    EXPECT_EQ(changed.fileNames, (std::vector<std::string>{"NOTES.TXT", "00001.MPL"}));
    EXPECT_EQ(EraseTexts::changedText(changed),
              "CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: 1 file was added "
              "(00001.MPL) and 1 file changed (NOTES.TXT). Scan it again before erasing.");

    // A file removed since the scan (an erased card) is a change too.
    const CardFiles empty;
    EXPECT_EQ(standingOf(r, &empty).files, 3);

    // A clip's sidecar is known by its place whatever its size while the clip is in doubt.
    auto doubtful = report({}, MatchStatus::nameMatchMetadataMismatch("/d/C0001.MOV"),
                           recordsOf({{"CLIP/C0001.MP4", 100}, {"CLIP/C0001M01.XML", 41}}));
    CardFiles clipOnly = *doubtful.cardFiles;
    EXPECT_EQ(standingOf(doubtful, &clipOnly).kind, Kind::mismatch);
}

TEST(EraseGateFiles, AReportWithoutRecordsOrErasedOnceVouchesForNothing) {
    // A report made before records were kept: everything proven, still not safe.
    auto old = report(provenOthers, MatchStatus::confirmed("/d/C0001.MP4"), std::nullopt);
    const CardFiles files = cardRecords;
    const auto standing = standingOf(old, &files);
    EXPECT_EQ(standing.kind, Kind::changedSinceScan);
    EXPECT_EQ(EraseTexts::changedText(standing),
              "CHANGED SINCE THE SCAN \u2014 your last scan can't vouch for what this card holds now. Scan it again "
              "before erasing.");

    // A report an erase was started on vouches for nothing, whatever the card holds now: what
    // the erase left (all of it after a stop before the first item, part of it, nothing) is
    // the erase's own doing; a file added or rewritten after it is a change since the scan,
    // named alone; a card not read completely can be neither told.
    auto r = report(provenOthers);
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.erasedSinceScan = true;
    const CardFiles empty, part = recordsOf({{"NOTES.TXT", 7}});
    for (const CardFiles* left : {&files, &part, &empty, static_cast<const CardFiles*>(nullptr)}) {
        in.files = left;
        EXPECT_EQ(EraseGate::standing(in), (VerificationStanding{Kind::erasedSinceScan, 0}));
    }
    EXPECT_EQ(EraseTexts::erasedText(),
              "ERASED SINCE THE SCAN \u2014 this card was erased after your last scan, so that scan no longer tells "
              "what is on it. Scan it again before relying on it.");
    CardFiles added = part;
    added.push_back({"DCIM/100CANON/IMG_0007.JPG", 3'000, {9'000, 0}, {9'000, 0}});
    added.front().modified.nanoseconds += 1;  // the note rewritten at its old size
    in.files = &added;
    const auto changed = EraseGate::standing(in);
    EXPECT_EQ(changed.kind, Kind::changedSinceScan);
    EXPECT_EQ(changed.fileNames, (std::vector<std::string>{"IMG_0007.JPG", "NOTES.TXT"}));
    in.files = &empty;
    in.filesUnreadable = true;
    EXPECT_EQ(EraseGate::standing(in), (VerificationStanding{Kind::changedSinceScan, 0}));
    in.filesUnreadable = false;
    in.identityNow = tessaline::VolumeIdentity{.uuid = "0000-0001", .name = "CARD"};
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::differentCard) << "another card at the folder was not erased";
    in.identityNow = card;
    in.files = &files;

    // An ejected card is not inserted, whatever report there is.
    in.erasedSinceScan = false;
    in.cardMounted = false;
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::notInserted);
    in.report = nullptr;
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::notInserted);
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
              "STOP \u2014 your last scan found 1 clip and 1 other file that exist ONLY on this card (00000.CPI). "
              "Erasing now loses them. Copy or re-scan first.");
}

TEST(EraseGateFiles, AScannedCardWithoutClipsNamesTheFilesOnlyOnIt) {
    for (int n : {1, 2, 1000}) {
        SCOPED_TRACE(n);
        std::vector<OtherFile> others;
        CardFiles records;
        for (int i = 0; i < n; ++i) {
            const std::string name = "NOTE" + std::to_string(i) + ".TXT";
            others.push_back({fs::path("/media/u/CARD") / name, 7, OtherFile::Role::other, std::nullopt});
            records.push_back({name, 7, {1'000, 0}, {1'000, 0}});
        }
        const tessaline::VerificationReport r("/media/u/CARD", {"/d"}, 0, {}, card, {}, others, records);
        const auto standing = standingOf(r, &records);
        EXPECT_EQ(standing.kind, Kind::otherFilesOnlyOnCard) << "a scanned card is not an unscanned one";
        EXPECT_EQ(standing.files, n);
        EXPECT_EQ(standing.fileNames.size(), size_t(std::min(n, VerificationStanding::firstNamesShown)));
        const QString text = EraseTexts::stopText(standing);
        EXPECT_TRUE(text.startsWith(QString::fromUtf8("STOP \u2014 your last scan found "))) << text.toStdString();
        EXPECT_TRUE(text.contains("(NOTE0.TXT")) << text.toStdString();
        EXPECT_EQ(text.contains(" and "), n > 3) << text.toStdString();
        EXPECT_TRUE(text.endsWith(n == 1 ? "Erasing now loses it. Copy or re-scan first."
                                         : "Erasing now loses them. Copy or re-scan first."));
    }
    // Without clips and with every file proven off the card there is nothing to vouch by.
    std::vector<OtherFile> proven{{"/media/u/CARD/NOTES.TXT", 7, OtherFile::Role::other, fs::path("/d/NOTES.TXT")}};
    const CardFiles records = recordsOf({{"NOTES.TXT", 7}});
    const tessaline::VerificationReport r("/media/u/CARD", {"/d"}, 0, {}, card, {}, proven, records);
    EXPECT_EQ(standingOf(r, &records).kind, Kind::notVerified);
}

TEST(EraseGateFiles, EachFileIsNamedByWhatHappenedToItSinceTheScan) {
    // The scan recorded a clip, its sidecar and a note; since then a photo was shot, the note
    // deleted and the sidecar rewritten at its size.
    auto r = report(provenOthers);
    CardFiles now = recordsOf({{"CLIP/C0001.MP4", 100}, {"CLIP/C0001M01.XML", 40}, {"DCIM/IMG_0326.JPG", 3'000}});
    now[1].modified.seconds += 60;
    const auto changes = EraseGate::changesSinceScan(r, now, std::nullopt);
    ASSERT_TRUE(changes);
    EXPECT_EQ(*changes, (EraseGate::CardChanges{{"DCIM/IMG_0326.JPG"}, {"NOTES.TXT"}, {"CLIP/C0001M01.XML"}}));
    const auto standing = standingOf(r, &now);
    EXPECT_EQ(standing.kind, Kind::changedSinceScan);
    EXPECT_EQ(standing.changes, (FileChanges{{1, {"IMG_0326.JPG"}}, {1, {"NOTES.TXT"}}, {1, {"C0001M01.XML"}}}));
    EXPECT_EQ(standing.files, 3);
    EXPECT_EQ(EraseTexts::changedText(standing),
              "CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: 1 file was added "
              "(IMG_0326.JPG), 1 file was removed (NOTES.TXT) and 1 file changed (C0001M01.XML). Scan it again before "
              "erasing.");
    EXPECT_EQ(EraseTexts::changedMessage(standing.changes),
              "The card has changed since it was scanned \u2014 1 file was added (IMG_0326.JPG), 1 file was removed "
              "(NOTES.TXT) and 1 file changed (C0001M01.XML). Nothing was erased. Scan it again before erasing.");

    // A photo added and nothing else is an addition, not a change; only removals likewise.
    CardFiles added = cardRecords;
    added.push_back({"DCIM/IMG_0326.JPG", 3'000, {9'000, 0}, {9'000, 0}});
    EXPECT_EQ(EraseTexts::changedText(standingOf(r, &added)),
              "CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: 1 file was added "
              "(IMG_0326.JPG). Scan it again before erasing.");
    const CardFiles clipOnly = recordsOf({{"CLIP/C0001.MP4", 100}});
    EXPECT_EQ(EraseTexts::changesText(standingOf(r, &clipOnly).changes),
              "2 files were removed (C0001M01.XML, NOTES.TXT)");

    // Many files: the first few named, the rest counted; a file recorded but never vouched
    // for by the report (not one of its clips or other files) is a change, not an addition.
    auto unchecked = report({provenOthers[0]});
    CardFiles many = cardRecords;
    for (int i = 0; i < 5; ++i) many.push_back({"DCIM/IMG_000" + std::to_string(i) + ".JPG", 10, {9'000, 0}, {9'000, 0}});
    std::sort(many.begin(), many.end(), [](const auto& a, const auto& b) { return a.relative < b.relative; });
    EXPECT_EQ(EraseTexts::changesText(standingOf(unchecked, &many).changes),
              "5 files were added (IMG_0000.JPG, IMG_0001.JPG, IMG_0002.JPG and 2 more) and 1 file changed "
              "(NOTES.TXT)");

    // After an erase started on the report: what it removed is its own doing, what is there
    // now and not as recorded is named.
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.erasedSinceScan = true;
    CardFiles left = recordsOf({{"NOTES.TXT", 8}, {"DCIM/IMG_0007.JPG", 3'000}});
    in.files = &left;
    EXPECT_EQ(EraseGate::standing(in).changes, (FileChanges{{1, {"IMG_0007.JPG"}}, {}, {1, {"NOTES.TXT"}}}));
}

TEST(EraseGateFiles, ACardMountedAgainSinceItsPickIsToBePickedAgain) {
    auto r = report(provenOthers);
    CardFiles files = cardRecords;
    EraseGate::Inputs in;
    in.report = &r;
    in.card = fs::path("/media/u/CARD");
    in.identityNow = card;
    in.files = &files;
    ASSERT_TRUE(EraseGate::standing(in).isSafe());
    // Whatever the scan says, and also without a scan: the pick no longer holds.
    in.pickedMount = false;
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::remounted);
    in.report = nullptr;
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::remounted);
    EXPECT_EQ(EraseTexts::remountedText(),
              "This card was removed or mounted again since you picked it \u2014 pick it again");
    // Pulled from the reader it is not inserted, which says more.
    in.cardMounted = false;
    EXPECT_EQ(EraseGate::standing(in).kind, Kind::notInserted);
}

}  // namespace brindlecove
