#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/PathConversion.hpp"

#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include <algorithm>
#include <set>

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
    const QString count = Formats::groupedInteger(standing.count);
    const QString total = Formats::groupedInteger(standing.total);
    switch (standing.kind) {
        case Kind::safe:
            return {Tone::good,
                    standing.count == 1 ? QStringLiteral("The 1 clip is backed up")
                                        : QStringLiteral("All %1 are backed up").arg(Formats::count(standing.count, "clip", "clips")),
                    QStringLiteral("Every file is confirmed on a drive — nothing is left only on the card. Safe to erase.")};
        case Kind::hasMissing:
            if (standing.count == standing.total)
                return {Tone::bad,
                        standing.count == 1
                            ? QStringLiteral("The 1 clip was not found on the drives you scanned")
                            : QStringLiteral("None of the %1 were found on the drives you scanned")
                                  .arg(Formats::count(standing.count, "clip", "clips")),
                        QStringLiteral("Every file is still only on the card — double-check you picked the right backup "
                                       "drive (and that it was mounted) before trusting this result.")};
            return {Tone::bad,
                    QStringLiteral("%1 of %2 %3 still only on the card")
                        .arg(count, Formats::count(standing.total, "clip", "clips"),
                             standing.count == 1 ? QStringLiteral("is") : QStringLiteral("are")),
                    QStringLiteral("These have not been found on the drives you scanned. Not safe to erase.")};
        case Kind::hasContentMismatch:
            return {Tone::warn,
                    QStringLiteral("%1 of %2 %3 a same-named but different file on the drive")
                        .arg(count, Formats::count(standing.total, "clip", "clips"),
                             standing.count == 1 ? QStringLiteral("has") : QStringLiteral("have")),
                    QStringLiteral("Their contents don't match — check these before you trust the backup. Not safe to "
                                   "erase yet.")};
        case Kind::cardNotFullyRead:
            return {Tone::bad, QStringLiteral("The card was not fully read"),
                    QStringLiteral("%1 on the card couldn't be read, so %2 files were never checked. Not safe to "
                                   "erase.")
                        .arg(Formats::count(standing.count, "folder", "folders"),
                             standing.count == 1 ? QStringLiteral("its") : QStringLiteral("their"))};
        case Kind::otherFilesOnlyOnCard:
            return {Tone::bad,
                    QStringLiteral("%1 backed up, but %2 only on the card")
                        .arg(standing.total == 1 ? QStringLiteral("The 1 clip is")
                                                 : QStringLiteral("All %1 are").arg(Formats::count(standing.total, "clip", "clips")),
                             standing.count == 1 ? QStringLiteral("1 other file is")
                                                 : QStringLiteral("%1 other files are").arg(count)),
                    QStringLiteral("Copy them with the rescue below, or scan with every file type.")};
        case Kind::noMedia:
            break;
    }
    return {Tone::warn, QStringLiteral("No media found on the card"),
            QStringLiteral("There's nothing to verify — check you picked the right card.")};
}

namespace {

constexpr int namesShown = 3;

int otherOnlyOnCardCount(const tessaline::VerificationReport& report) {
    return static_cast<int>(std::count_if(report.otherFiles.begin(), report.otherFiles.end(),
                                          [](const tessaline::OtherFile& file) { return file.isOnlyOnCard(); }));
}

QString otherFilesOnlyOnCardCount(int count, const QString& tail) {
    return Formats::count(count, "other file is", "other files are") + tail;
}

}  // namespace

QString otherFilesOnlyOnCardNames(const tessaline::VerificationReport& report) {
    QStringList names;
    int count = 0;
    for (const auto& file : report.otherFiles) {
        if (!file.isOnlyOnCard()) continue;
        if (count++ < namesShown) names << qtPath(file.url.filename());
    }
    if (count == 0) return {};
    QString text = names.join(QStringLiteral(", "));
    if (count > namesShown) text += QStringLiteral(" and %1 more").arg(Formats::groupedInteger(count - namesShown));
    return text;
}

QString otherFilesOnlyOnCardLine(const tessaline::VerificationReport& report) {
    const int count = otherOnlyOnCardCount(report);
    if (count == 0) return {};
    return otherFilesOnlyOnCardCount(count, " only on the card — ") + otherFilesOnlyOnCardNames(report);
}

Banner banner(const tessaline::VerificationReport& report) {
    const auto standing = report.eraseStanding();
    const int onlyOnCard = otherOnlyOnCardCount(report);
    if (standing.kind == Kind::noMedia) {
        if (onlyOnCard > 0)
            return {Tone::bad, otherFilesOnlyOnCardCount(onlyOnCard, QStringLiteral(" only on the card")),
                    QStringLiteral("No media was found, and %1 on none of the drives you scanned: %2. Not safe to "
                                   "erase.")
                        .arg(onlyOnCard == 1 ? QStringLiteral("it is") : QStringLiteral("they are"),
                             otherFilesOnlyOnCardNames(report))};
        if (!report.otherFiles.empty()) {
            const auto count = static_cast<qint64>(report.otherFiles.size());
            return {Tone::warn, QStringLiteral("No media found on the card"),
                    count == 1 ? QStringLiteral("Its 1 other file is confirmed on a drive.")
                               : QStringLiteral("Its %1 are all confirmed on a drive.")
                                     .arg(Formats::count(count, "other file", "other files"))};
        }
        return banner(standing);
    }
    Banner result = banner(standing);
    if (onlyOnCard == 0) return result;
    if (standing.kind == Kind::otherFilesOnlyOnCard)
        result.subtitle = QStringLiteral("Only on the card: %1. ").arg(otherFilesOnlyOnCardNames(report)) + result.subtitle;
    else
        result.subtitle += QLatin1Char(' ') + otherFilesOnlyOnCardCount(onlyOnCard, QStringLiteral(" only on the card too: ")) +
                           otherFilesOnlyOnCardNames(report) + QLatin1Char('.');
    return result;
}

Banner erasedBanner() {
    return {Tone::warn, QStringLiteral("The card was erased after this scan"),
            QStringLiteral("This report no longer tells what is on the card. Scan it again before relying on it.")};
}

QString otherFilesLine(const Counts& counts) {
    if (counts.otherConfirmed + counts.otherOnlyOnCard == 0) return {};
    return QStringLiteral("Other files: %1 confirmed · %2 only on the card")
        .arg(Formats::groupedInteger(counts.otherConfirmed), Formats::groupedInteger(counts.otherOnlyOnCard));
}

QString uncountedHeading(const tessaline::VerificationReport& report) {
    const auto count = report.uncountedCopies.size();
    if (count == 0) return {};
    const QString why =
        QStringLiteral(" \u2014 an overlay, a second view of the card, a disk image on the card or storage that can't be "
                       "followed can show the card's own files");
    return QStringLiteral("Not counted as backups: %1").arg(Formats::count(qint64(count), "drive file", "drive files")) + why;
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
            case Doubt::untracedDevice: where = QStringLiteral("On a file system that can't be followed to its disk"); break;
            case Doubt::unlocatedFuseImage: where = QStringLiteral("In a FUSE disk image that can't be located"); break;
            case Doubt::untracedFileMount:
                where = QStringLiteral("On a file system mounted from a file that can't be followed");
                break;
        }
        lines << where + QStringLiteral(": ") + qtPath(copy.path);
    }
    return lines;
}

namespace {

QString unreadCount(const tessaline::UnreadCandidates& unread) {
    return QStringLiteral("%1 %2 on the drives %3 not read")
        .arg(Formats::groupedInteger(unread.count),
             unread.count == 1 ? QStringLiteral("file of its kind") : QStringLiteral("files of its kind"),
             unread.count == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

const QString notFound = QStringLiteral("not found under its name or near its time");

}  // namespace

QString unreadReason(const tessaline::UnreadCandidates& unread) {
    if (unread.namedNotRead <= 0) return notFound + QStringLiteral("; ") + unreadCount(unread);
    QString text = QStringLiteral("under its name: %1 %2 of its name and size, %3 not read")
                       .arg(Formats::groupedInteger(unread.named),
                            unread.named == 1 ? QStringLiteral("file") : QStringLiteral("files"),
                            Formats::groupedInteger(unread.namedNotRead));
    if (const qint64 others = unread.otherCount(); others > 0)
        text += QStringLiteral("; %1 other %2 on the drives %3 not read")
                    .arg(Formats::groupedInteger(others),
                         others == 1 ? QStringLiteral("file of its kind") : QStringLiteral("files of its kind"),
                         others == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    return text;
}

QString unreadRowReason(const tessaline::UnreadCandidates& unread) {
    if (unread.namedNotRead > 0)
        return QStringLiteral("%1 of %2 under its name not read")
            .arg(Formats::groupedInteger(unread.namedNotRead), Formats::groupedInteger(unread.named));
    return QStringLiteral("%1 of its kind not read").arg(Formats::groupedInteger(unread.count));
}

QString unreadNote(const tessaline::VerificationReport& report) {
    const auto count = static_cast<qint64>(report.unreadCandidates.size());
    if (count == 0) return {};
    const bool one = count == 1;
    return QStringLiteral("%1 not looked for among every drive file of %2 kind. To prove %3, copy the card with "
                          "Brindlecove, or grant just the drive folder that holds %4 and scan again.")
        .arg(Formats::count(count, "card file was", "card files were"), one ? QStringLiteral("its") : QStringLiteral("their"),
             one ? QStringLiteral("it") : QStringLiteral("them"),
             one ? QStringLiteral("its copy") : QStringLiteral("their copies"));
}

QString syncButtonTitle(int missingClips, int clipFiles, int otherFiles) {
    if (missingClips == 0)
        return QStringLiteral("Sync %1 to Drive").arg(Formats::count(clipFiles + otherFiles, "Missing File", "Missing Files"));
    QString what = Formats::count(missingClips, "Missing Clip", "Missing Clips");
    if (clipFiles > missingClips) what += QStringLiteral(" (%1)").arg(Formats::count(clipFiles, "File", "Files"));
    if (otherFiles > 0) what += QStringLiteral(" and %1").arg(Formats::count(otherFiles, "Other File", "Other Files"));
    return QStringLiteral("Sync %1 to Drive").arg(what);
}

QString suggestionNote(int confirmedCount) {
    return QStringLiteral("Where the %1 already-synced %2. Use Change… to pick somewhere else.")
        .arg(Formats::groupedInteger(confirmedCount))
        .arg(Formats::noun(confirmedCount, "clip lives", "clips live"));
}

QString runningText(const QString& fileName, qint64 copied, qint64 total) {
    if (fileName.isEmpty()) return QStringLiteral("Copying missing files…");
    return QStringLiteral("Copying %1 — %2 of %3")
        .arg(fileName, Formats::fileByteCount(copied), Formats::fileByteCount(total));
}

QString verifyingText(const QString& fileName, const tessaline::CopyEngine::CheckingEvent& readBack) {
    return QStringLiteral("Verifying %1 — %2").arg(fileName, TransferTexts::checkedBytes(readBack).value_or(QString()));
}

namespace {

int landedCount(const tessaline::TransferLog& log) {
    return static_cast<int>(
        std::count_if(log.outcomes.begin(), log.outcomes.end(), [](const auto& o) { return o.status.landedSafely(); }));
}

}  // namespace

Outcome outcome(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard) {
    if (wasStopped)
        return {QStringLiteral("Stopped early — %1 landed before the stop. Re-run to finish.")
                    .arg(Formats::count(landedCount(log), "file", "files")),
                QStringLiteral("stop.circle.fill"), Tone::warn};
    if (log.allVerified())
        return {log.fileCount() == 1
                    ? QStringLiteral("The 1 missing file copied and verified byte-for-byte.")
                    : QStringLiteral("All %1 missing files copied and verified byte-for-byte.").arg(Formats::groupedInteger(log.fileCount())),
                QStringLiteral("checkmark.seal.fill"), Tone::good};
    const int failed = log.failedCount();
    // The card files nothing proved besides the failed ones: clips whose drive copy differs,
    // files the rescue stored where a scan misses them, files changed on the card.
    tessaline::TransferLog others = log;
    std::set<std::string> failedPaths;
    for (const auto& outcome : log.failures()) failedPaths.insert(outcome.relativePath);
    std::erase_if(others.cardFileNotes, [&](const auto& note) { return failedPaths.count(note.relativePath) > 0; });
    const auto unproven = others.cardFilesNotProven();
    if (failed == 0 && !unproven.empty())
        return {QStringLiteral("Copied and verified %1. %2 — don't wipe the card: %3.")
                    .arg(Formats::count(log.verifiedCount() + log.skippedCount(), "missing file", "missing files"),
                         QString::fromStdString(tessaline::CardFileNote::unprovenHeading(unproven)),
                         TransferTexts::notProvenNames(others)),
                QStringLiteral("exclamationmark.triangle.fill"), Tone::bad};
    const int gone = std::clamp(goneFromCard, 0, failed);
    QString where;
    if (gone == 0)
        where = QStringLiteral("the card still holds the only copy of those");
    else if (gone == failed)
        where = QStringLiteral("those are no longer on the card");
    else
        where = QStringLiteral("%1 of those %2 no longer on the card, and the card still holds the only copy of the "
                               "other %3")
                    .arg(Formats::groupedInteger(gone))
                    .arg(gone == 1 ? QStringLiteral("is") : QStringLiteral("are"))
                    .arg(Formats::groupedInteger(failed - gone));
    QString text = QStringLiteral("%1 of %2 failed — %3. Details in the Production Log tab.")
                       .arg(Formats::groupedInteger(failed))
                       .arg(Formats::count(log.fileCount(), "file", "files"))
                       .arg(where);
    if (!unproven.empty())
        text += QStringLiteral(" The card also holds %1 not proven anywhere: %2.")
                    .arg(Formats::count(static_cast<long long>(unproven.size()), "more file", "more files"),
                         TransferTexts::notProvenNames(others));
    return {text, QStringLiteral("exclamationmark.triangle.fill"), Tone::bad};
}

QString rerunNote(const tessaline::TransferLog& log, bool wasStopped, int goneFromCard, bool cardErased) {
    if (cardErased) return {};
    const int landed = landedCount(log);
    const int stillOnlyOnCard = log.failedCount() - std::clamp(goneFromCard, 0, log.failedCount());
    if (!wasStopped && stillOnlyOnCard == 0 && log.fileCount() > 0 && log.cardFilesNotProven().empty())
        return QStringLiteral("Re-run the Scan to see the report go green.");
    if (landed > 0) return QStringLiteral("Re-run the Scan to see the copied files confirmed.");
    return {};
}

QString erasedRescueNote() {
    return QStringLiteral("The card was erased after this scan, so this report no longer tells what is on it to copy. "
                          "Scan the card again to rescue what it holds now.");
}

}  // namespace brindlecove::ReportTexts
