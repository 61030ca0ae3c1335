#pragma once
// The sentences the Copy and Production Log sections show for a running or finished copy,
// computed in the core so their exact wording is checked without a display. Counts are plain
// integers; byte counts use the engine's file-size style. Any thread.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <QString>

#include <cstdint>
#include <optional>

namespace brindlecove::TransferTexts {

enum class Tone { good, bad, warn, neutral };

// "Waiting for card to finish writing… 2.0s" (one decimal; below 0 reads 0.0).
QString settling(double quietRemaining);
// A check that copies nothing: "Checking files already on the drive… <done> of <total>",
// "Checking the card again… <done> of <total>" or "Verifying copies… <done> of <total>".
QString checking(const tessaline::CopyEngine::CheckingEvent& check);
// How far a check that reads a file's bytes is: "<read> of <to read> compared" (a file on the
// drive) or "<read> of <to read> read back" (a copy), in the file-size style; nullopt for a
// check that counts no bytes.
std::optional<QString> checkedBytes(const tessaline::CopyEngine::CheckingEvent& check);
// The check's fraction done, from its bytes where it counts them, else from its files; in 0…1.
double checkedFraction(const tessaline::CopyEngine::CheckingEvent& check);
// "Copying <name> — file <index + 1> of <total>".
QString copyingFile(const QString& fileName, int fileIndex, int fileTotal);
// "Verifying <name> — file <index + 1> of <total>" (its copy read back).
QString verifyingFile(const QString& fileName, int fileIndex, int fileTotal);
// "<copied> of <total>" in the file-size style.
QString bytesOf(int64_t copied, int64_t total);
// "<speed>/s" for a speed above 0 (truncated to whole bytes); nullopt otherwise.
std::optional<QString> speed(double bytesPerSecond);
// "~<duration> remaining"; nullopt without an estimate or for one that has no text.
std::optional<QString> remaining(std::optional<double> seconds);

// The Copy section's verdict on a finished run.
struct Verdict {
    QString symbol;
    Tone tone = Tone::neutral;  // good: green, bad: red, warn: orange
    QString text;
};
// `wasStopped` says whether the run was told to stop; it leads only when the log is not
// complete.
Verdict copyVerdict(bool wasStopped, const tessaline::TransferLog& log);
// "Verified <n> · Already present <n> · Failed <n>".
QString copyCounts(const tessaline::TransferLog& log);

// The Production Log's banner for the log's standing.
struct Banner {
    Tone tone = Tone::neutral;
    QString title;
    QString subtitle;
};
Banner banner(const tessaline::TransferLog& log);

// The card files of the log's notes that keep the card unsafe, named for one line:
// "DCIM/C0011.MP4 — Name matches C0011.MP4 but contents differ; …", at most `limit`
// of them, then "and <n> more". Empty when there are none.
QString notProvenNames(const tessaline::TransferLog& log, int limit = 3);
// The same for the copies stored under another name that still count ("DCIM/C0002.MP4 —
// stored as DCIM/C0002_1.MP4, …"); empty when there are none.
QString renamedNames(const tessaline::TransferLog& log, int limit = 3);

}  // namespace brindlecove::TransferTexts
