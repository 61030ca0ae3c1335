#pragma once
// The outcome of one scan: which card, against which drives, when, and what became of every
// clip after matching and byte proof. Derives the erase standing (the one verdict that decides
// whether the card may be wiped) and the typed lines of the text report, which are also the
// body of the PDF. Plain value; copies may be read on any thread; derived values recompute
// from the current fields on every call.

#include "Tessaline/Matcher/MatchResult.hpp"
#include "Tessaline/Matcher/OtherFile.hpp"
#include "Tessaline/Matcher/UncountedCopy.hpp"
#include "Tessaline/Matcher/UnreadCandidates.hpp"
#include "Tessaline/Scanner/CardFileMount.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Volumes/VolumeIdentity.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct VerificationReport {
    // One line of the text report; the kind chooses its colour and weight in the PDF.
    struct Line {
        enum class Kind { plain, good, bad, warn, info };
        std::string text;  // valid UTF-8, no line break of its own
        Kind kind = Kind::plain;
        // Byte offset in `text` where the name or path the line shows begins, after its label
        // or status word; 0 when it shows none. Where the line wraps, it continues under it.
        size_t nameOffset = 0;
        bool operator==(const Line&) const = default;
    };

    struct EraseStanding {
        enum class Kind {
            safe,                // count = number of clips
            hasMissing,          // count of missing clips of total
            hasContentMismatch,  // count of name mismatches of total
            cardNotFullyRead,    // count = folders of the card that could not be read
            noMedia,
            otherFilesOnlyOnCard,  // count = other files proven on no drive, total = number of clips
        };
        Kind kind = Kind::noMedia;
        int count = 0;
        int total = 0;
        bool operator==(const EraseStanding&) const = default;
    };

    // Stores the values. Without an identity, the identity of the volume holding cardPath is
    // read at once (and may itself be absent). `unreadableCardFolders` comes from the card's
    // scan: folders whose contents are unknown, so the card is never called safe.
    // `otherFiles`: the card's files beside the clips' footage, after their proof.
    // `cardFiles`: the records of every file an erase of the card deletes, as the scan found
    // them before proving them (none: a report made without them, which can vouch for no
    // erase). `uncountedCopies`: the drive files the proofs passed over for where they lie
    // (sorted by path, each once). `unreadCandidates`: the card files of missing clips, and
    // the other files only on the card, whose proof stopped at the bound on reading with
    // candidates unread (sorted by card file).
    VerificationReport(std::filesystem::path cardPath, std::vector<std::filesystem::path> drivePaths,
                       EpochSeconds generatedAt, std::vector<MatchResult> results,
                       std::optional<VolumeIdentity> cardVolumeIdentity = std::nullopt,
                       std::vector<std::filesystem::path> unreadableCardFolders = {},
                       std::vector<OtherFile> otherFiles = {},
                       std::optional<std::vector<CardFileRecord>> cardFiles = std::nullopt,
                       std::optional<CardFileMount> cardFilesMount = std::nullopt,
                       std::vector<UncountedCopy> uncountedCopies = {},
                       std::vector<UnreadCandidates> unreadCandidates = {});

    std::filesystem::path cardPath;
    std::vector<std::filesystem::path> drivePaths;  // scan order
    EpochSeconds generatedAt = 0;
    std::vector<MatchResult> results;  // the matcher's order, after verification
    std::optional<VolumeIdentity> cardVolumeIdentity;
    std::vector<std::filesystem::path> unreadableCardFolders;
    std::vector<OtherFile> otherFiles;  // sorted by path
    // Sorted by relative path. The erase gate compares the card with them: a file added,
    // removed or rewritten since makes the card not safe.
    std::optional<std::vector<CardFileRecord>> cardFiles;
    // The mount of the card the records were walked through: their inode numbers are
    // compared with a later walk's only through the same mount (CardFileSet::sameMount).
    std::optional<CardFileMount> cardFilesMount;
    // Named in the text report as not counted, with the reason; they change no standing (the
    // card files they stood for are proven elsewhere or left unproven already).
    std::vector<UncountedCopy> uncountedCopies;
    // Named in the text report under each missing clip or other file only on the card they
    // belong to, with the reason, and once with how to prove them; they change no standing
    // (their clips are missing and their other files unproven already).
    std::vector<UnreadCandidates> unreadCandidates;
    // The entry of `file` in unreadCandidates, or none.
    const UnreadCandidates* unreadOf(const std::filesystem::path& file) const;

    std::vector<MatchResult> confirmed() const;
    std::vector<MatchResult> missing() const;
    std::vector<MatchResult> duplicates() const;
    std::vector<MatchResult> nameMismatches() const;
    std::vector<MatchResult> alphabeticalResults() const;
    // The other files proven on no drive, in path order, and how many were proven.
    std::vector<OtherFile> otherFilesOnlyOnCard() const;
    int otherFilesConfirmedCount() const;
    // A card file's place below the card root as text ("PRIVATE/AVCHD/BDMV/INDEX.BDM"); the
    // whole path when it does not lie below it.
    std::string placeOnCard(const std::filesystem::path& file) const;

    // First rule that applies: any missing clip; any name mismatch; any unread card folder;
    // no clips; any other file only on the card; otherwise safe. Possible duplicates count as
    // backed up.
    EraseStanding eraseStanding() const;
    bool isSafeToErase() const { return eraseStanding().kind == EraseStanding::Kind::safe; }

    // The text report, titled "Brindlecove — Card Verification Report".
    std::vector<Line> summaryLines() const;
    // The lines' texts joined by "\n", without a final line break.
    std::string summary() const;
};

}  // namespace tessaline
