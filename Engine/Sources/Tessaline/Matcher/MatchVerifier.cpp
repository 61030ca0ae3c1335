#include "Tessaline/Matcher/MatchVerifier.hpp"

#include "Tessaline/Matcher/ProofHashPool.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
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
                if (pool_) pool_->prefetch(drive, true);  // hashed while this thread reads the card file
                std::string cardDigest = digest(card, cardStat);
                std::string driveDigest = digest(drive, driveStat);
                return cardDigest == driveDigest;
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
        bool queuedCard = false;
        for (const fs::path& location : status.locations()) {
            struct stat driveStat {};
            if (::stat(location.c_str(), &driveStat) != 0 || driveStat.st_size != cardStat.st_size) continue;
            if (!queuedCard) pool_->prefetch(card);
            queuedCard = true;
            pool_->prefetch(location);
        }
        // The other members of a clip are proven against same-size drive files: the first
        // candidate of each is the one a good backup proves with.
        if (!queuedCard) return;
        for (size_t m = 1; m < result.group.primaryFiles.size(); ++m) {
            const Fingerprint& member = result.group.primaryFiles[m];
            auto it = driveBySize_.find(member.byteSize);
            if (it == driveBySize_.end()) continue;
            pool_->prefetch(member.url);
            pool_->prefetch(drives_[it->second.front()].url);
        }
    }

    // Whether every member after the first has a proven copy among the same-size drive files
    // (by fingerprint size, in drive order; any folder of any drive).
    bool allMembersVerified(const ClipGroup& group) {
        for (size_t m = 1; m < group.primaryFiles.size(); ++m) {
            if (cancelled()) return false;
            const Fingerprint& member = group.primaryFiles[m];
            auto it = driveBySize_.find(member.byteSize);
            if (it == driveBySize_.end()) return false;
            bool proven = false;
            for (size_t i : it->second) {
                if (prove(member.url, drives_[i].url)) {
                    proven = true;
                    break;
                }
            }
            if (!proven) return false;
        }
        return true;
    }

    // The drive files not counted for where they lie, each once, in the order first tried.
    const std::vector<UncountedCopy>& uncounted() const { return uncounted_; }

private:
    using Version = std::tuple<dev_t, ino_t, off_t, time_t, long>;

    // The card file itself, a path at or below the card root, or a file whose place in its
    // file system lies at or below the card root's place: the card's own folder reached
    // through a bind mount (or the card reached through one) looks like any other folder by
    // path and inode; a file on an overlay or in a disk image on the card (ProofGround, judged
    // once per device). A file whose place cannot be found while the card's can is no proof.
    bool isSelf(const struct stat& card, const struct stat& drive, const fs::path& drivePath) {
        if (card.st_dev == drive.st_dev && card.st_ino == drive.st_ino) return true;
        if (auto doubt = ground_.doubtOf(drive.st_dev, drivePath, card.st_dev)) {
            if (uncountedPaths_.insert(drivePath.native()).second) uncounted_.push_back({drivePath, *doubt});
            return true;
        }
        if (!cardRoot_) return false;
        auto real = resolved(drivePath);
        // Both sides are in normal form already (realpath's, or normalizedPath's).
        if (isSameOrBelowNormalized(real ? real->native() : normalizedPath(drivePath).native(), cardRoot_->native()))
            return true;
        if (!cardPlace_) return false;
        auto place = real ? places_->ofCanonical(*real) : std::nullopt;
        return !place || place->isSameOrBelow(*cardPlace_);
    }

    std::string digest(const fs::path& file, const struct stat& st) {
        Version version{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
        auto it = digests_.find(version);
        if (it != digests_.end()) return it->second;
        const ChecksumEngine::CancelTest test = [this] { return cancelled(); };
        std::optional<ProofHashPool::Taken> taken = pool_ ? pool_->take(file, version, test) : std::nullopt;
        // The pool's read stands for this one: accepted only after the test a read would have
        // asked, and its error is this attempt's error.
        if (taken && cancelled()) throw ChecksumCancelledError();
        if (taken && taken->error) std::rethrow_exception(taken->error);
        std::string hex = taken ? std::move(taken->digest)
                                : checksum_.hash(file, false, isCancelled_ ? test : ChecksumEngine::CancelTest{}, {});
        digests_.emplace(version, hex);
        return hex;
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
    std::map<Version, std::string> digests_;
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

}  // namespace

MatchVerifier::MatchVerifier(ChecksumEngine checksum, std::optional<fs::path> cardRoot)
    : checksum_(std::move(checksum)), cardRoot_(std::move(cardRoot)) {}

std::vector<MatchResult> MatchVerifier::verify(const std::vector<MatchResult>& results, const std::vector<Fingerprint>& drives,
                                               const CancelTest& isCancelled, const Progress& progress,
                                               std::vector<UncountedCopy>* uncounted) const {
    int total = 0;
    for (const MatchResult& result : results) {
        auto kind = result.status.kind();
        if (kind == MatchStatus::Kind::confirmed || kind == MatchStatus::Kind::possibleDuplicate) ++total;
    }
    if (progress) progress(0, total);

    ProofSession session(checksum_, cardRoot_, drives, isCancelled);
    std::vector<MatchResult> verified;
    verified.reserve(results.size());
    int done = 0;
    size_t ahead = 0;
    for (size_t index = 0; index < results.size(); ++index) {
        const MatchResult& result = results[index];
        const ClipGroup& group = result.group;
        if (group.primaryFiles.empty() || session.cancelled()) {
            verified.push_back(result);
            continue;
        }
        for (; ahead < results.size() && ahead <= index + readAheadClaims; ++ahead) session.readAhead(results[ahead]);
        const fs::path& first = group.primaryFiles.front().url;
        const MatchStatus& status = result.status;
        MatchStatus outcome = status;
        switch (status.kind()) {
        case MatchStatus::Kind::confirmed: {
            bool proven = session.prove(first, status.path()) && session.allMembersVerified(group);
            if (!proven) outcome = MatchStatus::missing();
            break;
        }
        case MatchStatus::Kind::possibleDuplicate: {
            std::vector<fs::path> proven;
            for (const fs::path& location : status.locations())
                if (session.prove(first, location)) proven.push_back(location);
            bool membersProven = session.allMembersVerified(group);
            if (!membersProven || proven.empty())
                outcome = MatchStatus::missing();
            else if (proven.size() == 1)
                outcome = MatchStatus::confirmed(proven.front());
            else
                outcome = MatchStatus::possibleDuplicate(std::move(proven));
            break;
        }
        case MatchStatus::Kind::nameMatchMetadataMismatch:
        case MatchStatus::Kind::missing:
            verified.push_back(result);
            continue;
        }
        ++done;
        if (progress) progress(done, total);
        verified.push_back({group, std::move(outcome)});
    }
    if (uncounted) {
        uncounted->insert(uncounted->end(), session.uncounted().begin(), session.uncounted().end());
        UncountedCopy::tidy(*uncounted);
    }
    return verified;
}

std::vector<OtherFile> MatchVerifier::verifyOtherFiles(std::vector<OtherFile> files,
                                                       const std::vector<MediaFile>& driveFiles,
                                                       const CancelTest& isCancelled, const Progress& progress,
                                                       std::vector<UncountedCopy>* uncounted) const {
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
        if (uncounted && !session.uncounted().empty()) {
            const std::lock_guard lock(uncountedLock);
            uncounted->insert(uncounted->end(), session.uncounted().begin(), session.uncounted().end());
        }
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
    return files;
}

}  // namespace tessaline
