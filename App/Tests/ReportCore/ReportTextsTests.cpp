#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

#include "Support/ReportFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
using Tone = ReportTexts::Tone;

TEST(ReportTexts, BannerForEveryStanding) {
    auto safe = ReportTexts::banner(countsReport(0, 4, 0, 1)->eraseStanding());
    EXPECT_EQ(safe.tone, Tone::good);
    EXPECT_EQ(safe.title, "All 5 clips are backed up");
    EXPECT_EQ(safe.subtitle, "Every file is confirmed on a drive — nothing is left only on the card. Safe to erase.");

    auto some = ReportTexts::banner(countsReport(3, 7)->eraseStanding());
    EXPECT_EQ(some.tone, Tone::bad);
    EXPECT_EQ(some.title, "3 of 10 clips are still only on the card");
    EXPECT_EQ(some.subtitle, "These have not been found on the drives you scanned. Not safe to erase.");

    auto none = ReportTexts::banner(countsReport(10, 0)->eraseStanding());
    EXPECT_EQ(none.tone, Tone::bad);
    EXPECT_EQ(none.title, "None of the 10 clips were found on the drives you scanned");
    EXPECT_TRUE(none.subtitle.startsWith("Every file is still only on the card — double-check"));

    auto mismatch = ReportTexts::banner(countsReport(0, 8, 2)->eraseStanding());
    EXPECT_EQ(mismatch.tone, Tone::warn);
    EXPECT_EQ(mismatch.title, "2 of 10 clips have a same-named but different file on the drive");
    EXPECT_EQ(mismatch.subtitle,
              "Their contents don't match — check these before you trust the backup. Not safe to erase yet.");

    auto empty = ReportTexts::banner(countsReport(0, 0)->eraseStanding());
    EXPECT_EQ(empty.tone, Tone::warn);
    EXPECT_EQ(empty.title, "No media found on the card");
    EXPECT_EQ(empty.subtitle, "There's nothing to verify — check you picked the right card.");

    // Every clip confirmed, but two card folders unread: never safe.
    auto unread = ReportTexts::banner(
        makeReport(countsReport(0, 3)->results, "/media/u/CARD", {"/media/u/CARD/DCIM/101", "/media/u/CARD/PRIVATE"})
            ->eraseStanding());
    EXPECT_EQ(unread.tone, Tone::bad);
    EXPECT_EQ(unread.title, "The card was not fully read");
    EXPECT_EQ(unread.subtitle,
              "2 folders on the card couldn't be read, so their files were never checked. Not safe to erase.");
}

TEST(ReportTexts, CountsOfEveryStatus) {
    EXPECT_EQ(ReportTexts::countsOf(*countsReport(3, 5, 2, 1)), (ReportTexts::Counts{5, 1, 2, 3}));
    EXPECT_EQ(ReportTexts::countsOf(*countsReport(0, 0)), ReportTexts::Counts{});
}

TEST(ReportTexts, SyncButtonNoteAndRunningLine) {
    EXPECT_EQ(ReportTexts::syncButtonTitle(1, 3), "Sync 1 Missing Clip (3 Files) to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(3, 3), "Sync 3 Missing Clips to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(0, 1), "Sync 1 Missing File to Drive");
    EXPECT_EQ(ReportTexts::suggestionNote(12),
              "Where the 12 already-synced clips live. Use Change… to pick somewhere else.");
    EXPECT_EQ(ReportTexts::runningText("", 0, 0), "Copying missing files…");
    EXPECT_EQ(ReportTexts::runningText("C0001.MP4", 1'200'000, 5'000'000), "Copying C0001.MP4 — 1.2 MB of 5 MB");
}

namespace {
tessaline::CopyEngine::FileOutcome outcomeWith(tessaline::CopyEngine::FileStatus status) {
    tessaline::CopyEngine::FileOutcome outcome;
    outcome.relativePath = "a.MOV";
    outcome.status = std::move(status);
    return outcome;
}
}  // namespace

TEST(ReportTexts, OutcomeStopFirstThenVerifiedThenFailures) {
    using Status = tessaline::CopyEngine::FileStatus;
    tessaline::TransferLog log;
    log.plannedFileCount = 3;
    log.outcomes = {outcomeWith(Status::copiedVerified()), outcomeWith(Status::skippedAlreadyPresent()),
                    outcomeWith(Status::copiedVerified())};
    auto good = ReportTexts::outcome(log, false);
    EXPECT_EQ(good.text, "All 3 missing files copied and verified byte-for-byte.");
    EXPECT_EQ(good.symbol, "checkmark.seal.fill");
    EXPECT_EQ(good.tone, Tone::good);

    // A stop that came after the last file still reads as stopped.
    auto stopped = ReportTexts::outcome(log, true);
    EXPECT_EQ(stopped.text, "Stopped early — 3 files landed before the stop. Re-run to finish.");
    EXPECT_EQ(stopped.symbol, "stop.circle.fill");
    EXPECT_EQ(stopped.tone, Tone::warn);

    // Failed files never count as landed.
    log.outcomes.push_back(outcomeWith(Status::failed("disk full")));
    log.outcomes.push_back(outcomeWith(Status::verificationFailed()));
    log.plannedFileCount = 6;
    EXPECT_EQ(ReportTexts::outcome(log, true).text, "Stopped early — 3 files landed before the stop. Re-run to finish.");
    auto failed = ReportTexts::outcome(log, false);
    EXPECT_EQ(failed.text,
              "2 of 5 files failed — the card still holds the only copy of those. Details in the Production Log tab.");
    EXPECT_EQ(failed.tone, Tone::bad);
}

TEST(ReportTexts, FailedFilesAreTheCardsOnlyCopyOnlyWhileOnItAndARescanIsOfferedOnlyWhereItHelps) {
    using Status = tessaline::CopyEngine::FileStatus;
    tessaline::TransferLog log;
    log.plannedFileCount = 3;
    log.outcomes = {outcomeWith(Status::copiedVerified()), outcomeWith(Status::failed("gone")),
                    outcomeWith(Status::failed("gone"))};
    const QString tail = " Details in the Production Log tab.";
    EXPECT_EQ(ReportTexts::outcome(log, false, 2).text, "2 of 3 files failed — those are no longer on the card." + tail);
    EXPECT_EQ(ReportTexts::outcome(log, false, 1).text,
              "2 of 3 files failed — 1 of those is no longer on the card, and the card still holds the only copy of "
              "the other 1." + tail);
    EXPECT_EQ(ReportTexts::outcome(log, false, 0).text,
              "2 of 3 files failed — the card still holds the only copy of those." + tail);

    const QString green = "Re-run the Scan to see the report go green.";
    const QString partly = "Re-run the Scan to see the copied files confirmed.";
    // Nothing the rescue was for is left only on the card: a scan turns green.
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 2, false), green);
    // Some still only on the card, some copied: a scan changes, but not to green.
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 1, false), partly);
    EXPECT_EQ(ReportTexts::rerunNote(log, true, 2, false), partly);
    // An erased card: a scan of it can't show these files again.
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 2, true), "");
    // Nothing landed and every failed file still on the card: a scan gives the same answer.
    log.outcomes.front() = outcomeWith(Status::failed("no room"));
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 0, false), "");
    log.outcomes = {outcomeWith(Status::copiedVerified())};
    log.plannedFileCount = 1;
    EXPECT_EQ(ReportTexts::rerunNote(log, false, 0, false), green);
}

TEST(ReportTexts, OtherFilesOnlyOnTheCardGetTheirOwnBannerAndLine) {
    using tessaline::OtherFile;
    auto report = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 10));
    EXPECT_EQ(ReportTexts::otherFilesLine(ReportTexts::countsOf(*report)), "");
    report->otherFiles = {{"/media/u/CARD/A.XML", 1, OtherFile::Role::sidecar, std::filesystem::path("/d/A.XML")},
                          {"/media/u/CARD/B.CPI", 1, OtherFile::Role::other, std::nullopt},
                          {"/media/u/CARD/C.MPL", 1, OtherFile::Role::other, std::nullopt},
                          {"/media/u/CARD/D.BDM", 1, OtherFile::Role::other, std::nullopt},
                          {"/media/u/CARD/NOTES.TXT", 1, OtherFile::Role::other, std::nullopt}};
    auto banner = ReportTexts::banner(report->eraseStanding());
    EXPECT_EQ(banner.tone, Tone::bad);
    EXPECT_EQ(banner.title, "All 10 clips are backed up, but 4 other files are only on the card");
    EXPECT_EQ(banner.subtitle, "Copy them with the rescue below, or scan with every file type.");
    const auto counts = ReportTexts::countsOf(*report);
    EXPECT_EQ(counts.confirmed, 10);  // the tiles keep counting clips
    EXPECT_EQ(ReportTexts::otherFilesLine(counts), "Other files: 1 confirmed · 4 only on the card");
    EXPECT_EQ(ReportTexts::syncButtonTitle(counts.missing, 4), "Sync 4 Missing Files to Drive");

    report->otherFiles.resize(2);
    EXPECT_EQ(ReportTexts::banner(report->eraseStanding()).title,
              "All 10 clips are backed up, but 1 other file is only on the card");
    // "Every file is confirmed" only when it is true.
    report->otherFiles[1].provenAt = "/d/B.CPI";
    EXPECT_EQ(ReportTexts::banner(report->eraseStanding()).tone, Tone::good);
}

TEST(ReportTexts, OtherFilesOnlyOnTheCardAreNamedWhetherOrNotTheCardHoldsMedia) {
    using tessaline::OtherFile;
    auto other = [](const std::string& name, bool proven = false) {
        return OtherFile{std::filesystem::path("/media/u/CARD/MISC") / name, 1, OtherFile::Role::other,
                         proven ? std::optional<std::filesystem::path>("/d/" + name) : std::nullopt};
    };
    // A card of other files alone, none of them on a drive: never "nothing to verify".
    auto noMedia = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 0));
    for (int i = 0; i < 1254; ++i) noMedia->otherFiles.push_back(other("DOC_" + std::to_string(1000 + i) + ".TXT"));
    auto banner = ReportTexts::banner(*noMedia);
    EXPECT_EQ(banner.tone, Tone::bad);
    EXPECT_EQ(banner.title, "1,254 other files are only on the card");
    EXPECT_EQ(banner.subtitle, "No media was found, and they are on none of the drives you scanned: DOC_1000.TXT, "
                               "DOC_1001.TXT, DOC_1002.TXT and 1,251 more. Not safe to erase.");
    EXPECT_EQ(ReportTexts::otherFilesOnlyOnCardLine(*noMedia),
              "1,254 other files are only on the card — DOC_1000.TXT, DOC_1001.TXT, DOC_1002.TXT and 1,251 more");

    // One, and one proven beside it: only the unproven one is named.
    noMedia->otherFiles = {other("A.TXT", true), other("B.TXT")};
    banner = ReportTexts::banner(*noMedia);
    EXPECT_EQ(banner.title, "1 other file is only on the card");
    EXPECT_EQ(banner.subtitle, "No media was found, and it is on none of the drives you scanned: B.TXT. Not safe to erase.");
    EXPECT_EQ(ReportTexts::otherFilesOnlyOnCardLine(*noMedia), "1 other file is only on the card — B.TXT");

    // Every other file proven: no media, but something was verified.
    noMedia->otherFiles[1].provenAt = "/d/B.TXT";
    banner = ReportTexts::banner(*noMedia);
    EXPECT_EQ(banner.tone, Tone::warn);
    EXPECT_EQ(banner.title, "No media found on the card");
    EXPECT_EQ(banner.subtitle, "Its 2 other files are all confirmed on a drive.");
    EXPECT_EQ(ReportTexts::otherFilesOnlyOnCardLine(*noMedia), "");

    // Nothing on the card at all.
    noMedia->otherFiles.clear();
    EXPECT_EQ(ReportTexts::banner(*noMedia).subtitle, "There's nothing to verify — check you picked the right card.");

    // With media: the clips' verdict stays first and names the other files after it.
    auto clipsSafe = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 10));
    clipsSafe->otherFiles = {other("A.TXT"), other("B.TXT"), other("C.TXT"), other("D.TXT")};
    banner = ReportTexts::banner(*clipsSafe);
    EXPECT_EQ(banner.title, "All 10 clips are backed up, but 4 other files are only on the card");
    EXPECT_EQ(banner.subtitle, "Only on the card: A.TXT, B.TXT, C.TXT and 1 more. Copy them with the rescue below, "
                               "or scan with every file type.");
    auto clipsMissing = std::make_shared<tessaline::VerificationReport>(*countsReport(3, 7));
    clipsMissing->otherFiles = {other("A.TXT")};
    banner = ReportTexts::banner(*clipsMissing);
    EXPECT_EQ(banner.title, "3 of 10 clips are still only on the card");
    EXPECT_EQ(banner.subtitle, "These have not been found on the drives you scanned. Not safe to erase. 1 other file is "
                               "only on the card too: A.TXT.");
    EXPECT_EQ(ReportTexts::banner(*countsReport(3, 7)), ReportTexts::banner(countsReport(3, 7)->eraseStanding()));
}
