#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/PathConversion.hpp"

#include <algorithm>

namespace brindlecove::ReportTexts {

using Kind = tessaline::VerificationReport::EraseStanding::Kind;

Counts countsOf(const tessaline::VerificationReport& report) {
    Counts counts;
    for (const auto& result : report.results) {
        switch (result.status.kind()) {
            case tessaline::MatchStatus::Kind::confirmed: ++counts.confirmed; break;
            case tessaline::MatchStatus::Kind::possibleDuplicate: ++counts.duplicates; break;
            case tessaline::MatchStatus::Kind::nameMatchMetadataMismatch: ++counts.mismatches; break;
            case tessaline::MatchStatus::Kind::missing: ++counts.missing; break;
        }
    }
    for (const auto& file : report.otherFiles) ++(file.isOnlyOnCard() ? counts.otherOnlyOnCard : counts.otherConfirmed);
    return counts;
}

Banner banner(const tessaline::VerificationReport::EraseStanding& standing) {
    const QString count = QString::number(standing.count);
    const QString total = QString::number(standing.total);
    switch (standing.kind) {
        case Kind::safe:
            return {Tone::good, QStringLiteral("All %1 clips are backed up").arg(count),
                    QStringLiteral("Every file is confirmed on a drive — nothing is left only on the card. Safe to erase.")};
        case Kind::hasMissing:
            if (standing.count == standing.total)
                return {Tone::bad, QStringLiteral("None of the %1 clips were found on the drives you scanned").arg(count),
                        QStringLiteral("Every file is still only on the card — double-check you picked the right backup "
                                       "drive (and that it was mounted) before trusting this result.")};
            return {Tone::bad, QStringLiteral("%1 of %2 clips are still only on the card").arg(count, total),
                    QStringLiteral("These have not been found on the drives you scanned. Not safe to erase.")};
        case Kind::hasContentMismatch:
            return {Tone::warn,
                    QStringLiteral("%1 of %2 clips have a same-named but different file on the drive").arg(count, total),
                    QStringLiteral("Their contents don't match — check these before you trust the backup. Not safe to "
                                   "erase yet.")};
        case Kind::cardNotFullyRead:
            return {Tone::bad, QStringLiteral("The card was not fully read"),
                    QStringLiteral("%1 folder(s) on the card couldn't be read, so their files were never checked. Not "
                                   "safe to erase.")
                        .arg(count)};
        case Kind::otherFilesOnlyOnCard:
            return {Tone::bad,
                    standing.count == 1
                        ? QStringLiteral("All %1 clips are backed up, but 1 other file is only on the card").arg(total)
                        : QStringLiteral("All %1 clips are backed up, but %2 other files are only on the card")
                              .arg(total, count),
                    QStringLiteral("Copy them with the rescue below, or scan with every file type.")};
        case Kind::noMedia:
            break;
    }
    return {Tone::warn, QStringLiteral("No media found on the card"),
            QStringLiteral("There's nothing to verify — check you picked the right card.")};
}

Banner erasedBanner() {
    return {Tone::warn, QStringLiteral("The card was erased after this scan"),
            QStringLiteral("This report no longer tells what is on the card. Scan it again before relying on it.")};
}

QString otherFilesLine(const Counts& counts) {
    if (counts.otherConfirmed + counts.otherOnlyOnCard == 0) return {};
    return QStringLiteral("Other files: %1 confirmed · %2 only on the card")
        .arg(counts.otherConfirmed)
        .arg(counts.otherOnlyOnCard);
}

QString uncountedHeading(const tessaline::VerificationReport& report) {
    const auto count = report.uncountedCopies.size();
    if (count == 0) return {};
    const QString why =
        QStringLiteral(" \u2014 an overlay, a second view of the card or a disk image on the card can show the card's own files");
    if (count == 1) return QStringLiteral("Not counted as backups: 1 drive file") + why;
    return QStringLiteral("Not counted as backups: %1 drive files").arg(count) + why;
}

QStringList uncountedLines(const tessaline::VerificationReport& report) {
    using Doubt = tessaline::ProofGround::Doubt;
    QStringList lines;
    for (const tessaline::UncountedCopy& copy : report.uncountedCopies) {
        QString where;
        switch (copy.doubt) {
            case Doubt::overlay: where = QStringLiteral("On an overlay"); break;
            case Doubt::imageOnCard: where = QStringLiteral("In a disk image on the card"); break;
            case Doubt::unidentified: where = QStringLiteral("In a disk image whose file this user can't locate"); break;
            case Doubt::viewOfCard: where = QStringLiteral("On a second view of the card"); break;
        }
        lines << where + QStringLiteral(": ") + qtPath(copy.path);
    }
    return lines;
}

QString syncButtonTitle(int missingCount) {
    if (missingCount == 1) return QStringLiteral("Sync 1 Missing File to Drive");
    return QStringLiteral("Sync %1 Missing Files to Drive").arg(missingCount);
}

QString suggestionNote(int confirmedCount) {
    return QStringLiteral("Where the %1 already-synced files live. Use Change… to pick somewhere else.").arg(confirmedCount);
}

QString runningText(const QString& fileName, qint64 copied, qint64 total) {
    if (fileName.isEmpty()) return QStringLiteral("Copying missing files…");
    return QStringLiteral("Copying %1 — %2 of %3")
        .arg(fileName, Formats::fileByteCount(copied), Formats::fileByteCount(total));
}

namespace {

int landedCount(const tessaline::TransferLog& log) {
    return static_cast<int>(
        std::count_if(log.outcomes.begin(), log.outcomes.end(), [](const auto& o) { return o.status.landedSafely(); }));
}

}  // namespace

Outcome outcome(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard) {
    if (wasStopped)
        return {QStringLiteral("Stopped early — %1 files landed before the stop. Re-run to finish.").arg(landedCount(log)),
                QStringLiteral("stop.circle.fill"), Tone::warn};
    if (log.allVerified())
        return {QStringLiteral("All %1 missing files copied and verified byte-for-byte.").arg(log.fileCount()),
                QStringLiteral("checkmark.seal.fill"), Tone::good};
    const int failed = log.failedCount();
    const int gone = std::clamp(goneFromCard, 0, failed);
    QString where;
    if (gone == 0)
        where = QStringLiteral("the card still holds the only copy of those");
    else if (gone == failed)
        where = QStringLiteral("those are no longer on the card");
    else
        where = QStringLiteral("%1 of those %2 no longer on the card, and the card still holds the only copy of the "
                               "other %3")
                    .arg(gone)
                    .arg(gone == 1 ? QStringLiteral("is") : QStringLiteral("are"))
                    .arg(failed - gone);
    return {QStringLiteral("%1 of %2 files failed — %3. Details in the Production Log tab.")
                .arg(failed)
                .arg(log.fileCount())
                .arg(where),
            QStringLiteral("exclamationmark.triangle.fill"), Tone::bad};
}

QString rerunNote(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard, bool cardErased) {
    if (cardErased) return {};
    const int landed = landedCount(log);
    const int stillOnlyOnCard = log.failedCount() - std::clamp(goneFromCard, 0, log.failedCount());
    if (!wasStopped && stillOnlyOnCard == 0 && log.fileCount() > 0)
        return QStringLiteral("Re-run the Scan to see the report go green.");
    if (landed > 0) return QStringLiteral("Re-run the Scan to see the copied files confirmed.");
    return {};
}

QString erasedRescueNote() {
    return QStringLiteral("The card was erased after this scan, so this report no longer tells what is on it to copy. "
                          "Scan the card again to rescue what it holds now.");
}

}  // namespace brindlecove::ReportTexts
