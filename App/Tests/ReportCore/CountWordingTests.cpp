// Every count in a sentence says what it counts, singular for exactly one: the shared helper,
// then its uses across the report, rescue, copy, erase, menu-bar and sync texts and the
// engine's text, PDF-free summaries, each with one thing and with several.

#include "Support/ReportFixtures.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanProgressTracker.hpp"
#include "BrindlecoveApp/ViewModels/SettingsModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Sync/SyncReport.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

using tessaline::CopyEngine;
using tessaline::TransferLog;
using tessaline::MatchStatus;

TransferLog logOf(int files, CopyEngine::FileStatus status, std::optional<int> planned, bool cancelled = false) {
    TransferLog log;
    log.sourceURL = "/media/u/CARD";
    log.destinationURL = "/media/u/BACKUP/Day1";
    log.startedAt = 1'741'356'300;
    log.finishedAt = 1'741'356'309;
    log.wasCancelled = cancelled;
    log.plannedFileCount = planned;
    for (int i = 0; i < files; ++i) {
        CopyEngine::FileOutcome o;
        o.relativePath = "DCIM/C" + std::to_string(i) + ".MP4";
        o.byteSize = 1000;
        o.status = status;
        log.outcomes.push_back(o);
    }
    return log;
}

// Every text a count of `n` things gives; with `screensOnly`, without the engine's own
// summaries (files for any reader, their numbers plain).
QStringList textsCounting(int n, bool screensOnly = false) {
    using Status = CopyEngine::FileStatus;
    QStringList texts;
    // Report and rescue.
    using Standing = tessaline::VerificationReport::EraseStanding;
    for (auto kind : {Standing::Kind::safe, Standing::Kind::hasMissing, Standing::Kind::hasContentMismatch,
                      Standing::Kind::cardNotFullyRead, Standing::Kind::otherFilesOnlyOnCard})
        for (int total : {n, n + 1})
            texts << ReportTexts::banner(Standing{kind, n, total}).title << ReportTexts::banner(Standing{kind, n, total}).subtitle;
    texts << ReportTexts::syncButtonTitle(n, n) << ReportTexts::syncButtonTitle(0, n) << ReportTexts::syncButtonTitle(n, n, n)
          << ReportTexts::syncButtonTitle(1, 3, n) << ReportTexts::syncButtonTitle(0, n, n) << ReportTexts::suggestionNote(n)
          << ReportTexts::uncountedHeading(*countsReport(n, 0));
    texts << ReportTexts::outcome(logOf(n, Status::copiedVerified(), n), false, 0).text
          << ReportTexts::outcome(logOf(n, Status::copiedVerified(), n + 1, true), true, 0).text
          << ReportTexts::outcome(logOf(n, Status::failed("no"), n), false, 0).text;
    // Copy and Production Log.
    for (const TransferLog& log : {logOf(n, Status::copiedVerified(), n), logOf(n, Status::copiedVerified(), n + 3, true),
                                   logOf(n, Status::failed("no"), n), logOf(n, Status::copiedNotVerified(), n),
                                   logOf(n, Status::copiedVerified(), n + 1), logOf(n, Status::copiedVerified(), n, true)}) {
        texts << TransferTexts::banner(log).title << TransferTexts::banner(log).subtitle
              << TransferTexts::copyVerdict(true, log).text << TransferTexts::copyVerdict(false, log).text;
        if (!screensOnly) texts << QString::fromStdString(log.summary()).split(u'\n');
    }
    // Erase Card.
    VerificationStanding standing;
    standing.kind = VerificationStanding::Kind::missing;
    standing.count = n;
    texts << EraseTexts::stopText(standing) << EraseTexts::fileCount(n) << EraseTexts::stoppedText(n);
    standing.files = n;
    standing.fileNames = {"A.MOV"};
    texts << EraseTexts::stopText(standing) << EraseTexts::changedText(standing) << EraseTexts::notVerifiedText(standing);
    // The menu-bar extra and the sync report.
    MenuBarSnapshot menu;
    menu.today = MenuBarSnapshot::TodayTotals{1, n, n, n};
    texts << MenuBarModel::build(menu).front().text;
    tessaline::SyncReport report;
    tessaline::SyncReport::Run run;
    run.newFiles = n;
    run.failedFiles = n;
    run.allVerified = false;
    report.runs = {run};
    if (!screensOnly) texts << QString::fromStdString(report.summary()).split(u'\n');
    // Settings and the scan's resume banner.
    texts << SettingsModel::volumeRowText({"CARD", n, std::nullopt});
    ScanProgressTracker progress;
    progress.setResume(QStringLiteral("CARD"), n, n);
    texts << progress.resumeBanner().value_or(QString());
    return texts;
}

TEST(CountWording, TheHelperSaysWhatItCountsSingularForExactlyOne) {
    EXPECT_EQ(tessaline::countText(1, "file", "files"), "1 file");
    EXPECT_EQ(tessaline::countText(0, "file", "files"), "0 files");
    EXPECT_EQ(tessaline::countText(21, "clip", "clips"), "21 clips");
    EXPECT_EQ(tessaline::allOf(1, "file", "files"), "The 1 file");
    EXPECT_EQ(tessaline::allOf(3, "file", "files"), "All 3 files");
    EXPECT_EQ(tessaline::partOf(1, 1, "file", "files"), "1 of 1 file");
    EXPECT_EQ(tessaline::partOf(1, 4, "file", "files"), "1 of 4 files");
    EXPECT_EQ(tessaline::clipsAndFiles(1, 3), "1 clip (3 files)");
    EXPECT_EQ(tessaline::clipsAndFiles(2, 2), "2 clips");
    EXPECT_EQ(Formats::count(1, "sync pair", "sync pairs"), "1 sync pair");
    EXPECT_EQ(Formats::clipsAndFiles(1, 3), "1 clip (3 files)");
}

TEST(CountWording, ScreenCountsAreWrittenInTheUsersNumberFormat) {
    for (int n : {1000, 20001}) {
        const QString plain = QString::number(n), grouped = QLocale().toString(n);
        ASSERT_NE(plain, grouped);
        int shown = 0;
        for (const QString& text : textsCounting(n, true)) {
            EXPECT_FALSE(text.contains(plain)) << text.toStdString();
            shown += text.contains(grouped);
        }
        EXPECT_GT(shown, 40);
    }
    EXPECT_EQ(Formats::count(20001, "file", "files"), "20,001 files");
    EXPECT_EQ(Formats::partOf(1, 5000, "file", "files"), "1 of 5,000 files");
    EXPECT_EQ(Formats::allOf(1000, "clip", "clips"), "All 1,000 clips");
}

TEST(CountWording, TheRescueButtonCountsAClipsFilesApartFromOtherFiles) {
    // A clip of one file with three unrelated other files only on the card.
    EXPECT_EQ(ReportTexts::syncButtonTitle(1, 1, 3), "Sync 1 Missing Clip and 3 Other Files to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(1, 2, 1), "Sync 1 Missing Clip (2 Files) and 1 Other File to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(2, 2), "Sync 2 Missing Clips to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(1000, 5000, 1000),
              "Sync 1,000 Missing Clips (5,000 Files) and 1,000 Other Files to Drive");
    EXPECT_EQ(ReportTexts::syncButtonTitle(0, 0, 3), "Sync 3 Missing Files to Drive");

    // Counted from a report: the clip's own file and sidecar apart from the other files.
    auto report = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 0));
    report->results.push_back(clip({fingerprint("/c/A.MOV", 10)}, MatchStatus::missing(), {"/c/A.XML"}));
    for (const char* other : {"/c/INDEX.BDM", "/c/NOTES.TXT", "/c/MISC/x.dat"})
        report->otherFiles.push_back({other, 5, tessaline::OtherFile::Role::other, std::nullopt});
    const int files = static_cast<int>(MissingSyncViewModel::filesToRescue(*report).size());
    const int clipFiles = MissingSyncViewModel::clipFilesToRescue(*report);
    EXPECT_EQ(files, 5);
    EXPECT_EQ(ReportTexts::syncButtonTitle(ReportTexts::countsOf(*report).missing, clipFiles, files - clipFiles),
              "Sync 1 Missing Clip (2 Files) and 3 Other Files to Drive");
}

TEST(CountWording, EveryUseNamesWhatItCountsInTheRightNumber) {
    // A count of one followed by a plural noun, a count of several by a singular one, or
    // "(s)" left to the reader.
    const QString nouns = QStringLiteral("(?:new |other |drive |missing |already-synced )?(?:%1)");
    const QRegularExpression oneWithPlural(
        QStringLiteral("(?<![\\d.])1 ") + nouns.arg(QStringLiteral("files|clips|items|folders|pairs|runs|failures")) + "\\b",
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpression severalWithSingular(
        QStringLiteral("(?<![\\d.])(?:[02-9]|\\d{2,}) ") + nouns.arg(QStringLiteral("file|clip|item|folder|pair|run|failure")) +
            "\\b(?! (?:was|is|has|lives))",
        QRegularExpression::CaseInsensitiveOption);
    for (int n : {1, 2}) {
        const QStringList texts = textsCounting(n);
        ASSERT_GT(texts.size(), 60);
        for (const QString& text : texts) {
            EXPECT_FALSE(text.contains(QStringLiteral("(s)"))) << text.toStdString();
            EXPECT_FALSE(oneWithPlural.match(text).hasMatch()) << text.toStdString();
            EXPECT_FALSE(severalWithSingular.match(text).hasMatch()) << text.toStdString();
        }
    }
    // What the texts of the issue say now.
    EXPECT_EQ(ReportTexts::banner({tessaline::VerificationReport::EraseStanding::Kind::safe, 1, 1}).title,
              "The 1 clip is backed up");
    EXPECT_EQ(ReportTexts::syncButtonTitle(1, 3), "Sync 1 Missing Clip (3 Files) to Drive");
    EXPECT_EQ(TransferTexts::copyVerdict(false, logOf(1, CopyEngine::FileStatus::copiedVerified(), 1)).text,
              "The 1 file copied and verified byte-for-byte");
    EXPECT_EQ(EraseTexts::fileCount(1), "1 file");
}

}  // namespace
}  // namespace brindlecove::testing
