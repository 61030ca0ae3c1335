#pragma once
// Chooses where one source file goes (internal to the copy engine): its own name, or the
// next "_N" name when that is taken, or no write at all when the file already there is
// proven identical. Only a separate regular file (not a link, not the source itself) of
// equal size whose XXH64, computed now, equals the source's counts as identical, and only
// while the source stayed unchanged (SourceIdentity) through the comparison. That file must
// be reached from the destination root without passing through a link at any step and lie
// on the destination volume (by its open descriptor), and it is digested through that
// descriptor: a folder of the destination that is a link to another drive, or another file
// system mounted inside the destination, never makes a card file "already present". Every
// error while probing a taken name just passes it over, but a numbered name too long for the
// destination ends the plan (unresolvable, suffixMakesNameTooLongText). Copies in progress
// sit under hidden temporary names, so every file it finds under a final name is a proven
// copy or the user's own. Runs on the caller's thread.
//
// The source's identity. It is opened at its first comparison and held open to the plan's
// end, digested through that descriptor, so the kernel cannot forget it (and a FAT, exFAT or
// FUSE card give it a new number) while a big file on the drive is read. Where the card
// numbers files afresh (CardFileComparison::keepsInodeNumbers) a path that gives another
// number all the same is judged as the erase judges a card file: still the file compared
// when its size and times are unchanged and its bytes, read again, give the digest
// compared. On file systems that keep numbers another number is another file.

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace tessaline {

struct DestinationPlan {
    // stopped: the run's stop test answered true while a taken name's file was compared.
    enum class Kind { copy, skip, unresolvable, stopped };
    Kind kind = Kind::unresolvable;
    std::filesystem::path url;   // copy: where to create the file; skip: the identical file
    std::string relativeName;    // copy: the name below the destination root
    std::string sourceHash;      // skip only
    std::string destinationHash; // skip only
    std::optional<SourceIdentity> sourceIdentity;  // skip only: the source as it was compared
    UniqueFd sourcePin;  // skip only: pinWhereRenumbered of the source as it was compared
    std::string reason;          // unresolvable only
    int attempt = 0;             // the suffix number chosen (0: the plain name)
};

class DestinationPlanner {
public:
    static constexpr int maxAttempts = 1000;

    // `usedFlatNames` (lower-cased) lives for one run and is shared by its plans.
    // `isStopped` (may be empty) is asked between the chunks of every comparison.
    DestinationPlanner(CopyFileIO& io, std::filesystem::path root, const CopyEngine::Options& options,
                       std::set<std::string>& usedFlatNames, std::function<bool()> isStopped = {});

    // Tries the names from `firstAttempt` on. `volume` is the run's destination volume: only a
    // file on it can be already present. `sourceHash`, when known (the digest of the bytes
    // copied, when the final name was taken after planning), is used instead of reading the
    // source again.
    DestinationPlan plan(const std::filesystem::path& source, const std::string& relativePath, const VolumePin& volume,
                         int firstAttempt = 0, std::optional<std::string> sourceHash = std::nullopt);

    // The reason a name taken by another file cannot move on to its numbered names: `name`
    // (its last component is named) with "_<attempt>" added is longer than the destination's
    // file system allows. "Couldn't create destination file: the name “C0001.MP4” is taken on
    // the destination by a different file, and with “_1” added it is too long for the
    // destination's file system."
    static std::string suffixMakesNameTooLongText(const std::string& name, int attempt);

    // Called (when set) each time a plan compares a file already at a name with the source:
    // first before either is read, with (0, the bytes the comparison reads: the source's size,
    // unless its digest is known, plus the drive file's), then after every read.
    using ComparingHandler = std::function<void(int64_t bytesRead, int64_t bytesToRead)>;
    void setComparingHandler(ComparingHandler handler) { onComparing_ = std::move(handler); }

private:
    ComparingHandler onComparing_;
    CopyFileIO& io_;
    std::filesystem::path root_;
    CopyEngine::Options options_;
    std::set<std::string>& usedFlatNames_;
    std::function<bool()> isStopped_;
};

}  // namespace tessaline
