#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <QStringList>

#include <algorithm>

namespace brindlecove::EraseTexts {

QString fileCount(int count) { return Formats::count(count, "file", "files"); }

QString namesOf(const std::vector<std::string>& files) {
    std::vector<std::string> first;
    for (const auto& file : files) {
        if (static_cast<int>(first.size()) == VerificationStanding::firstNamesShown) break;
        first.push_back(tessaline::singleLineText(tessaline::lastComponent(file)));
    }
    return namesOf(first, static_cast<int>(files.size()));
}

QString namesOf(const std::vector<std::string>& firstNames, int total) {
    QStringList list;
    for (const auto& name : firstNames) list << QString::fromStdString(name);
    QString text = list.join(QStringLiteral(", "));
    const int more = total - static_cast<int>(firstNames.size());
    if (more > 0) text += QStringLiteral(" and %1 more").arg(Formats::groupedInteger(more));
    return text;
}

QString stopText(const VerificationStanding& standing) {
    const bool one = standing.kind == VerificationStanding::Kind::otherFilesOnlyOnCard && standing.files == 1;
    const QString tail = one ? QStringLiteral(" Erasing now loses it. Copy or re-scan first.")
                             : QStringLiteral(" Erasing now loses them. Copy or re-scan first.");
    const QString names = namesOf(standing.fileNames, standing.files);
    const QString others = Formats::count(standing.files, "other file", "other files");
    if (standing.kind == VerificationStanding::Kind::otherFilesOnlyOnCard)
        return QStringLiteral("STOP \u2014 your last scan found %1 that %2 ONLY on this card (%3).")
                   .arg(others, standing.files == 1 ? QStringLiteral("exists") : QStringLiteral("exist"), names) +
               tail;
    if (standing.files > 0)
        return QStringLiteral("STOP \u2014 your last scan found %1 and %2 that exist ONLY on this card (%3).")
                   .arg(Formats::count(standing.count, "clip", "clips"), others, names) +
               tail;
    return QStringLiteral("STOP \u2014 your last scan found %1 that %2 ONLY on this card.")
               .arg(Formats::count(standing.count, "clip", "clips"),
                    standing.count == 1 ? QStringLiteral("exists") : QStringLiteral("exist")) +
           (standing.count == 1 ? QStringLiteral(" Erasing now loses it. Copy or re-scan first.") : tail);
}

QString changesText(const FileChanges& changes) {
    QStringList parts;
    auto add = [&parts](const NamedFiles& files, const char* one, const char* many) {
        if (files.count == 0) return;
        parts << QStringLiteral("%1 %2 (%3)")
                     .arg(fileCount(files.count), QLatin1String(files.count == 1 ? one : many),
                          namesOf(files.firstNames, files.count));
    };
    add(changes.added, "was added", "were added");
    add(changes.removed, "was removed", "were removed");
    add(changes.changed, "changed", "changed");
    if (parts.size() <= 1) return parts.join(QString());
    const QString last = parts.takeLast();
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

QString changedText(const VerificationStanding& standing) {
    if (standing.changes.total() > 0)
        return QStringLiteral("CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: %1. Scan it "
                              "again before erasing.")
            .arg(changesText(standing.changes));
    return QStringLiteral("CHANGED SINCE THE SCAN \u2014 your last scan can't vouch for what this card holds now. "
                          "Scan it again before erasing.");
}

QString remountedText() {
    return QStringLiteral("This card was removed or mounted again since you picked it \u2014 pick it again");
}

QString erasedText() {
    return QStringLiteral("ERASED SINCE THE SCAN \u2014 this card was erased after your last scan, so that scan no "
                          "longer tells what is on it. Scan it again before relying on it.");
}

QString checkingText(const VerificationStanding& standing) {
    if (standing.files > 0)
        return QStringLiteral("Checking the card's files against the scan\u2026 %1 of %2")
            .arg(Formats::groupedInteger(standing.count), Formats::groupedInteger(standing.files));
    return QStringLiteral("Checking the card against your last scan\u2026");
}

RunProgress runProgress(const QString& item, int filesDeleted, int filesPlanned, bool checking, int checkedDone,
                        int checkedTotal, bool stopping) {
    // A file made during the erase can take the deleted files past the planned ones.
    const int files = std::max(filesPlanned, filesDeleted);
    const QString ofFiles = QStringLiteral("%1 of %2").arg(Formats::groupedInteger(filesDeleted), fileCount(files));
    if (stopping) {
        const QString text = QStringLiteral("Stopping \u2014 the erase ends before the next file. What it hasn't "
                                            "reached stays on the card.");
        if (files == 0) return {text};
        return {text + QStringLiteral(" %1 deleted.").arg(ofFiles), filesDeleted, files};
    }
    if (!item.isEmpty() || files > 0) {
        const QString doing =
            item.isEmpty() ? QStringLiteral("Erasing\u2026") : QStringLiteral("Deleting %1\u2026").arg(item);
        if (files == 0) return {doing};
        return {doing + QStringLiteral(" ") + ofFiles, filesDeleted, files};
    }
    if (checking) {
        VerificationStanding read{VerificationStanding::Kind::checking, checkedDone};
        read.files = checkedTotal;
        return {checkingText(read), checkedTotal > 0 ? checkedDone : 0, checkedTotal};
    }
    return {QStringLiteral("Erasing\u2026")};
}

QString notVerifiedText(const VerificationStanding& standing) {
    if (standing.files > 0)
        return QStringLiteral("This card holds %1 your last scan didn't check (%2). Scan it again so you're not "
                              "erasing footage that was never backed up.")
            .arg(fileCount(standing.files), namesOf(standing.fileNames, standing.files));
    return QStringLiteral("This card hasn't been verified this session. Run a Scan first so you're not erasing "
                          "footage that was never backed up.");
}

QString stoppedText(int filesDeleted) {
    return QStringLiteral("Stopped early \u2014 %1 deleted before the stop. The rest are still on the card; it is "
                          "partially erased.")
        .arg(filesDeleted == 1 ? QStringLiteral("1 file was") : QStringLiteral("%1 files were").arg(Formats::groupedInteger(filesDeleted)));
}

QString stoppedUntouchedText() {
    return QStringLiteral("Stopped before the first delete \u2014 nothing was deleted; the card is as it was.");
}

QString keptText(const std::vector<std::string>& kept) {
    if (kept.empty()) return {};
    return QStringLiteral("%1 kept: changed during the erase: %2")
        .arg(fileCount(static_cast<int>(kept.size())), namesOf(kept));
}

QString locationMessage() {
    return QStringLiteral("That location can no longer be safely erased \u2014 reselect the card.");
}

QString notInsertedMessage() {
    return QStringLiteral("The card isn't inserted \u2014 nothing was erased. Insert it and check its scan before "
                          "erasing.");
}

QString swappedMessage() {
    return QStringLiteral(
        "The card in the reader is not the one you selected \u2014 it looks like it was swapped or remounted. "
        "Nothing was erased. Reselect the card and check its scan before erasing.");
}

QString changedMessage(const FileChanges& changes) {
    if (changes.total() == 0)
        return QStringLiteral(
            "The card has changed since it was scanned \u2014 nothing was erased. Scan it again before erasing.");
    return QStringLiteral(
               "The card has changed since it was scanned \u2014 %1. Nothing was erased. Scan it again before "
               "erasing.")
        .arg(changesText(changes));
}

QString selfProvenMessage(const std::vector<std::string>& files) {
    if (files.empty())
        return QStringLiteral(
            "Some clips are backed up only on this card itself \u2014 nothing was erased. Copy them to a drive "
            "and scan again before erasing.");
    return QStringLiteral(
               "%1 on this card %2 nowhere else (%3) \u2014 nothing was erased. Copy them to a drive and scan "
               "again before erasing.")
        .arg(fileCount(static_cast<int>(files.size())),
             files.size() == 1 ? QStringLiteral("exists") : QStringLiteral("exist"), namesOf(files));
}

}  // namespace brindlecove::EraseTexts
