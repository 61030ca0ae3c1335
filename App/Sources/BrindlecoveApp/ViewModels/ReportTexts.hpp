#pragma once
// The Report section's sentences, chosen from a report's standing and a rescue copy's state,
// computed in the core so exact-text checks run without a display. Counts are grouped in the
// user's number format (Formats). Any thread.

#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QString>
#include <QStringList>

namespace brindlecove::ReportTexts {

enum class Tone { good, bad, warn, neutral };

struct Banner {
    Tone tone = Tone::neutral;
    QString title;
    QString subtitle;
    bool operator==(const Banner&) const = default;
};

// How many clips have each status, counted in one pass without copying the results, and how
// many other files (not clips) were proven on a drive or are only on the card.
struct Counts {
    int confirmed = 0;
    int duplicates = 0;
    int mismatches = 0;
    int missing = 0;
    int otherConfirmed = 0;
    int otherOnlyOnCard = 0;
    // What a rescue copies: the missing clips and the other files only on the card.
    int toRescue() const { return missing + otherOnlyOnCard; }
    bool operator==(const Counts&) const = default;
};
Counts countsOf(const tessaline::VerificationReport& report);

// The verdict banner for a report's erase standing.
Banner banner(const tessaline::VerificationReport::EraseStanding& standing);
// The verdict banner of a report: its standing's, naming the other files only on the card
// (their count and first names) whatever the standing. A card without media whose other files
// are only on it is not safe ("1,254 other files are only on the card"); one whose other
// files are all proven says so; only a card with nothing on it has "nothing to verify".
Banner banner(const tessaline::VerificationReport& report);

// The first names of the other files only on the card, in path order: "README.TXT,
// notes.pdf, LOG_0001.CSV and 1,251 more" (at most three names); empty without any.
QString otherFilesOnlyOnCardNames(const tessaline::VerificationReport& report);
// For the scan's summary: "1,254 other files are only on the card — README.TXT, notes.pdf,
// LOG_0001.CSV and 1,251 more" ("1 other file is only on the card — README.TXT"); empty
// without any.
QString otherFilesOnlyOnCardLine(const tessaline::VerificationReport& report);
// The banner of a report an erase was started on, whatever its standing: the card was erased
// after the scan, which no longer tells what the card holds.
Banner erasedBanner();

// The line under the tiles for a report with other files: "Other files: 6 confirmed · 4 only
// on the card"; empty without other files.
QString otherFilesLine(const Counts& counts);

// Above the drive files not counted for where they lie: "Not counted as backups: 2 drive
// files — an overlay, a second view of the card, a disk image on the card or storage that
// can't be followed can show the card's own files" (one: "1 drive file"); empty without any.
QString uncountedHeading(const tessaline::VerificationReport& report);
// One line per such file, in path order: where it lies, then its path ("On an overlay:
// /media/BACKUP/view/C0001.MP4"; "In a disk image on the card: …"; "In a disk image whose
// file this user can't locate: …"; "On a second view of the card: …").
QStringList uncountedLines(const tessaline::VerificationReport& report);

// Why a card file whose proof stopped at the bound on reading was not proven, as the report
// says it (UnreadCandidates::reasonText) with the counts in the user's number format: "not
// found under its name or near its time; 18,000 files of its kind on the drives were not
// read", or with files of its name unread "under its name: 60 files of its name and size, 12
// not read" (and "; 18,000 other files of its kind on the drives were not read" when so).
QString unreadReason(const tessaline::UnreadCandidates& unread);
// The same, short enough for a row of the file list: "18,000 of its kind not read", or "12 of
// 60 under its name not read".
QString unreadRowReason(const tessaline::UnreadCandidates& unread);
// How to prove such files, once per report: "2 card files were not looked for among every
// drive file of their kind. To prove them, copy the card with Brindlecove, or grant just the
// drive folder that holds their copies and scan again."; empty without any.
QString unreadNote(const tessaline::VerificationReport& report);

// What the rescue copies: the missing clips with the files they are made of, then the other
// files only on the card: "Sync 1 Missing Clip (3 Files) to Drive", "Sync 2 Missing Clips
// to Drive", "Sync 1 Missing Clip and 3 Other Files to Drive", "Sync 3 Missing Files to
// Drive" (no clip missing).
QString syncButtonTitle(int missingClips, int clipFiles, int otherFiles = 0);

// The note under a suggested destination.
QString suggestionNote(int confirmedCount);

// The running line: "Copying <name> — <copied> of <total>" in file byte counts, or
// "Copying missing files…" before the first file has a name.
QString runningText(const QString& fileName, qint64 copied, qint64 total);
// While a rescued file's copy is read back to prove it: "Verifying <name> — <read> of <to
// read> read back".
QString verifyingText(const QString& fileName, const tessaline::CopyEngine::CheckingEvent& readBack);

// The label of a finished rescue copy. A stopped run counts only the files that landed
// safely (copied, or proven already present), never the failed ones.
struct Outcome {
    QString text;
    QString symbol;
    Tone tone = Tone::neutral;  // warn = orange, good = green, bad = red
    bool operator==(const Outcome&) const = default;
};
// Failed files are said to be the card's only copy only while they are on it: of
// `goneFromCard` failed files the label says they are no longer on the card.
Outcome outcome(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard = 0);

// The line under a finished rescue's label, only where a new scan can change the report:
// "Re-run the Scan to see the report go green." when nothing the rescue was for is still
// only on the card, "Re-run the Scan to see the copied files confirmed." when some files
// landed but others are still only on the card (or the run was stopped); empty when no file
// landed and every failed file is still on the card, and on a card erased after the scan.
QString rerunNote(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard, bool cardErased);

// What the rescue group says instead of offering a copy on a report whose card was erased.
QString erasedRescueNote();

}  // namespace brindlecove::ReportTexts
