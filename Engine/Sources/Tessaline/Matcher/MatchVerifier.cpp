#include "Tessaline/Matcher/MatchVerifier.hpp"

#include "Tessaline/Matcher/ProofHashPool.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr int maxAttempts = 3;
// Claims whose files are hashed ahead of the proof in hand: enough to keep the pool's
// threads busy between proofs, few enough that little is read for a proof a stop skips.
constexpr size_t readAheadClaims = 2;
// Candidates up to this many are each proven in turn; among more, the card file's copies are
// looked up by digest among the drive files of its size, each of those hashed once per call.
// Measured reason: a card of thousands of same-size frames makes every frame a candidate of
// every other, and proving them pairwise grows with the square of the frames.
constexpr size_t directCandidates = 8;
// Files hashed ahead while the drive files of one size are hashed in turn.
constexpr size_t hashAhead = 4;
// Other files are mostly small (metadata, support files, notes): their proofs, opens and
// stats rather than reads, run side by side on one prover per hardware thread (2 to 8), each
// with a session of its own that reads both files itself (handing a small file to a hashing
// thread costs more than reading it).
constexpr int otherFileProverHashThreads = 0;
int otherFileProverCount() { return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 8); }

std::optional<fs::path> resolved(const fs::path& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return std::nullopt;
    return fs::path(buffer);
}

// The state of one verify() call: the drive files by size, and the digests already taken,
// keyed by the file's identity and version at the time of a fresh stat, so a card file
// proven against several drive files (and a drive file serving several burst members) is
// read once.
class ProofSession {
public:
    ProofSession(const ChecksumEngine& checksum, const std::optional<fs::path>& cardRoot,
                 const std::vector<Fingerprint>& drives, const MatchVerifier::CancelTest& isCancelled,
                 int poolThreads = ProofHashPool::defaultThreadCount())
        : checksum_(checksum),
          drives_(drives),
          isCancelled_(isCancelled),
          pool_(poolThreads > 0 ? std::make_unique<ProofHashPool>(checksum, poolThreads) : nullptr) {
        if (cardRoot) {
            auto real = resolved(*cardRoot);
            cardRoot_ = real.value_or(normalizedPath(*cardRoot));
            if (real) cardPlace_ = places_.emplace().ofCanonical(*real);
        }
        for (size_t i = 0; i < drives.size(); ++i) driveBySize_[drives[i].byteSize].push_back(i);
    }

    // The caller's test, asked on this thread only; a stop also stops the hashing pool.
    bool cancelled() {
        const bool stop = isCancelled_ && isCancelled_();
        if (stop && pool_) pool_->stop();
        return stop;
    }

    // Whether `drive` holds the same bytes as `card`, with up to three attempts when a file
    // cannot be opened or read (sleeping 0.2 s, then 0.4 s). Sizes, digests and self-proof
    // fail at once.
    bool prove(const fs::path& card, const fs::path& drive) {
        for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
            struct stat cardStat {}, driveStat {};
            const bool cardKnown = ::stat(card.c_str(), &cardStat) == 0;
            const bool driveKnown = ::stat(drive.c_str(), &driveStat) == 0;
            const int64_t cardSize = cardKnown ? static_cast<int64_t>(cardStat.st_size) : -1;
            const int64_t driveSize = driveKnown ? static_cast<int64_t>(driveStat.st_size) : -2;
            if (cardSize != driveSize) return false;
            if (isSelf(cardStat, driveStat, drive)) return false;
            try {
                prefetch(drive, driveStat, true);  // hashed while this thread reads the card file
                std::string cardDigest = digest(card, cardStat);
                std::string driveDigest = digest(drive, driveStat);
                if (cardDigest != driveDigest) return false;
                noteProven(card, cardStat, cardDigest);
                return true;
            } catch (const ChecksumCancelledError&) {
                return false;
            } catch (const std::exception&) {
                if (attempt == maxAttempts) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
            }
        }
        return false;
    }

    // Queues the files a claim's proof will read, so they are hashed before it is reached.
    void readAhead(const MatchResult& result) {
        if (!pool_ || result.group.primaryFiles.empty()) return;
        const MatchStatus& status = result.status;
        if (status.kind() != MatchStatus::Kind::confirmed && status.kind() != MatchStatus::Kind::possibleDuplicate)
            return;
        // Only what prove() will read: files whose sizes agree.
        const fs::path& card = result.group.primaryFiles.front().url;
        struct stat cardStat {};
        if (::stat(card.c_str(), &cardStat) != 0) return;
        std::vector<fs::path> locations;
        for (size_t k = 0; k < status.locations().size() && k < directCandidates; ++k)
            locations.push_back(status.locations()[k]);
        readAhead(result.group, cardStat, locations);
    }

    // The same for a claim kept by drive-file numbers.
    void readAhead(const MatchClaims& claims, size_t g) {
        const MatchClaims::Claim& claim = claims.claim(g);
        const ClipGroup& group = claims.group(g);
        if (!pool_ || group.primaryFiles.empty()) return;
        if (claim.kind != MatchStatus::Kind::confirmed && claim.kind != MatchStatus::Kind::possibleDuplicate) return;
        struct stat cardStat {};
        if (::stat(group.primaryFiles.front().url.c_str(), &cardStat) != 0) return;
        std::vector<fs::path> locations;
        if (claim.kind == MatchStatus::Kind::confirmed)
            locations.push_back(drives_[claim.drive].url);
        else if (const auto candidates = claims.candidates(g); candidates.size() <= directCandidates)
            for (MatchClaims::Index i : candidates) locations.push_back(drives_[i].url);
        readAhead(group, cardStat, locations);
    }

    // For each member of `group`, whether it has a proven copy: the first as `firstProven`
    // says, every other one among the same-size drive files (by fingerprint size, in drive
    // order; any folder of any drive), the first that proves. Every member is examined, so a
    // clip that is not proven can name the files at fault; a stop leaves the rest unproven.
    std::vector<bool> memberProof(const ClipGroup& group, bool firstProven) {
        const auto& members = group.primaryFiles;
        std::vector<bool> proven(members.size(), false);
        if (!proven.empty()) proven[0] = firstProven;
        for (size_t m = 1; m < members.size(); ++m) {
            if (cancelled()) break;
            // The next members' card files are hashed while this one is proven.
            for (size_t ahead = m + 1; ahead < members.size() && ahead <= m + hashAhead; ++ahead)
                if (struct stat st {}; ::stat(members[ahead].url.c_str(), &st) == 0) prefetch(members[ahead].url, st, false);
            auto it = driveBySize_.find(members[m].byteSize);
            if (it == driveBySize_.end()) continue;
            proven[m] = firstCopy(members[m], it->second, noIndex, false).has_value();
        }
        return proven;
    }

    // The drive files among `candidates` (drive numbers, ascending) holding `card`'s bytes, in
    // drive order: each proven in turn when they are few, else those whose digest equals the
    // card file's among the drive files of its size, then proven.
    std::vector<size_t> copiesAmong(const Fingerprint& card, std::span<const MatchClaims::Index> candidates) {
        std::vector<size_t> proven;
        for (size_t i : lookedUp(card, candidates, noIndex))
            if (prove(card.url, drives_[i].url)) proven.push_back(i);
        return proven;
    }

    // The first of `candidates` (drive numbers, ascending), other than `except`, that proves
    // `card`'s bytes; with `sameNameFirst` those of the card file's name (ASCII case ignored)
    // are tried first, the others in drive order. None when none proves.
    template <typename Candidates>
    std::optional<size_t> firstCopy(const Fingerprint& card, const Candidates& candidates, size_t except,
                                    bool sameNameFirst) {
        std::vector<size_t> order = lookedUp(card, candidates, except);
        if (sameNameFirst) {
            const std::string name = asciiLowercased(lastComponent(card.url));
            std::stable_partition(order.begin(), order.end(),
                                  [&](size_t i) { return asciiLowercased(lastComponent(drives_[i].url)) == name; });
        }
        for (size_t i : order) {
            if (cancelled()) return std::nullopt;
            if (prove(card.url, drives_[i].url)) return i;
        }
        return std::nullopt;
    }

    // Each card file proven in this call, once, with its digest and the state it was read in.
    const std::vector<CardFileDigest>& provenCardFiles() const { return proven_; }
    void keepProvenCardFiles() { keepProven_ = true; }

    // The drive files not counted for where they lie, each once, in the order first tried.
    const std::vector<UncountedCopy>& uncounted() const { return uncounted_; }

    // Names as not counted those of the drive files the matcher passed over (lying in the card's
    // own file system) that lie on another device than the card root: a second mount of the
    // card's device, not the card's own mount reached again. One stat each.
    void notePassedOver(std::span<const MatchClaims::Index> passedOver) {
        struct stat root {};
        if (passedOver.empty() || !cardRoot_ || ::stat(cardRoot_->c_str(), &root) != 0) return;
        for (MatchClaims::Index i : passedOver) {
            if (cancelled()) return;
            struct stat st {};
            if (::stat(drives_[i].url.c_str(), &st) == 0 && st.st_dev != root.st_dev)
                doubted(root.st_dev, st.st_dev, drives_[i].url);
        }
    }

private:
    using Version = std::tuple<dev_t, ino_t, off_t, time_t, long>;

    // The card file itself, a path at or below the card root, or a file whose place in its
    // file system lies at or below the card root's place: the card's own folder reached
    // through a bind mount (or the card reached through one) looks like any other folder by
    // path and inode; a file on an overlay or in a disk image on the card (ProofGround, judged
    // once per device). A file whose place cannot be found while the card's can is no proof.
    bool isSelf(const struct stat& card, const struct stat& drive, const fs::path& drivePath) {
        if (card.st_dev == drive.st_dev && card.st_ino == drive.st_ino) return true;
        if (doubted(card.st_dev, drive.st_dev, drivePath)) return true;
        if (!cardRoot_) return false;
        auto real = resolved(drivePath);
        // Both sides are in normal form already (realpath's, or normalizedPath's).
        if (isSameOrBelowNormalized(real ? real->native() : normalizedPath(drivePath).native(), cardRoot_->native()))
            return true;
        if (!cardPlace_) return false;
        auto place = real ? places_->ofCanonical(*real) : std::nullopt;
        return !place || place->isSameOrBelow(*cardPlace_);
    }

    // Whether the file system of the drive file `drivePath` may not hold copies of the card's
    // (ProofGround); such a file is named as not counted, once.
    bool doubted(dev_t cardDevice, dev_t driveDevice, const fs::path& drivePath) {
        const auto doubt = ground_.doubtOf(driveDevice, drivePath, cardDevice);
        if (doubt && uncountedPaths_.insert(drivePath.native()).second) uncounted_.push_back({drivePath, *doubt});
        return doubt.has_value();
    }

    static constexpr size_t noIndex = std::numeric_limits<size_t>::max();

    static Version versionOf(const struct stat& st) {
        return Version{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }

    // Queues `file` on the pool unless its digest (of the version `st` shows) is known.
    void prefetch(const fs::path& file, const struct stat& st, bool urgent) {
        if (pool_ && !digests_.count(versionOf(st))) pool_->prefetch(file, urgent);
    }

    void readAhead(const ClipGroup& group, const struct stat& cardStat, const std::vector<fs::path>& locations) {
        bool queuedCard = false;
        for (const fs::path& location : locations) {
            struct stat driveStat {};
            if (::stat(location.c_str(), &driveStat) != 0 || driveStat.st_size != cardStat.st_size) continue;
            if (!queuedCard) prefetch(group.primaryFiles.front().url, cardStat, false);
            queuedCard = true;
            prefetch(location, driveStat, false);
        }
        // The other members of a clip are proven against same-size drive files: the first
        // candidate of each is the one a good backup proves with. A few only: a burst's
        // member check reads ahead itself.
        if (!queuedCard) return;
        for (size_t m = 1; m < group.primaryFiles.size() && m <= hashAhead; ++m) {
            const Fingerprint& member = group.primaryFiles[m];
            auto it = driveBySize_.find(member.byteSize);
            if (it == driveBySize_.end() || it->second.size() > directCandidates) continue;
            pool_->prefetch(member.url);
            pool_->prefetch(drives_[it->second.front()].url);
        }
    }

    void noteProven(const fs::path& card, const struct stat& st, const std::string& hex) {
        if (!keepProven_ || !provenPaths_.insert(card.native()).second) return;
        proven_.push_back({card, hex, st.st_dev, st.st_ino, static_cast<int64_t>(st.st_size), st.st_mtim.tv_sec,
                           st.st_mtim.tv_nsec});
    }

    // The digest of `file` for a lookup, with the proof's attempts (an unreadable file is
    // tried three times, 0.2 s and 0.4 s apart); none when it cannot be read or was stopped.
    std::optional<uint64_t> lookupDigest(const fs::path& file) {
        for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
            struct stat st {};
            if (::stat(file.c_str(), &st) != 0) return std::nullopt;
            try {
                return hexValue(digest(file, st));
            } catch (const ChecksumCancelledError&) {
                return std::nullopt;
            } catch (const std::exception&) {
                if (attempt == maxAttempts) return std::nullopt;
                std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
            }
        }
        return std::nullopt;
    }

    static uint64_t hexValue(const std::string& hex) {
        uint64_t value = 0;
        std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
        return value;
    }

    // The drive files of `size` (by fingerprint) by digest, each hashed once for the call,
    // sorted by (digest, drive number). Not kept when stopped part way.
    const std::vector<std::pair<uint64_t, size_t>>& digestsOfSize(int64_t size) {
        if (auto known = bySizeAndDigest_.find(size); known != bySizeAndDigest_.end()) return known->second;
        std::vector<std::pair<uint64_t, size_t>> found;
        const std::vector<size_t>& files = driveBySize_[size];
        for (size_t k = 0; k < files.size(); ++k) {
            if (cancelled()) return noDigests_;
            for (size_t ahead = k + 1; pool_ && ahead < files.size() && ahead <= k + hashAhead; ++ahead)
                if (struct stat st {}; ::stat(drives_[files[ahead]].url.c_str(), &st) == 0)
                    prefetch(drives_[files[ahead]].url, st, false);
            if (auto value = lookupDigest(drives_[files[k]].url)) found.emplace_back(*value, files[k]);
        }
        if (cancelled()) return noDigests_;
        std::sort(found.begin(), found.end());
        return bySizeAndDigest_.emplace(size, std::move(found)).first->second;
    }

    // The drive files of `candidates` (drive numbers, ascending) worth proving `card` against,
    // in drive order, without `except`: all of them when they are few, else those holding the
    // card file's digest.
    template <typename Candidates>
    std::vector<size_t> lookedUp(const Fingerprint& card, const Candidates& candidates, size_t except) {
        std::vector<size_t> order;
        if (candidates.size() <= directCandidates + (except != noIndex ? 1 : 0)) {
            for (size_t i : candidates)
                if (i != except) order.push_back(i);
            return order;
        }
        const auto value = lookupDigest(card.url);
        if (!value) return order;
        const auto& digests = digestsOfSize(card.byteSize);
        auto [from, to] = std::equal_range(digests.begin(), digests.end(), std::pair<uint64_t, size_t>{*value, 0},
                                           [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto at = from; at != to; ++at)
            if (at->second != except && std::binary_search(candidates.begin(), candidates.end(), at->second))
                order.push_back(at->second);
        return order;
    }

    std::string digest(const fs::path& file, const struct stat& st) {
        Version version = versionOf(st);
        auto it = digests_.find(version);
        if (it != digests_.end()) return hexText(it->second);
        const ChecksumEngine::CancelTest test = [this] { return cancelled(); };
        std::optional<ProofHashPool::Taken> taken = pool_ ? pool_->take(file, version, test) : std::nullopt;
        // The pool's read stands for this one: accepted only after the test a read would have
        // asked, and its error is this attempt's error.
        if (taken && cancelled()) throw ChecksumCancelledError();
        if (taken && taken->error) std::rethrow_exception(taken->error);
        std::string hex = taken ? std::move(taken->digest)
                                : checksum_.hash(file, false, isCancelled_ ? test : ChecksumEngine::CancelTest{}, {});
        digests_.emplace(version, hexValue(hex));
        return hex;
    }

    // The digest of a version hashed before, as its hex text.
    static std::string hexText(uint64_t value) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
        return text;
    }

    const ChecksumEngine& checksum_;
    const std::vector<Fingerprint>& drives_;
    const MatchVerifier::CancelTest& isCancelled_;
    std::optional<fs::path> cardRoot_;
    std::optional<FileSystemPlaces> places_;     // with a card root only
    std::optional<FileSystemPlace> cardPlace_;  // found only with places_
    ProofGround ground_;
    std::vector<UncountedCopy> uncounted_;
    std::unordered_set<std::string> uncountedPaths_;
    std::unordered_map<int64_t, std::vector<size_t>> driveBySize_;
    struct VersionHash {
        size_t operator()(const Version& v) const {
            const auto [device, inode, size, seconds, nanoseconds] = v;
            uint64_t h = uint64_t(device) * 0x9e3779b97f4a7c15ull ^ uint64_t(inode);
            h = (h ^ (h >> 29)) * 0xbf58476d1ce4e5b9ull ^ uint64_t(size) ^ (uint64_t(seconds) << 20) ^ uint64_t(nanoseconds);
            return size_t(h ^ (h >> 32));
        }
    };
    // Each version hashed in this call, by its digest's value (kept small: a sequence's every
    // card file and drive file is in it).
    std::unordered_map<Version, uint64_t, VersionHash> digests_;
    std::unordered_map<int64_t, std::vector<std::pair<uint64_t, size_t>>> bySizeAndDigest_;
    const std::vector<std::pair<uint64_t, size_t>> noDigests_;
    bool keepProven_ = false;
    std::vector<CardFileDigest> proven_;
    std::unordered_set<std::string> provenPaths_;
    // None: every file is read on the proving thread. Last: its threads stop before the members
    // they read go.
    std::unique_ptr<ProofHashPool> pool_;
};

// How many trailing path components `drive` shares with `tail` (a path relative to the card
// root), at most all of the tail's.
size_t sharedTail(const fs::path& drive, const std::vector<std::string>& tail) {
    std::vector<std::string> parts;
    for (const auto& part : drive) parts.push_back(part.native());
    size_t shared = 0;
    while (shared < tail.size() && shared < parts.size() &&
           parts[parts.size() - 1 - shared] == tail[tail.size() - 1 - shared])
        ++shared;
    return shared;
}

// A proof's verdict on one claim, with its members' proof when the clip is not proven.
struct ClaimProof {
    MatchStatus status;
    std::vector<bool> members;
};

// The verdict from the drive files that proved the first member, in their order, and the
// members' proof: proven when every member is, else missing, naming the members proven when
// the clip has several and any of them is.
ClaimProof narrowed(std::vector<fs::path> proven, std::vector<bool> members) {
    const bool allMembers = std::find(members.begin(), members.end(), false) == members.end();
    if (allMembers && proven.size() == 1) return {MatchStatus::confirmed(std::move(proven.front())), {}};
    if (allMembers && !proven.empty()) return {MatchStatus::possibleDuplicate(std::move(proven)), {}};
    const bool anyMember = std::find(members.begin(), members.end(), true) != members.end();
    if (members.size() < 2 || !anyMember) members.clear();
    return {MatchStatus::missing(), std::move(members)};
}

// The walk over the claims of one verify() call, whatever form they come in: progress(0,
// total) first, each confirmed or possible duplicate claim proven in order with one progress
// call after it, the others passed on; once stopped, every later claim unchanged.
struct ClaimWalk {
    size_t count = 0;
    std::function<MatchStatus::Kind(size_t)> kindOf;
    std::function<const ClipGroup&(size_t)> groupOf;
    std::function<MatchStatus(size_t)> unchanged;
    std::function<void(size_t)> readAhead;
    std::function<ClaimProof(size_t)> prove;  // confirmed and possible duplicate claims

    std::vector<MatchResult> run(ProofSession& session, const MatchVerifier::Progress& progress,
                                 std::vector<UncountedCopy>* uncounted, std::vector<CardFileDigest>* cardDigests) const {
        auto isClaim = [&](size_t g) {
            const auto kind = kindOf(g);
            return kind == MatchStatus::Kind::confirmed || kind == MatchStatus::Kind::possibleDuplicate;
        };
        int total = 0;
        for (size_t g = 0; g < count; ++g) total += isClaim(g);
        if (progress) progress(0, total);
        if (cardDigests) session.keepProvenCardFiles();
        std::vector<MatchResult> verified;
        verified.reserve(count);
        int done = 0;
        size_t ahead = 0;
        for (size_t g = 0; g < count; ++g) {
            const ClipGroup& group = groupOf(g);
            if (group.primaryFiles.empty() || session.cancelled() || !isClaim(g)) {
                verified.push_back({group, unchanged(g)});
                continue;
            }
            for (; ahead < count && ahead <= g + readAheadClaims; ++ahead) readAhead(ahead);
            ClaimProof outcome = prove(g);
            ++done;
            if (progress) progress(done, total);
            verified.push_back({group, std::move(outcome.status), std::move(outcome.members)});
        }
        if (uncounted) {
            uncounted->insert(uncounted->end(), session.uncounted().begin(), session.uncounted().end());
            UncountedCopy::tidy(*uncounted);
        }
        if (cardDigests) cardDigests->insert(cardDigests->end(), session.provenCardFiles().begin(), session.provenCardFiles().end());
        return verified;
    }
};

}  // namespace

MatchVerifier::MatchVerifier(ChecksumEngine checksum, std::optional<fs::path> cardRoot)
    : checksum_(std::move(checksum)), cardRoot_(std::move(cardRoot)) {}

std::vector<MatchResult> MatchVerifier::verify(const std::vector<MatchResult>& results, const std::vector<Fingerprint>& drives,
                                               const CancelTest& isCancelled, const Progress& progress,
                                               std::vector<UncountedCopy>* uncounted,
                                               std::vector<CardFileDigest>* cardDigests) const {
    ProofSession session(checksum_, cardRoot_, drives, isCancelled);
    ClaimWalk walk;
    walk.count = results.size();
    walk.kindOf = [&](size_t g) { return results[g].status.kind(); };
    walk.groupOf = [&](size_t g) -> const ClipGroup& { return results[g].group; };
    walk.unchanged = [&](size_t g) { return results[g].status; };
    walk.readAhead = [&](size_t g) { session.readAhead(results[g]); };
    walk.prove = [&](size_t g) {
        const ClipGroup& group = results[g].group;
        const fs::path& first = group.primaryFiles.front().url;
        const MatchStatus& status = results[g].status;
        std::vector<fs::path> proven;
        for (const fs::path& location : status.locations())
            if (session.prove(first, location)) proven.push_back(location);
        return narrowed(std::move(proven), session.memberProof(group, !proven.empty()));
    };
    return walk.run(session, progress, uncounted, cardDigests);
}

std::vector<MatchResult> MatchVerifier::verify(const MatchClaims& claims, const CancelTest& isCancelled,
                                               const Progress& progress, std::vector<UncountedCopy>* uncounted,
                                               std::vector<CardFileDigest>* cardDigests) const {
    const std::vector<Fingerprint>& drives = claims.drives();
    ProofSession session(checksum_, cardRoot_, drives, isCancelled);
    ClaimWalk walk;
    walk.count = claims.size();
    walk.kindOf = [&](size_t g) { return claims.claim(g).kind; };
    walk.groupOf = [&](size_t g) -> const ClipGroup& { return claims.group(g); };
    walk.unchanged = [&](size_t g) {
        const MatchClaims::Claim& claim = claims.claim(g);
        if (claim.kind == MatchStatus::Kind::possibleDuplicate) return MatchStatus::possibleDuplicate({drives[claim.drive].url});
        return claims.status(g);
    };
    walk.readAhead = [&](size_t g) { session.readAhead(claims, g); };
    walk.prove = [&](size_t g) {
        const ClipGroup& group = claims.group(g);
        const Fingerprint& first = group.primaryFiles.front();
        const MatchClaims::Claim& claim = claims.claim(g);
        const auto candidates = claims.candidates(g);
        if (claim.kind == MatchStatus::Kind::confirmed) {
            std::optional<size_t> at;
            if (session.prove(first.url, drives[claim.drive].url))
                at = claim.drive;
            else if (!session.cancelled())
                at = session.firstCopy(first, candidates, claim.drive, true);
            std::vector<fs::path> proven;
            if (at) proven.push_back(drives[*at].url);
            return narrowed(std::move(proven), session.memberProof(group, at.has_value()));
        }
        std::vector<fs::path> proven;
        for (size_t i : session.copiesAmong(first, candidates)) proven.push_back(drives[i].url);
        return narrowed(std::move(proven), session.memberProof(group, !proven.empty()));
    };
    if (uncounted) session.notePassedOver(claims.passedOver());
    return walk.run(session, progress, uncounted, cardDigests);
}

std::vector<OtherFile> MatchVerifier::verifyOtherFiles(std::vector<OtherFile> files,
                                                       const std::vector<MediaFile>& driveFiles,
                                                       const CancelTest& isCancelled, const Progress& progress,
                                                       std::vector<UncountedCopy>* uncounted,
                                                       std::vector<CardFileDigest>* cardDigests) const {
    const int total = static_cast<int>(files.size());
    if (progress) progress(0, total);
    if (files.empty()) return files;

    std::unordered_map<std::string, std::vector<size_t>> driveByName;
    for (size_t i = 0; i < driveFiles.size(); ++i)
        driveByName[asciiLowercased(lastComponent(driveFiles[i].url))].push_back(i);
    const std::string root = cardRoot_ ? withoutTrailingSlash(cardRoot_->native()) + "/" : std::string();

    // Each file's candidates: same name (ASCII case ignored) and size, the ones whose path ends
    // like the file's place on the card first, then in drive order.
    std::vector<std::vector<fs::path>> candidates(files.size());
    for (size_t f = 0; f < files.size(); ++f) {
        auto it = driveByName.find(asciiLowercased(lastComponent(files[f].url)));
        if (it == driveByName.end()) continue;
        std::vector<std::string> tail;
        const std::string& path = files[f].url.native();
        if (!root.empty() && path.compare(0, root.size(), root) == 0)
            for (const auto& part : fs::path(path.substr(root.size()))) tail.push_back(part.native());
        if (tail.empty()) tail.push_back(lastComponent(files[f].url));
        std::vector<std::pair<size_t, size_t>> ranked;  // (shared tail, drive index)
        for (size_t i : it->second)
            if (driveFiles[i].byteSize == files[f].byteSize) ranked.emplace_back(sharedTail(driveFiles[i].url, tail), i);
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [shared, i] : ranked) candidates[f].push_back(driveFiles[i].url);
    }

    // Provers take the files in order; the caller's thread asks the cancellation test and
    // reports progress while they work.
    std::atomic<bool> stop{false};
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    const MatchVerifier::CancelTest stopped = [&stop] { return stop.load(); };
    std::mutex uncountedLock;
    auto prover = [&] {
        static const std::vector<Fingerprint> noFingerprints;
        ProofSession session(checksum_, cardRoot_, noFingerprints, stopped, otherFileProverHashThreads);
        if (cardDigests) session.keepProvenCardFiles();
        for (size_t f; !stop && (f = next.fetch_add(1)) < files.size();) {
            for (const fs::path& candidate : candidates[f]) {
                if (session.prove(files[f].url, candidate)) {
                    files[f].provenAt = candidate;
                    break;
                }
            }
            if (stop) files[f].provenAt.reset();  // a proof a stop cut short proves nothing
            else ++done;
        }
        const std::lock_guard lock(uncountedLock);
        if (uncounted) uncounted->insert(uncounted->end(), session.uncounted().begin(), session.uncounted().end());
        if (cardDigests && !stop)
            cardDigests->insert(cardDigests->end(), session.provenCardFiles().begin(), session.provenCardFiles().end());
    };
    std::vector<std::jthread> provers;
    try {
        for (int t = 0; t < otherFileProverCount(); ++t) provers.emplace_back(prover);
    } catch (const std::system_error&) {
        if (provers.empty()) prover();  // no thread to be had: prove them here
    }
    int reported = 0;
    auto report = [&] {
        for (const int now = done.load(); reported < now; ++reported)
            if (progress) progress(reported + 1, total);
    };
    while (done.load() < total && !provers.empty()) {
        if (isCancelled && isCancelled()) {
            stop = true;
            break;
        }
        report();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    provers.clear();  // joins
    if (!stop) report();
    if (uncounted) UncountedCopy::tidy(*uncounted);
    if (cardDigests)
        std::sort(cardDigests->begin(), cardDigests->end(),
                  [](const CardFileDigest& a, const CardFileDigest& b) { return a.url.native() < b.url.native(); });
    return files;
}

}  // namespace tessaline
