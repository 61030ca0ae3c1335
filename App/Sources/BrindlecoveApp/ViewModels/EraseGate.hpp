#pragma once
// The erase-safety gate's rules as pure functions: what the last scan says about erasing the
// card in the reader now. The view model feeds them the report, the card folder, the identity
// read from the volume a moment ago and the card's files as last counted; the erase worker
// feeds them fresh facts again just before erasing. Any thread; no state.
//
// The rule: the card is safe to erase only when every file the erase would delete (the card's
// CardFileSet: every file but OS litter and what lies in the spared system folders) is, as it
// is now, the file the report recorded and proved on a drive that is not the card.

#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"
#include "Tessaline/Volumes/VolumeIdentity.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindlecove {

// Files of one kind of change since the scan: how many, and the names of the first few
// (VerificationStanding::firstNamesShown, last path components, shown on one line).
struct NamedFiles {
    int count = 0;
    std::vector<std::string> firstNames;
    friend bool operator==(const NamedFiles&, const NamedFiles&) = default;
};

// What happened to the card's files since the scan recorded them, each kind counted and named.
struct FileChanges {
    NamedFiles added;    // on the card now, not recorded by the scan
    NamedFiles removed;  // recorded by the scan, gone from the card
    NamedFiles changed;  // recorded and still there, but not as recorded (or never checked)
    int total() const { return added.count + removed.count + changed.count; }
    friend bool operator==(const FileChanges&, const FileChanges&) = default;
};

// What the last scan says about erasing the picked card.
struct VerificationStanding {
    enum class Kind {
        safe,           // count: clips, every one proven on a drive that is not this card
        missing,        // count: clips that exist only on this card (proven nowhere else)
        mismatch,       // count: clips with a same-named but different drive file
        notFullyRead,   // count: card folders the scan could not read
        notVerified,    // no usable scan of this card (none, another folder, no media, changed since)
        differentCard,  // the scan was of this folder, but this volume cannot be shown to be the scanned one
        otherFilesOnlyOnCard,  // count: files that are no clip's, proven nowhere but on this card
        notInserted,    // no volume is mounted at the picked folder now (the card was ejected)
        // files: the card's files added, removed or rewritten since the report recorded them;
        // none counted: the report recorded none (made before records were kept, or by hand)
        changedSinceScan,
        // an erase was started on the report and the card holds nothing the erase did not
        // leave: the report no longer tells what is on the card
        erasedSinceScan,
        // the volume at the card folder is not the mount that was picked (the card was
        // removed and mounted again, or another card put in its place): it is to be picked again
        remounted,
        // no verdict yet: the card is being counted, or its files read again, for a report of
        // it; count: files read so far, files: files to read (0 while not known). Set by the
        // view model, never by standing() below.
        checking,
    };
    Kind kind = Kind::notVerified;
    int count = 0;
    // The files behind the verdict besides clips: for missing and otherFilesOnlyOnCard the
    // other files only on this card, for changedSinceScan the files added, removed or changed
    // since the scan; their number and the names of the first few (firstNamesShown).
    int files = 0;
    std::vector<std::string> fileNames;
    // For changedSinceScan: those files by what happened to them.
    FileChanges changes;
    static constexpr int firstNamesShown = 3;

    bool isSafe() const { return kind == Kind::safe; }
    friend bool operator==(const VerificationStanding&, const VerificationStanding&) = default;
};

using CardFiles = std::vector<tessaline::CardFileRecord>;

namespace EraseGate {

// The folder as the gate compares it: absolute, lexically normal, no trailing "/".
std::filesystem::path standardised(const std::filesystem::path& folder);

// The files of `files` the report does not vouch for, by path relative to the card root, in
// path order. A file is vouched for when it is, by that path and its byte size, a primary file
// of one of the report's clips or one of its other files, or, by that path, a sidecar of one
// of its clips.
std::vector<std::string> unvouchedFiles(const tessaline::VerificationReport& report, const CardFiles& files);

// The card's files by what happened to them since the scan; relative paths in path order.
struct CardChanges {
    std::vector<std::string> added;    // on the card now, not recorded by the report
    std::vector<std::string> removed;  // recorded by the report, not on the card now
    std::vector<std::string> changed;  // recorded and on the card, but not as recorded or not vouched for
    bool none() const { return added.empty() && removed.empty() && changed.empty(); }
    // Every path of the three, in path order.
    std::vector<std::string> all() const;
    friend bool operator==(const CardChanges&, const CardChanges&) = default;
};

// The card's files (`files`, as walked now through the mount `filesMount`) that are not, as
// they are now, what the report recorded or vouches for: added or removed since the scan;
// grown, shrunk or rewritten since, replaced by another file (another inode number, compared
// only when the walk went through the report's mount, CardFileSet::sameMount; where the
// card's file system renumbers files, a file whose number alone differs counts as changed
// until its bytes were read again and gave its recorded digest, CardFileComparison), or
// never checked by it (changed). nullopt when the report recorded no files.
std::optional<CardChanges> changesSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                                            const std::optional<tessaline::CardFileMount>& filesMount);

// The changes counted, each kind with the names of its first few files.
FileChanges named(const CardChanges& changes);

// The card's files (as walked now through `filesMount`) that the report recorded under
// another inode number on a file system that renumbers files (FAT, exFAT, FUSE), not read
// again yet: their bytes are to decide (CardFileComparison::readAgain). Relative paths in
// path order; none when the report recorded no files.
std::vector<std::string> renumberedSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                                             const std::optional<tessaline::CardFileMount>& filesMount);

// Tells whether a proving location lies on the card itself (the card's own device).
using OnCardTest = std::function<bool(const std::filesystem::path& location)>;

// The card's files (`files`, as walked now through `filesMount`) that an erase started on the
// report did not leave behind: every file not recorded by the report exactly as it is now,
// added or changed after the scan as changesSinceScan judges it (the files the erase removed
// count as none). Without records, every file counts as added.
CardChanges addedSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                           const std::optional<tessaline::CardFileMount>& filesMount);

// The number of clips the report counts as backed up (confirmed or possible duplicate) whose
// every proving location is on the card: at or below `cardRoot` by path, or on the card by
// `onCard` (links and bind mounts). Such a clip is not backed up at all.
int selfProvenClips(const tessaline::VerificationReport& report, const std::filesystem::path& cardRoot,
                    const OnCardTest& onCard);

// The report's other files that exist only on the card, by name in path order: proven on no
// drive, or proven only by a copy on the card (at or below `cardRoot`, or on it by `onCard`).
std::vector<std::string> otherFilesOnlyOnCard(const tessaline::VerificationReport& report,
                                              const std::filesystem::path& cardRoot, const OnCardTest& onCard);

struct Inputs {
    const tessaline::VerificationReport* report = nullptr;   // the last scan's report, if any
    std::optional<std::filesystem::path> card;               // the picked card folder, if any
    std::optional<tessaline::VolumeIdentity> identityNow;    // read from the card's volume just now
    const CardFiles* files = nullptr;                        // the card's files as last counted, if known
    std::optional<tessaline::CardFileMount> filesMount;      // the mount they were walked through, if known
    // Whether the card was counted but not every folder of it could be read: what it holds
    // then cannot be compared with the records.
    bool filesUnreadable = false;
    // selfProvenClips() of the report; asked only once the report is known to be of this card.
    std::function<int()> selfProven;
    // otherFilesOnlyOnCard() of the report, asked likewise; without it, otherFilesOnlyOnCard()
    // with no test of the card's device.
    std::function<std::vector<std::string>()> otherFilesOnlyOnCard;
    // Whether a volume is mounted at the card folder now.
    bool cardMounted = true;
    // Whether an erase of the card was started on this report: the report then vouches for
    // nothing on it, whatever the card holds now.
    bool erasedSinceScan = false;
    // Whether the volume at the card folder is the very mount that was picked (a remount, or
    // another card put in, is not).
    bool pickedMount = true;
};

// The standing, first rule that decides: no card: notVerified; no volume mounted at the card
// folder: notInserted; another mount than the picked one: remounted; no report, or a report
// of another folder: notVerified; no identity in the report or none readable now, or the two
// do not match: differentCard; an erase started on the report: erasedSinceScan, or
// changedSinceScan naming the files added or changed since (addedSinceScan) or when the card
// could not be read completely; then the report's
// verdict with the self-proven clips counted as missing and the other files only on the card
// named (a safe verdict, or a report without clips, with any becomes otherFilesOnlyOnCard);
// a report without clips and nothing only on the card: notVerified; and a safe or mismatch verdict
// becomes changedSinceScan when the report recorded no files (safe only), when the card's files
// (when known) differ from the records or could not all be read, naming them by what happened
// to them (changesSinceScan).
VerificationStanding standing(const Inputs& inputs);

}  // namespace EraseGate

}  // namespace brindlecove
