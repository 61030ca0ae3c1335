#pragma once
// The Erase Card sentences that count and name files: the STOP text for files that exist only
// on the card, the not-verified text for files the last scan did not check, and the pieces the
// erase refusals share. Plain decimal numbers; names shown as valid UTF-8. Any thread.

#include "BrindlecoveApp/ViewModels/EraseGate.hpp"

#include <QString>

#include <string>
#include <vector>

namespace brindlecove::EraseTexts {

// "1 file", "3 files".
QString fileCount(int count);

// The first names (at most VerificationStanding::firstNamesShown, by last path component) of
// `files`, joined by ", ", with " and <n> more" when there are more: "A.XML, B.TXT and 2 more".
QString namesOf(const std::vector<std::string>& files);
// The same from names already cut to the first few, out of `total`.
QString namesOf(const std::vector<std::string>& firstNames, int total);

// The banner of a missing or otherFilesOnlyOnCard standing:
// "STOP — your last scan found 3 clips that exist ONLY on this card. …", with the other files
// counted and named when there are any.
QString stopText(const VerificationStanding& standing);

// What happened to the card's files since the scan, each kind that happened counted and
// named: "1 file was added (IMG_0326.JPG), 2 files were removed (A.JPG, B.JPG) and 1 file
// changed (NOTES.TXT)"; "" when nothing did.
QString changesText(const FileChanges& changes);

// The banner of a changedSinceScan standing: what happened to which files since the scan, or,
// when the report recorded none, that the scan cannot vouch for the card as it is now.
QString changedText(const VerificationStanding& standing);

// The banner of a remounted standing: the card in the reader is not the mount that was
// picked, so it is to be picked again.
QString remountedText();

// The banner of an erasedSinceScan standing: the card was erased after the last scan, which
// no longer tells what it holds.
QString erasedText();

// The banner of a checking standing: the card is being judged against the last scan, with how
// many of its files were read again of how many when known.
QString checkingText(const VerificationStanding& standing);

// What a running erase says under its progress bar, and the count the bar shows: the count
// the text gives (`total` 0 when it gives none; the bar then only shows that work goes on).
struct RunProgress {
    QString text;
    int done = 0;
    int total = 0;
    friend bool operator==(const RunProgress&, const RunProgress&) = default;
};
// The erase at `item` ("" before its first item) with `filesDeleted` of `filesPlanned`
// regular files deleted (0 planned: not measured yet); before it deletes anything,
// `checkedDone` of `checkedTotal` files read again against the scan (checkedTotal 0: not
// checking or not known); `stopping` once Stop was clicked.
RunProgress runProgress(const QString& item, int filesDeleted, int filesPlanned, bool checking, int checkedDone,
                        int checkedTotal, bool stopping);

// The banner of a notVerified standing: the plain text, or, when the card holds files the
// last scan did not check, how many and which.
QString notVerifiedText(const VerificationStanding& standing);

// The outcome of a stopped erase: that it stopped, the files it deleted, and that the rest
// are still on the card.
QString stoppedText(int filesDeleted);

// The outcome of an erase stopped before anything was removed: nothing deleted, no folder
// made, the card as it was.
QString stoppedUntouchedText();

// What an erase of vouched files kept (relative paths, CardPrepEngine::Summary::kept): "2 files
// kept: changed during the erase: LATE.MOV, NOTE.TXT"; "" when it kept nothing.
QString keptText(const std::vector<std::string>& kept);

// Why an erase did not start or was refused before anything was deleted: the location may no
// longer be erased; another volume is in the reader; the card was ejected; the card changed
// since its scan (with what happened to which files, when known), or holds files proven only
// on itself (with those files, when known: how many, and the first few by name).
QString locationMessage();
QString swappedMessage();
QString notInsertedMessage();
QString changedMessage(const FileChanges& changes = {});
QString selfProvenMessage(const std::vector<std::string>& files = {});

}  // namespace brindlecove::EraseTexts
