#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace brindlecove::TransferTexts {

using Kind = tessaline::TransferLog::TransferStanding::Kind;

namespace {

QString n(long long value) { return Formats::groupedInteger(value); }

// "2 of 5 files", "1 of 1 file".
QString filesOf(long long part, long long total) { return Formats::partOf(part, total, "file", "files"); }

QString u(const std::string& text) { return QString::fromStdString(text); }

QString named(const std::vector<tessaline::CardFileNote>& notes, int limit) {
    QStringList parts;
    for (size_t i = 0; i < notes.size() && static_cast<int>(i) < limit; ++i)
        parts << QStringLiteral("%1 — %2").arg(u(notes[i].relativePath), u(notes[i].reason));
    QString text = parts.join(QStringLiteral("; "));
    if (static_cast<int>(notes.size()) > limit)
        text += QStringLiteral("; and %1 more").arg(n(static_cast<long long>(notes.size()) - limit));
    return text;
}

}  // namespace

QString notProvenNames(const tessaline::TransferLog& log, int limit) { return named(log.cardFilesNotProven(), limit); }

QString renamedNames(const tessaline::TransferLog& log, int limit) {
    std::vector<tessaline::CardFileNote> renamed;
    for (const auto& note : log.cardFileNotes)
        if (!note.keepsCardUnsafe()) renamed.push_back(note);
    return named(renamed, limit);
}

QString settling(double quietRemaining) {
    // Never "-0.0s", and no NaN text.
    const double q = std::isfinite(quietRemaining) && quietRemaining > 0 ? quietRemaining : 0.0;
    return QStringLiteral("Waiting for card to finish writing… %1s").arg(QString::number(q, 'f', 1));
}

QString checking(const tessaline::CopyEngine::CheckingEvent& check) {
    using Phase = tessaline::CopyEngine::CheckingEvent::Phase;
    QString what;
    switch (check.phase) {
        case Phase::filesOnDrive: what = QStringLiteral("Checking files already on the drive… %1 of %2"); break;
        case Phase::cardAgain: what = QStringLiteral("Checking the card again… %1 of %2"); break;
        case Phase::readBack: what = QStringLiteral("Verifying copies… %1 of %2"); break;
    }
    return what.arg(n(check.done), n(check.total));
}

std::optional<QString> checkedBytes(const tessaline::CopyEngine::CheckingEvent& check) {
    if (check.bytesToRead < 1) return std::nullopt;
    const QString bytes = bytesOf(std::clamp<int64_t>(check.bytesRead, 0, check.bytesToRead), check.bytesToRead);
    if (check.phase == tessaline::CopyEngine::CheckingEvent::Phase::readBack)
        return QStringLiteral("%1 read back").arg(bytes);
    return QStringLiteral("%1 compared").arg(bytes);
}

double checkedFraction(const tessaline::CopyEngine::CheckingEvent& check) {
    if (check.bytesToRead >= 1)
        return static_cast<double>(std::clamp<int64_t>(check.bytesRead, 0, check.bytesToRead)) /
               static_cast<double>(check.bytesToRead);
    if (check.total < 1) return 0;
    return static_cast<double>(std::clamp(check.done, 0, check.total)) / check.total;
}

QString copyingFile(const QString& fileName, int fileIndex, int fileTotal) {
    return QStringLiteral("Copying %1 — file %2 of %3").arg(fileName, n(static_cast<long long>(fileIndex) + 1), n(fileTotal));
}

QString verifyingFile(const QString& fileName, int fileIndex, int fileTotal) {
    return QStringLiteral("Verifying %1 — file %2 of %3")
        .arg(fileName, n(static_cast<long long>(fileIndex) + 1), n(fileTotal));
}

QString bytesOf(int64_t copied, int64_t total) {
    return QStringLiteral("%1 of %2").arg(Formats::fileByteCount(copied), Formats::fileByteCount(total));
}

std::optional<QString> speed(double bytesPerSecond) {
    if (!(bytesPerSecond > 0) || !std::isfinite(bytesPerSecond)) return std::nullopt;
    // A speed beyond any real drive is clamped before the cast (a cast out of range is undefined).
    const double whole = std::trunc(std::min(bytesPerSecond, 1e18));
    return Formats::fileByteCount(static_cast<qint64>(whole)) + QStringLiteral("/s");
}

std::optional<QString> remaining(std::optional<double> seconds) {
    if (!seconds) return std::nullopt;
    auto text = Formats::durationText(*seconds);
    if (!text) return std::nullopt;
    return QStringLiteral("~%1 remaining").arg(*text);
}

Verdict copyVerdict(bool wasStopped, const tessaline::TransferLog& log) {
    const int files = log.fileCount();
    // A stop that cut nothing short (every planned file handled) is not news; a run that did
    // stop early counts the files that landed, not the failed ones.
    if (wasStopped && !log.isComplete())
        return {QStringLiteral("stop.circle.fill"), Tone::warn,
                QStringLiteral("Stopped early — %1 finished before the stop. The card was NOT fully copied.")
                    .arg(Formats::count(log.verifiedCount() + log.skippedCount(), "file", "files"))};
    if (log.allVerified())
        return {QStringLiteral("checkmark.seal.fill"), Tone::good,
                QStringLiteral("%1 copied and verified byte-for-byte").arg(Formats::allOf(files, "file", "files"))};
    if (log.failedCount() >= 1)
        return {QStringLiteral("exclamationmark.triangle.fill"), Tone::bad,
                QStringLiteral("%1 FAILED — don't wipe the card").arg(filesOf(log.failedCount(), files))};
    if (!log.isComplete())
        return {QStringLiteral("exclamationmark.triangle.fill"), Tone::warn,
                QStringLiteral("Incomplete — %1 handled. The card was NOT fully copied.")
                    .arg(log.plannedFileCount ? filesOf(files, *log.plannedFileCount)
                                              : QStringLiteral("%1 of ? files").arg(n(files)))};
    if (const auto unproven = log.cardFilesNotProven(); !unproven.empty())
        return {QStringLiteral("exclamationmark.triangle.fill"), Tone::bad,
                QStringLiteral("%1 — don't wipe the card: %2")
                    .arg(u(tessaline::CardFileNote::unprovenHeading(unproven)), notProvenNames(log))};
    return {QStringLiteral("checkmark.circle.fill"), Tone::good, QStringLiteral("Copy complete")};
}

QString copyCounts(const tessaline::TransferLog& log) {
    return QStringLiteral("Verified %1 · Already present %2 · Failed %3")
        .arg(n(log.verifiedCount()), n(log.skippedCount()), n(log.failedCount()));
}

Banner banner(const tessaline::TransferLog& log) {
    const auto standing = log.standing();
    switch (standing.kind) {
        case Kind::verified: {
            Banner verified{Tone::good,
                            QStringLiteral("%1 verified byte-for-byte").arg(Formats::allOf(standing.count, "file", "files")),
                            QStringLiteral("Safe to reuse the card — %1 transferred.")
                                .arg(Formats::fileByteCount(log.totalBytes()))};
            if (const QString renamed = renamedNames(log); !renamed.isEmpty())
                verified.subtitle += QStringLiteral(" Stored under another name: %1.").arg(renamed);
            return verified;
        }
        case Kind::cardNotProven:
            return {Tone::bad, u(tessaline::CardFileNote::unprovenHeading(log.cardFilesNotProven())),
                    QStringLiteral("%1 copied and verified byte-for-byte (%2). Not proven: %3. Do not wipe the card.")
                        .arg(filesOf(log.verifiedCount() + log.skippedCount(), standing.total.value_or(0)),
                             Formats::fileByteCount(log.totalBytes()), notProvenNames(log))};
        case Kind::cancelledIncomplete:
            return {Tone::bad,
                    QStringLiteral("Stopped early — %1 transferred")
                        .arg(filesOf(standing.count, standing.total.value_or(standing.count))),
                    QStringLiteral("This transfer is incomplete. %1 never copied — do not wipe the card.")
                        .arg(log.unhandledCount() == 1 ? QStringLiteral("1 file was")
                                                       : QStringLiteral("%1 files were").arg(n(log.unhandledCount())))};
        case Kind::incomplete:
            return {Tone::bad,
                    QStringLiteral("Incomplete transfer — %1")
                        .arg(standing.total ? filesOf(standing.count, *standing.total)
                                            : QStringLiteral("%1 of an unrecorded number of files").arg(n(standing.count))),
                    QStringLiteral("This run can't be proven complete. Do not wipe the card.")};
        case Kind::hasFailures:
            return {Tone::bad, QStringLiteral("%1 failed").arg(filesOf(standing.count, standing.total.value_or(0))),
                    QStringLiteral("Do not wipe the card until these are resolved.")};
        case Kind::hasUnverified:
            return {Tone::warn,
                    QStringLiteral("%1 copied without verification")
                        .arg(filesOf(standing.count, standing.total.value_or(0))),
                    QStringLiteral("These bytes were never re-read and proven. Do not wipe the card.")};
        case Kind::noFiles:
            return {Tone::warn, QStringLiteral("No files transferred"),
                    QStringLiteral("Nothing was copied, so nothing is proven.")};
    }
    return {};
}

}  // namespace brindlecove::TransferTexts
