// The transfer log's counts, standing and summary: when a run may be called safe.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <gtest/gtest.h>

namespace tessaline {
namespace {

using Status = CopyEngine::FileStatus;
using Standing = TransferLog::TransferStanding;

CopyEngine::FileOutcome outcome(const std::string& rel, Status status, int64_t size = 1000) {
    CopyEngine::FileOutcome o;
    o.sourceURL = "/card/" + rel;
    o.destinationURL = "/drive/" + rel;
    o.relativePath = rel;
    o.byteSize = size;
    o.status = std::move(status);
    o.startedAt = 1'741'356'300;
    o.finishedAt = 1'741'356'301;
    return o;
}

TransferLog logOf(std::vector<CopyEngine::FileOutcome> outcomes, std::optional<int> planned, bool cancelled = false) {
    TransferLog log;
    log.sourceURL = "/media/u/EOS_DIGITAL";
    log.destinationURL = "/media/u/SHUTTLE/Day 1";
    log.startedAt = 1'741'356'300;  // 2025-03-07T14:05:00Z
    log.finishedAt = 1'741'356'309;
    log.outcomes = std::move(outcomes);
    log.wasCancelled = cancelled;
    log.plannedFileCount = planned;
    return log;
}

std::string verdictOf(const TransferLog& log) {
    // The lines between the first rule and the blank line before the second.
    std::string text = log.summary();
    size_t start = text.find("─\n") + 4;
    size_t end = text.find("\n\n", start);
    return text.substr(start, end - start);
}

TEST(TransferLogTest, AllVerifiedOrPresentIsSafe) {
    auto log = logOf({outcome("A.MOV", Status::copiedVerified()), outcome("B.MOV", Status::skippedAlreadyPresent(), 500)}, 2);
    EXPECT_EQ(log.standing(), Standing::verified(2));
    EXPECT_TRUE(log.allVerified());
    EXPECT_TRUE(log.isComplete());
    EXPECT_EQ(log.verifiedCount(), 1);  // present files are not counted as verified copies
    EXPECT_EQ(log.skippedCount(), 1);
    EXPECT_EQ(log.verifiedBytes(), 1500);
    EXPECT_EQ(verdictOf(log), "✓  All 2 files copied and verified byte-for-byte. Safe to reuse the card.");
}

TEST(TransferLogTest, StandingPrecedence) {
    auto verified = outcome("A.MOV", Status::copiedVerified());
    auto failed = outcome("B.MOV", Status::failed("No space left on device"));
    auto unverified = outcome("C.MOV", Status::copiedNotVerified());

    // Stopped outranks failures; planned absent counts the outcomes.
    EXPECT_EQ(logOf({verified, failed}, 10, true).standing(), Standing::cancelledIncomplete(2, 10));
    EXPECT_EQ(logOf({verified}, std::nullopt, true).standing(), Standing::cancelledIncomplete(1, 1));
    // Failures outrank an incomplete run.
    EXPECT_EQ(logOf({verified, failed}, std::nullopt).standing(), Standing::hasFailures(1, 2));
    EXPECT_EQ(logOf({verified}, std::nullopt).standing(), Standing::incomplete(1, std::nullopt));
    EXPECT_EQ(logOf({verified, verified}, 1).standing(), Standing::incomplete(2, 1));
    EXPECT_EQ(logOf({}, 0).standing(), Standing::noFiles());
    EXPECT_EQ(logOf({unverified, unverified}, 2).standing(), Standing::hasUnverified(2, 2));
    EXPECT_EQ(logOf({outcome("D", Status::verificationFailed())}, 1).standing(), Standing::hasFailures(1, 1));
}

TEST(TransferLogTest, NothingIncompleteIsEverSafe) {
    auto verified = outcome("A.MOV", Status::copiedVerified());
    auto stopped = logOf({verified, verified, verified}, 10, true);
    EXPECT_FALSE(stopped.allVerified());
    EXPECT_FALSE(stopped.isComplete());
    EXPECT_EQ(stopped.unhandledCount(), 7);
    EXPECT_EQ(verdictOf(stopped),
              "⚠  STOPPED EARLY — 3 of 10 files handled.\n"
              "   This transfer is INCOMPLETE. Do NOT wipe the card — 7 files were never copied.");

    auto unrecorded = logOf({verified}, std::nullopt);
    EXPECT_FALSE(unrecorded.allVerified());
    EXPECT_EQ(unrecorded.unhandledCount(), 0);
    EXPECT_EQ(verdictOf(unrecorded), "⚠  INCOMPLETE — this run didn't record how many files it planned to copy, so it "
                                     "can't be called finished. Do NOT wipe the card.");

    auto extra = logOf({verified, verified}, 1);
    EXPECT_EQ(extra.unhandledCount(), 0);
    EXPECT_EQ(verdictOf(extra), "⚠  INCOMPLETE — only 2 of 1 file handled. Do NOT wipe the card.");

    auto none = logOf({}, 0);
    EXPECT_FALSE(none.allVerified());
    EXPECT_TRUE(none.isComplete());
    EXPECT_EQ(verdictOf(none), "0 verified · 0 already present · 0 copied unverified");

    auto unverified = logOf({outcome("C.MOV", Status::copiedNotVerified())}, 1);
    EXPECT_FALSE(unverified.allVerified());
    EXPECT_EQ(verdictOf(unverified), "0 verified · 0 already present · 1 copied unverified");
}

TEST(TransferLogTest, FailuresAreListedWithTheirReasons) {
    auto log = logOf({outcome("DCIM/A.MOV", Status::copiedVerified()),
                      outcome("DCIM/B.MOV", Status::failed("No space left on device")),
                      outcome("DCIM/C.MOV", Status::verificationFailed())},
                     std::nullopt);
    EXPECT_EQ(log.failures().size(), 2u);
    EXPECT_EQ(verdictOf(log), "⚠  2 of 3 files FAILED — do NOT wipe the card until resolved:\n"
                              "   ✗  DCIM/B.MOV  — No space left on device\n"
                              "   ✗  DCIM/C.MOV  — checksum mismatch");
}

TEST(TransferLogTest, SummaryLayout) {
    auto log = logOf({outcome("A.MOV", Status::copiedVerified(), 4'500'000)}, 1);
    log.preserveStructure = false;
    EXPECT_EQ(log.summary(),
              "Brindlecove — Verified Transfer Log\n"
              "Started   : 2025-03-07T14:05:00Z\n"
              "Finished  : 2025-03-07T14:05:09Z\n"
              "Source    : /media/u/EOS_DIGITAL\n"
              "Destination: /media/u/SHUTTLE/Day 1\n"
              "Layout    : flattened\n"
              "\n"
              "─────────────────────────────────────────\n"
              "✓  The 1 file copied and verified byte-for-byte. Safe to reuse the card.\n"
              "\n"
              "─────────────────────────────────────────\n"
              "Files      : 1\n"
              "Verified   : 1\n"
              "Already on dest: 0\n"
              "Unverified : 0\n"
              "Failed     : 0\n"
              "Total size : 4.5 MB\n"
              "Duration   : 9.0s\n"
              "Throughput : 500 KB/s");

    log.finishedAt = log.startedAt + 0.0005;
    EXPECT_FALSE(log.bytesPerSecond().has_value());
    EXPECT_EQ(log.summary().find("Throughput"), std::string::npos);
}

TEST(TransferLogTest, FromRunTakesThePlannedNumbers) {
    CopyEngine::CopyRun run{{outcome("A.MOV", Status::copiedVerified())}, false, 3, 3000};
    auto log = TransferLog::fromRun("/card", "/drive", true, 10, 20, run);
    EXPECT_EQ(log.plannedFileCount, 3);
    EXPECT_EQ(log.plannedBytes, 3000);
    EXPECT_EQ(log.standing(), Standing::incomplete(1, 3));
    EXPECT_EQ(log.duration(), 10);

    // Stopped: cancelled while a planned file went unhandled or before anything was planned,
    // not once every planned file was handled.
    run.wasCancelled = true;
    EXPECT_TRUE(TransferLog::fromRun("/card", "/drive", true, 10, 20, run).wasCancelled);
    EXPECT_TRUE(TransferLog::fromRun("/card", "/drive", true, 10, 20, CopyEngine::CopyRun{{}, true, 0, 0}).wasCancelled);
    run.outcomes = {outcome("A.MOV", Status::copiedVerified()), outcome("B.MOV", Status::skippedAlreadyPresent()),
                    outcome("C.MOV", Status::copiedVerified())};
    log = TransferLog::fromRun("/card", "/drive", true, 10, 20, run);
    EXPECT_FALSE(log.wasCancelled);
    EXPECT_TRUE(log.allVerified());
    EXPECT_EQ(log.standing(), Standing::verified(3));
}

TEST(TransferLogTest, CardFilesNotProvenKeepTheCardUnsafeBehindFailuresAndAClipStoredElsewhereDoesNot) {
    // A run whose every planned file verified, but whose card changed meanwhile and one of whose
    // copies was stored where a scan does not count it: named, never safe.
    auto sidecar = outcome("DCIM/C0001M01.XML", Status::copiedVerified());
    sidecar.destinationURL = "/drive/DCIM/C0001M01_1.XML";
    auto clip = outcome("DCIM/C0002.MP4", Status::copiedVerified());
    clip.destinationURL = "/drive/DCIM/C0002_1.MP4";
    CopyEngine::CopyRun run{{outcome("DCIM/C0001.MP4", Status::copiedVerified()), sidecar, clip}, false, 3, 3000};
    run.changedOnCard = {".hidden/late.txt"};
    auto log = TransferLog::fromRun("/card", "/drive", true, 10, 20, run);
    // A file the run copied and a folder it read are changed; a file it never saw was added.
    CopyEngine::CopyRun changed = run;
    changed.changedOnCard = {"DCIM", "DCIM/C0001.MP4", "DCIM/C0001.MP4.tmp", "DCIM/C0003.MP4"};
    std::vector<std::string> reasons;
    for (const auto& note : TransferLog::fromRun("/card", "/drive", true, 10, 20, changed).cardFileNotes)
        if (note.kind == CardFileNote::Kind::changedOnCard) reasons.push_back(note.reason);
    EXPECT_EQ(reasons, (std::vector<std::string>{CardFileNote::changedText, CardFileNote::changedText,
                                                 CardFileNote::addedText, CardFileNote::addedText}));
    ASSERT_EQ(log.cardFileNotes.size(), 3u);
    EXPECT_EQ(log.cardFileNotes[0].kind, CardFileNote::Kind::changedOnCard);
    EXPECT_EQ(log.cardFileNotes[1].kind, CardFileNote::Kind::storedWhereScanMissesIt);
    EXPECT_EQ(log.cardFileNotes[1].storedAs, "DCIM/C0001M01_1.XML");
    EXPECT_EQ(log.cardFileNotes[2].kind, CardFileNote::Kind::storedUnderOtherName);
    EXPECT_EQ(log.standing(), Standing::cardNotProven(2, 3));
    EXPECT_FALSE(log.allVerified());
    EXPECT_TRUE(log.isComplete());
    EXPECT_EQ(verdictOf(log),
              "⚠  3 of 3 files copied and verified byte-for-byte — NOT safe to reuse the card yet.\n"
              "⚠  2 files on the card are not proven by this copy — do NOT wipe the card:\n"
              "   ✗  .hidden/late.txt  — added to the card during the copy — copy again\n"
              "   ✗  DCIM/C0001M01.XML  — stored as DCIM/C0001M01_1.XML, as its name held another file; a scan "
              "proves this file only under its own name — copy into an empty folder\n"
              "   ·  DCIM/C0002.MP4  — stored as DCIM/C0002_1.MP4, as its name held another file");

    // A flat copy meets two card files of one name in any folder: the way out keeps the folders.
    EXPECT_NE(TransferLog::fromRun("/card", "/drive", false, 10, 20, run)
                  .cardFileNotes[1]
                  .reason.find("copy into an empty folder, keeping the card's folder structure"),
              std::string::npos);

    // Stopped and failed runs keep their standing, and still name the files.
    log.wasCancelled = true;
    EXPECT_EQ(log.standing().kind, Standing::Kind::cancelledIncomplete);
    log.wasCancelled = false;
    log.outcomes[0].status = Status::failed("No space left on device");
    EXPECT_EQ(log.standing(), Standing::hasFailures(1, 3));
    EXPECT_NE(log.summary().find("✗  .hidden/late.txt"), std::string::npos);

    // Only a clip stored under another name: safe, and it is named. A log of an older run,
    // without notes, reads as before.
    run.changedOnCard.clear();
    run.outcomes = {outcome("DCIM/C0001.MP4", Status::copiedVerified()), clip, outcome("X.MP4", Status::copiedVerified())};
    log = TransferLog::fromRun("/card", "/drive", true, 10, 20, run);
    EXPECT_EQ(log.standing(), Standing::verified(3));
    EXPECT_TRUE(log.allVerified());
    EXPECT_EQ(verdictOf(log), "✓  All 3 files copied and verified byte-for-byte. Safe to reuse the card.\n"
                              "   ·  DCIM/C0002.MP4  — stored as DCIM/C0002_1.MP4, as its name held another file");
    log.cardFileNotes.clear();
    EXPECT_EQ(verdictOf(log), "✓  All 3 files copied and verified byte-for-byte. Safe to reuse the card.");
}

TEST(TransferLogTest, AScanCountsOnlyClipsUnderAnyName) {
    EXPECT_TRUE(CardFileNote::scanFindsUnderAnyName("DCIM/100MEDIA/C0001.MP4"));
    EXPECT_TRUE(CardFileNote::scanFindsUnderAnyName("DCIM/IMG_0001.JPG"));
    EXPECT_FALSE(CardFileNote::scanFindsUnderAnyName("PRIVATE/M4ROOT/MEDIAPRO.XML"));  // a sidecar
    EXPECT_FALSE(CardFileNote::scanFindsUnderAnyName("MISC/take.txt"));
    EXPECT_FALSE(CardFileNote::scanFindsUnderAnyName("DCIM/.pending/C0003.MP4"));        // hidden folder
    EXPECT_FALSE(CardFileNote::scanFindsUnderAnyName("Footage/THMBNL/A0004.MOV"));       // junk folder
    EXPECT_FALSE(CardFileNote::scanFindsUnderAnyName("._C0002.MP4"));                    // hidden file
}

}  // namespace
}  // namespace tessaline
