#pragma once
// The state of one MatchVerifier proof run: the drive files by size (DriveBuckets), the
// digests already taken, keyed by each file's identity and version at the time of a fresh
// stat (so a card file proven against several drive files, and a drive file serving several
// card files, is read once), the bytes read so far against the run's bound, and where the
// card's files were found copied (CopyLeads: the copy roots, and the drive folders where each
// card folder's files were proven).
//
// Where a card file's copy is looked for, in order: the likeliest candidate with its name
// (ASCII case ignored: at a copy root plus its place on the card, beside its card folder's
// copies, sharing more of its place, dated plausibly, nearest in time), then the one nearest
// in time (the likely copies, likelyCopy()); then, in fullSearch() only, the drive files
// already read that hold its digest, the candidates in its folder below each copy root and in
// the drive folders where other files of its card folder were proven, the other same-named
// ones in that order of likelihood, and the rest of its candidates (drive files of its
// fingerprint, never merely of its size), each drive file read at most once per run. Reads
// beyond the likely copies stop at the bound, and those on a weak lead (the other same-named
// files, the rest of a long candidate list, read likeliest first: below a copy root, beside
// proven copies, newest) at a smaller one: a card file whose search was cut there is noted
// with the number of its candidates never read (UnreadCandidates).
//
// Every byte counts against the bound once read, whoever reads it: the files the hashing
// pool (ProofHashPool) reads ahead count from the moment they are queued, whether or not the
// proof then takes their digests.
//
// The verifying thread only; files may be hashed ahead on a few threads of the run's own
// (ProofHashPool), which only ever saves work.

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Matcher/CopyLeads.hpp"
#include "Tessaline/Matcher/DriveBuckets.hpp"
#include "Tessaline/Matcher/FingerprintKey.hpp"
#include "Tessaline/Matcher/MatchResult.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/ProofHashPool.hpp"
#include "Tessaline/Matcher/UncountedCopy.hpp"
#include "Tessaline/Matcher/UnreadCandidates.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tessaline {

// The limits and lookups of one proof run (every one defaulted for proofs by given paths
// only): `readLimit` the bytes the run may read in all, past which only the likely copies are
// read; `blindLimit` the bytes it may read on a weak lead (the other same-named files, the rest
// of a long candidate list, where a copy is found by chance if at all); `tolerance` the
// matcher's capture-time tolerance, for the candidates of a clip's other members; `cardSizes`
// the sizes of every card file whose copy may be searched for; `copyRoots` copy roots found
// before the run (CopyLeads).
struct ProofLimits {
    int64_t readLimit = std::numeric_limits<int64_t>::max();
    int64_t blindLimit = std::numeric_limits<int64_t>::max();
    double tolerance = 5.0;
    std::vector<int64_t> cardSizes;
    std::vector<std::string> copyRoots;
};

class ProofSession {
public:
    using Index = DriveBuckets::Index;
    // A candidate list of at most this many is the matcher's own lead for a card file: each is
    // worth reading within the bound, and a possible duplicate keeps every one that proves.
    static constexpr size_t fewCandidates = 8;

    ProofSession(const ChecksumEngine& checksum, const std::optional<std::filesystem::path>& cardRoot,
                 const std::vector<Fingerprint>& drives, const MatchVerifier::CancelTest& isCancelled,
                 int poolThreads = ProofHashPool::defaultThreadCount(), ProofLimits limits = {});

    // The caller's test, asked on this thread only; a stop also stops the hashing pool.
    bool cancelled();

    // Whether `drive` holds the same bytes as `card`, with up to three attempts when a file
    // cannot be opened or read (sleeping 0.2 s, then 0.4 s). Sizes, digests and self-proof
    // fail at once. `driveDigest`, when given, gets the drive file's digest when it was read.
    bool prove(const std::filesystem::path& card, const std::filesystem::path& drive,
               std::optional<uint64_t>* driveDigest = nullptr);

    // A card file and where its copy may be: `list` its candidates (drive numbers, ascending);
    // with `key`, the candidates are the files of `list` that fit it (a clip's other member,
    // whose list is every drive file of its size); `nearest` the candidate nearest in time.
    struct CardFile {
        const Fingerprint& file;
        std::span<const Index> list;
        std::optional<FingerprintKey> key;
        std::optional<size_t> nearest;
    };
    // The card file `member` of a clip with its candidates by fingerprint.
    CardFile memberFile(const Fingerprint& member);

    // The first of the likely copies (same name, then nearest in time) that proves; at most
    // two drive files are read.
    std::optional<size_t> likelyCopy(const CardFile& card);
    // The first candidate that proves, searched in the full order within the bound. When none
    // proves and candidates were left unread, the file is noted (unread()).
    std::optional<size_t> fullSearch(const CardFile& card);
    // The candidates other than `found` that prove as well, for a possible duplicate of a few
    // candidates, within the bound; in drive order with `found`.
    std::vector<size_t> allCopies(const CardFile& card, size_t found);

    // Queues the likely copy of `card` and the card file itself on the hashing pool.
    void readAhead(const CardFile& card);
    // Queues the files a claim's proof will read (the results' own locations, sizes agreeing).
    void readAhead(const MatchResult& result);

    // Each card file proven in this run, once, with its digest and the state it was read in.
    const std::vector<CardFileDigest>& provenCardFiles() const { return proven_; }
    void keepProvenCardFiles() { keepProven_ = true; }
    // The drive files not counted for where they lie, each once, in the order first tried.
    const std::vector<UncountedCopy>& uncounted() const { return uncounted_; }
    // The card files whose search stopped at the bound, in the order noted.
    const std::vector<UnreadCandidates>& unread() const { return unread_; }
    // Bytes read so far: hashed on this thread, and queued on the hashing pool (card and drive
    // files, each version once unless it changed between two reads).
    int64_t bytesRead() const { return read_ + (pool_ ? pool_->bytesClaimed() : 0); }
    // The copy roots found (and given), likeliest first.
    std::vector<std::string> copyRoots() const { return leads_.roots(); }

    // Names as not counted those of the drive files the matcher passed over (lying in the card's
    // own file system) that lie on another device than the card root: a second mount of the
    // card's device, not the card's own mount reached again. One stat each.
    void notePassedOver(std::span<const Index> passedOver);

    const std::vector<Fingerprint>& drives() const { return drives_; }

private:
    using Version = std::tuple<dev_t, ino_t, off_t, time_t, long>;
    struct VersionHash {
        size_t operator()(const Version& v) const;
    };
    struct SizeDigestHash {
        size_t operator()(const std::pair<int64_t, uint64_t>& k) const;
    };

    bool isSelf(const struct stat& card, const struct stat& drive, const std::filesystem::path& drivePath);
    bool doubted(dev_t cardDevice, dev_t driveDevice, const std::filesystem::path& drivePath);
    static Version versionOf(const struct stat& st);
    void prefetch(const std::filesystem::path& file, const struct stat& st, bool urgent);
    void noteProven(const std::filesystem::path& card, const struct stat& st, const std::string& hex);
    std::optional<uint64_t> lookupDigest(const std::filesystem::path& file);
    std::string digest(const std::filesystem::path& file, const struct stat& st);

    bool contains(const CardFile& card, size_t i) const;
    // How likely drive file `i` is the copy of a card file, compared as a tuple (smaller is
    // likelier): the copy root it lies at (rootCount() when none), beside proven copies (0 of
    // its card folder's, 1 of any card file's, 2 neither), components of its place not shared,
    // its date's doubt (CopyLeads::timeDoubt), its distance in time, its drive number.
    using Likelihood = std::tuple<size_t, int, size_t, int, double, size_t>;
    struct CardLeads {
        CopyLeads::Place place;
        std::string folder;  // the card folder, as spelt on the card
        std::optional<double> modified;
    };
    CardLeads leadsOf(const CardFile& card) const;
    Likelihood likelihood(const CardFile& card, const CardLeads& leads, size_t i);
    std::optional<double> modifiedOf(size_t i);
    // The candidates of `named` that fit the card file and are not read yet, likeliest first.
    std::vector<Index> byLikelihood(const CardFile& card, std::span<const Index> named);
    // `list` (a long candidate list) in the order its weak leads are read: below a copy root,
    // then beside proven copies, then the newest first; made again once the leads grew.
    std::span<const Index> weakOrder(std::span<const Index> list);
    std::optional<size_t> bestNamed(const CardFile& card);
    std::optional<size_t> nearestFitting(const Fingerprint& file, const FingerprintKey& key);
    int64_t spent() const { return bytesRead(); }
    bool affordable(size_t i) const;
    // Whether drive file `i` fits in the weak-lead bound (queued or read on it already, or not).
    bool blindAffordable(size_t i) const;
    void chargeBlind(size_t i);
    // Proves `card` against drive file `i`, marking `i` read and its digest known.
    bool tryAt(const CardFile& card, size_t i);
    void noteCopy(const CardFile& card, size_t i);
    int64_t unreadCount(const CardFile& card);

    const ChecksumEngine& checksum_;
    const std::vector<Fingerprint>& drives_;
    const MatchVerifier::CancelTest& isCancelled_;
    std::optional<std::filesystem::path> cardRoot_;
    std::optional<FileSystemPlaces> places_;     // with a card root only
    std::optional<FileSystemPlace> cardPlace_;  // found only with places_
    ProofGround ground_;
    std::vector<UncountedCopy> uncounted_;
    std::unordered_set<std::string> uncountedPaths_;
    DriveBuckets buckets_;
    double tolerance_;
    int64_t readLimit_;
    int64_t read_ = 0;
    int64_t blindLimit_;
    int64_t blindRead_ = 0;
    std::unordered_set<Index> charged_;                  // read or queued on a weak lead
    std::unordered_set<Index> queued_;                   // queued on the pool for a search
    std::vector<uint8_t> examined_;                      // per drive file: read, or ruled out
    size_t examinedCount_ = 0;
    // The drive files read, by (size, digest).
    std::unordered_map<std::pair<int64_t, uint64_t>, std::vector<Index>, SizeDigestHash> known_;
    CopyLeads leads_;
    // Card folder to the drive folders where its files were proven, each once; and every drive
    // folder where a card file was proven.
    std::unordered_map<std::string, std::vector<std::string>> provenFolders_;
    std::unordered_set<std::string> anyProvenFolders_;
    size_t leadCount_ = 0;  // grows with every root or proven folder found
    std::unordered_map<Index, std::optional<double>> modified_;
    // Per long candidate list: its weak-lead order, the lead count it was made for, and where
    // its first drive file not yet read may lie.
    struct WeakOrder {
        size_t leads = 0;
        std::vector<Index> order;
        size_t cursor = 0;
    };
    std::unordered_map<const Index*, WeakOrder> weakOrders_;
    std::unordered_map<const Index*, std::pair<size_t, int64_t>> unreadCounts_;  // (examinedCount_, count)
    std::vector<UnreadCandidates> unread_;
    // Each version hashed in this run, by its digest's value.
    std::unordered_map<Version, uint64_t, VersionHash> digests_;
    bool keepProven_ = false;
    std::vector<CardFileDigest> proven_;
    std::unordered_set<std::string> provenPaths_;
    // None: every file is read on the proving thread. Last: its threads stop before the members
    // they read go.
    std::unique_ptr<ProofHashPool> pool_;
};

}  // namespace tessaline
