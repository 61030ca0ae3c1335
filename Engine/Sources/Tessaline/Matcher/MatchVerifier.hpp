#pragma once
// Turns the matcher's claims into proof: a claim stands only when the card file and the drive
// file have the same size on disk and the same XXH64, and every other file of a multi-file
// clip has a proven copy among the drive files of its own fingerprint. Anything unproven
// becomes missing, so nothing is called backed up on metadata alone. A call reads at most
// four times the bytes of the card files it proves, whatever the drives hold (ProofSession);
// calls given one ProofTally share that bound.
// Blocks its caller's thread (including retry sleeps of 0.2 s and 0.4 s); the callbacks run
// on that thread. Files are hashed on a few threads of the call's own (ProofHashPool): a
// drive copy while its card file is read, and the next claims' and members' likely copies
// ahead of their proofs; verdicts, progress, retries and their pauses are those of reading
// one file after another. No state between calls.

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Matcher/MatchClaims.hpp"
#include "Tessaline/Matcher/MatchResult.hpp"
#include "Tessaline/Matcher/OtherFile.hpp"
#include "Tessaline/Matcher/ProofTally.hpp"
#include "Tessaline/Matcher/UncountedCopy.hpp"
#include "Tessaline/Matcher/UnreadCandidates.hpp"
#include "Tessaline/Scanner/MediaFile.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tessaline {

// A card file the proof read and found copied: its XXH64 (16 lowercase hex digits) and the
// file's device, inode, size and modification time as they were when it was read.
struct CardFileDigest {
    std::filesystem::path url;
    std::string digest;
    dev_t device = 0;
    ino_t inode = 0;
    int64_t byteSize = 0;
    int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const CardFileDigest&) const = default;
};

class MatchVerifier {
public:
    using CancelTest = std::function<bool()>;
    using Progress = std::function<void(int done, int total)>;

    // Reads in the checksum engine's chunk size through its file opener. A drive file that is
    // the card file itself (same device and inode), lies at or below `cardRoot` (after
    // resolving links), or lies on the card's file system at or below the card root's place
    // in it (FileSystemPlace: a card folder reached through a bind mount, or the card reached
    // through one) never proves anything: a card must not be its own backup. Nor does a drive
    // file on an overlay or in a disk image stored on the card, or one whose backing cannot be
    // identified (ProofGround, judged once per device). Copies elsewhere on the card root's
    // file system, outside the card root, still prove.
    explicit MatchVerifier(ChecksumEngine checksum = ChecksumEngine(),
                           std::optional<std::filesystem::path> cardRoot = std::nullopt);

    // Returns the results in the same order with the same groups; confirmed and possible
    // duplicate claims are proven, the others pass unchanged. Every member of a clip of
    // several files is examined; one that is not proven as a whole names, in its
    // `membersProven`, the members that have a proven copy (when any has). progress(0, total)
    // comes first (total = confirmed + possible duplicates), then one call per examined claim. Once
    // isCancelled answers true, the claim in hand fails its proof and every later result
    // keeps the matcher's verdict (the caller discards a stopped run). Never throws on file
    // errors: a file that cannot be read is retried twice and then counts as unproven. The
    // other members of a clip are looked for among drive files of their own fingerprint, as
    // verify(claims) does, within the same bound.
    // `uncounted`, when given, gains the drive files of the card files' size not counted for
    // where they lie, and is left sorted with each path once (UncountedCopy::tidy).
    // `cardDigests`, when given, gains each card file proven, once (the first that proved it).
    std::vector<MatchResult> verify(const std::vector<MatchResult>& results, const std::vector<Fingerprint>& drives,
                                    const CancelTest& isCancelled, const Progress& progress = {},
                                    std::vector<UncountedCopy>* uncounted = nullptr,
                                    std::vector<CardFileDigest>* cardDigests = nullptr) const;

    // The same for the matcher's claims kept by drive-file numbers (Matcher::claim), which
    // also looks beyond the drive file the matcher chose. Each card file is proven where its
    // copy most likely is: the likeliest candidate with its name (ASCII case ignored; at a copy
    // root plus its place on the card first, CopyLeads), then the one nearest in time; a clip
    // not proven there waits until every other claim was proven and is then looked for among
    // the drive files already read, in its folder below each copy root and the drive folders
    // where its card folder's other files were proven, and among the rest of its candidates
    // (drive files of its fingerprint, never merely of its size), likeliest first, each drive
    // file read at most once per call. The whole call reads at most four times the bytes of
    // the card files it proves, whatever the drives hold, counting every file hashed ahead: a
    // clip whose search stopped there with candidates unread is missing, and `unread`, when
    // given, gains its files with the number of candidates never read, of its kind and of its
    // name (sorted by card file). With `tally`, the call's card bytes, reads and copy roots are
    // added to it, and the bound is four times all its card bytes less all its reads. Every member of a clip waiting for that search is looked for, each within
    // the same bound, so a clip not proven names its members with a proven copy in
    // `membersProven` as verify(results) does. A possible duplicate of a few candidates keeps
    // every one that proved; among more, the first copy found confirms it. After a stop, an
    // unexamined possible duplicate names only its first candidate (the caller discards a
    // stopped run). `uncounted` also gains the drive files the matcher passed over
    // (MatchClaims::passedOver) that lie on a second view of the card, whatever the verdicts.
    // A missing clip whose other members fit drive files (MatchClaims::Claim::membersOnDrives)
    // is examined as well, and counted in the progress: it stays missing, and its members
    // with a proven copy are named in `membersProven`, so the report and the rescue name the
    // files without one.
    std::vector<MatchResult> verify(const MatchClaims& claims, const CancelTest& isCancelled,
                                    const Progress& progress = {}, std::vector<UncountedCopy>* uncounted = nullptr,
                                    std::vector<CardFileDigest>* cardDigests = nullptr,
                                    std::vector<UnreadCandidates>* unread = nullptr, ProofTally* tally = nullptr) const;

    // Proves each card file of `files` (none proven yet) by a drive file of the same name,
    // ASCII case ignored, and the same size that holds the same bytes, with the same reads,
    // retries and self-proof guards as a clip; the candidates are tried likeliest first
    // (CopyLeads: at a copy root plus the file's place on the card, sharing more of that
    // place, not dated before the card file, then in `driveFiles` order). The call reads at
    // most four times the bytes of `files` (with `tally`, the bound shared with the clips'
    // proof, whose copy roots come first); a file left unproven with candidates unread is
    // added to `unread`, when given, with their number (sorted by card file). Returns the
    // files in the same order with `provenAt` set where proven. The proofs run on a few threads
    // of the call's own (these files are mostly small); isCancelled and progress are called on
    // the caller's thread only: progress(0, total) first, then one call per file proven or not.
    // Once isCancelled answers true, the files in hand and every later one stay unproven (the
    // caller discards a stopped run). `uncounted` as for verify(); `cardDigests`, when given,
    // gains each file proven (sorted by path).
    std::vector<OtherFile> verifyOtherFiles(std::vector<OtherFile> files, const std::vector<MediaFile>& driveFiles,
                                            const CancelTest& isCancelled, const Progress& progress = {},
                                            std::vector<UncountedCopy>* uncounted = nullptr,
                                            std::vector<CardFileDigest>* cardDigests = nullptr,
                                            std::vector<UnreadCandidates>* unread = nullptr,
                                            ProofTally* tally = nullptr) const;

private:
    ChecksumEngine checksum_;
    std::optional<std::filesystem::path> cardRoot_;
};

}  // namespace tessaline
