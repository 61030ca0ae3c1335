// The exact sentences of the Copy and Production Log sections, and the file list's rows.

#include "BrindlecoveApp/ViewModels/TransferOutcomeListModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include <gtest/gtest.h>

using namespace brindlecove;
using tessaline::CopyEngine;
using tessaline::TransferLog;
using Status = CopyEngine::FileStatus;
using Tone = TransferTexts::Tone;

namespace {

CopyEngine::FileOutcome outcome(const std::string& path, Status status, int64_t size = 1000,
                                std::optional<std::string> checksum = "00000000000000aa") {
    CopyEngine::FileOutcome o;
    o.relativePath = path;
    o.byteSize = size;
    o.status = std::move(status);
    o.destinationChecksum = std::move(checksum);
    return o;
}

TransferLog logOf(std::vector<CopyEngine::FileOutcome> outcomes, std::optional<int> planned, bool cancelled = false) {
    TransferLog log;
    log.outcomes = std::move(outcomes);
    log.plannedFileCount = planned;
    log.plannedBytes = planned ? std::optional<int64_t>(0) : std::nullopt;
    log.wasCancelled = cancelled;
    return log;
}

}  // namespace

TEST(TransferTexts, ProgressLinesRoundAndCountFromOne) {
    EXPECT_EQ(TransferTexts::settling(1.96), "Waiting for card to finish writing… 2.0s");
    EXPECT_EQ(TransferTexts::settling(0), "Waiting for card to finish writing… 0.0s");
    EXPECT_EQ(TransferTexts::settling(-0.01), "Waiting for card to finish writing… 0.0s");
    EXPECT_EQ(TransferTexts::copyingFile("A001.MOV", 0, 12), "Copying A001.MOV — file 1 of 12");
    EXPECT_EQ(TransferTexts::bytesOf(1'200'000, 5'000'000'000), "1.2 MB of 5 GB");
    EXPECT_EQ(TransferTexts::remaining(3600), "~1h remaining");
    EXPECT_EQ(TransferTexts::remaining(3599), "~59m 59s remaining");
    EXPECT_FALSE(TransferTexts::remaining(std::nullopt));
    EXPECT_FALSE(TransferTexts::remaining(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(TransferTexts::speed(2'345'678.9), "2.3 MB/s");
    EXPECT_FALSE(TransferTexts::speed(0));
    EXPECT_TRUE(TransferTexts::speed(1e300)) << "a huge speed is clamped, never cast out of range";
}

TEST(TransferTexts, CopyVerdictFollowsTheStopFirstThenTheLog) {
    // A stopped run counts the files that landed (verified or already present), never the
    // failed ones.
    const auto stopped = logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::skippedAlreadyPresent()),
                                outcome("c", Status::failed("Disk full."))},
                               6, true);
    auto v = TransferTexts::copyVerdict(true, stopped);
    EXPECT_EQ(v.text, "Stopped early — 2 files finished before the stop. The card was NOT fully copied.");
    EXPECT_EQ(v.symbol, "stop.circle.fill");
    EXPECT_EQ(v.tone, Tone::warn);

    // A stop that cut nothing short: every planned file handled and verified.
    const auto verified = logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::skippedAlreadyPresent())}, 2);
    for (bool told : {false, true}) {
        v = TransferTexts::copyVerdict(told, verified);
        EXPECT_EQ(v.text, "All 2 files copied and verified byte-for-byte");
        EXPECT_EQ(v.tone, Tone::good);
    }

    const auto allPresent = logOf({outcome("a", Status::skippedAlreadyPresent()), outcome("b", Status::skippedAlreadyPresent())}, 2);
    EXPECT_EQ(TransferTexts::copyVerdict(false, allPresent).text, "All 2 files copied and verified byte-for-byte");
    EXPECT_EQ(TransferTexts::copyCounts(allPresent), "Verified 0 · Already present 2 · Failed 0");

    const auto failed = logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::failed("Disk full."))}, 2);
    v = TransferTexts::copyVerdict(false, failed);
    EXPECT_EQ(v.text, "1 of 2 files FAILED — don't wipe the card");
    EXPECT_EQ(v.tone, Tone::bad);

    v = TransferTexts::copyVerdict(false, logOf({outcome("a", Status::copiedVerified())}, std::nullopt));
    EXPECT_EQ(v.text, "Incomplete — 1 of ? files handled. The card was NOT fully copied.");
    v = TransferTexts::copyVerdict(false, logOf({outcome("a", Status::copiedNotVerified())}, 3));
    EXPECT_EQ(v.text, "Incomplete — 1 of 3 files handled. The card was NOT fully copied.");

    const auto empty = logOf({}, 0);
    v = TransferTexts::copyVerdict(false, empty);
    EXPECT_EQ(v.text, "Copy complete") << "a log with no outcomes is never all verified";
    EXPECT_EQ(TransferTexts::copyCounts(empty), "Verified 0 · Already present 0 · Failed 0");
}

TEST(TransferTexts, BannerForEveryStanding) {
    auto verified = logOf({outcome("a", Status::copiedVerified(), 1'500'000), outcome("b", Status::copiedVerified(), 500'000)}, 2);
    auto b = TransferTexts::banner(verified);
    EXPECT_EQ(b.tone, Tone::good);
    EXPECT_EQ(b.title, "All 2 files verified byte-for-byte");
    EXPECT_EQ(b.subtitle, "Safe to reuse the card — 2 MB transferred.");

    auto stopped = logOf({outcome("a", Status::copiedVerified())}, 4, true);
    b = TransferTexts::banner(stopped);
    EXPECT_EQ(b.tone, Tone::bad);
    EXPECT_EQ(b.title, "Stopped early — 1 of 4 files transferred");
    EXPECT_EQ(b.subtitle, "This transfer is incomplete. 3 files were never copied — do not wipe the card.");

    auto stoppedUnplanned = logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::copiedVerified()),
                                   outcome("c", Status::copiedVerified())},
                                  std::nullopt, true);
    b = TransferTexts::banner(stoppedUnplanned);
    EXPECT_EQ(b.title, "Stopped early — 3 of 3 files transferred");
    EXPECT_EQ(b.subtitle, "This transfer is incomplete. 0 files were never copied — do not wipe the card.");

    b = TransferTexts::banner(logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::failed("x"))}, 5));
    EXPECT_EQ(b.title, "1 of 2 files failed") << "a failure wins over the missing files";
    EXPECT_EQ(b.subtitle, "Do not wipe the card until these are resolved.");

    std::vector<CopyEngine::FileOutcome> five(5, outcome("a", Status::copiedVerified()));
    b = TransferTexts::banner(logOf(five, std::nullopt));
    EXPECT_EQ(b.title, "Incomplete transfer — 5 of an unrecorded number of files");
    EXPECT_EQ(b.subtitle, "This run can't be proven complete. Do not wipe the card.");
    b = TransferTexts::banner(logOf(five, 7));
    EXPECT_EQ(b.title, "Incomplete transfer — 5 of 7 files");

    b = TransferTexts::banner(logOf({outcome("a", Status::copiedNotVerified()), outcome("b", Status::copiedVerified())}, 2));
    EXPECT_EQ(b.tone, Tone::warn);
    EXPECT_EQ(b.title, "1 of 2 files copied without verification");
    EXPECT_EQ(b.subtitle, "These bytes were never re-read and proven. Do not wipe the card.");

    b = TransferTexts::banner(logOf({}, 0));
    EXPECT_EQ(b.tone, Tone::warn);
    EXPECT_EQ(b.title, "No files transferred");
    EXPECT_EQ(b.subtitle, "Nothing was copied, so nothing is proven.");
}

TEST(TransferOutcomeListModel, RowsCarryTheMarkChecksumAndFailureLine) {
    using Mark = TransferOutcomeListModel::Mark;
    auto row = TransferOutcomeListModel::rowFor(outcome("DCIM/A.MOV", Status::copiedVerified(), 2'000'000));
    EXPECT_EQ(row.path, "DCIM/A.MOV");
    EXPECT_EQ(row.checksum, "xxh64 00000000000000aa");
    EXPECT_EQ(row.size, "2 MB");
    EXPECT_TRUE(row.failure.isEmpty());
    EXPECT_EQ(row.mark, Mark::verified);
    EXPECT_EQ(TransferOutcomeListModel::symbolFor(row.mark), "checkmark.circle.fill");

    row = TransferOutcomeListModel::rowFor(outcome("b", Status::verificationFailed(), 10, std::nullopt));
    EXPECT_EQ(row.checksum, "xxh64 —");
    EXPECT_EQ(row.failure, "Checksum mismatch.");
    EXPECT_EQ(row.mark, Mark::failed);
    EXPECT_EQ(TransferOutcomeListModel::symbolFor(row.mark), "xmark.octagon.fill");
    row = TransferOutcomeListModel::rowFor(outcome("b", Status::verificationFailed("Read-back differs."), 10));
    EXPECT_EQ(row.failure, "Read-back differs.");
    row = TransferOutcomeListModel::rowFor(outcome("c", Status::failed("No space left on device.")));
    EXPECT_EQ(row.failure, "No space left on device.");
    row = TransferOutcomeListModel::rowFor(outcome("d", Status::copiedNotVerified()));
    EXPECT_EQ(row.mark, Mark::unverified);
    EXPECT_EQ(TransferOutcomeListModel::symbolFor(row.mark), "circle");
    EXPECT_EQ(TransferOutcomeListModel::rowFor(outcome("e", Status::skippedAlreadyPresent())).mark, Mark::verified);

    TransferOutcomeListModel model;
    model.setLog(std::make_shared<const TransferLog>(
        logOf({outcome("a", Status::copiedVerified()), outcome("b", Status::failed("x"))}, 2)));
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(1).data(TransferOutcomeListModel::failureRole).toString(), "x");
    model.setLog(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
}
