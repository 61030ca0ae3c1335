#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "BrindlecoveApp/MemoryRelease.hpp"

#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/CardPrep/CardFileReads.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/MetadataReader/CachingMetadataReader.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Scanner/FileTreeWalker.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <sys/stat.h>

#ifdef __GLIBC__
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <future>
#include <system_error>
#include <unordered_set>

namespace brindlecove {

namespace fs = std::filesystem;
using namespace tessaline;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int flushEvery = 500;
constexpr int64_t proofChunkSize = 4 * 1024 * 1024;
constexpr double captureTimeTolerance = 5.0;

// Thrown inside a run to end it with "Scan stopped.".
struct Stopped {};

std::shared_ptr<FingerprintIndex> openCache(const ScanRun::Environment& environment) {
    try {
        if (environment.openCache) return environment.openCache();
        return std::make_shared<FingerprintIndex>(FingerprintIndex::defaultDatabaseURL());
    } catch (...) {
        return nullptr;
    }
}

// A folder's place after resolving links, with its device and inode when it can be read.
struct Place {
    fs::path path;
    std::optional<std::pair<dev_t, ino_t>> node;
};

Place placeOf(const fs::path& folder) {
    Place place;
    char buffer[PATH_MAX];
    place.path = ::realpath(folder.c_str(), buffer) ? fs::path(buffer) : normalizedPath(folder);
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) place.node = std::pair{st.st_dev, st.st_ino};
    return place;
}

// Whether a drive's root is the card itself or a folder on it (by path, or by being the
// card's own folder reached another way). A drive that lies where nothing proves the card
// (an overlay, a second view of the card's device, a disk image on the card or one that can't
// be traced) is walked all the same: the proofs name each of its copies as not counted, with
// the reason (ProofGround, asked by the verifier).
bool liesOnCard(const Place& drive, const Place& card) {
    if (isSameOrBelow(drive.path, card.path)) return true;
    return drive.node && card.node && *drive.node == *card.node;
}

// Views of the files' paths (sorted, as the scanner lists them) with their sizes.
std::vector<std::pair<std::string_view, int64_t>> pathsAndSizes(const std::vector<MediaFile>& files) {
    std::vector<std::pair<std::string_view, int64_t>> list;
    list.reserve(files.size());
    for (const MediaFile& file : files) list.emplace_back(file.url.native(), file.byteSize);
    return list;
}

// `files` in the scanner's order (sorted by path bytes): a row is kept when its path is one
// of them, looked up in the list itself rather than in a copy of a million paths.
void prune(FingerprintIndex& index, const std::string& key, const fs::path& root, const std::vector<MediaFile>& files) {
    auto keeps = [&files](const std::string& path) {
        auto at = std::lower_bound(files.begin(), files.end(), path,
                                   [](const MediaFile& file, const std::string& p) { return file.url.native() < p; });
        return at != files.end() && at->url.native() == path;
    };
    try {
        index.pruneExcept(key, root.string(), keeps);
    } catch (...) {
        // A failed prune leaves stale rows, which are never trusted for changed files.
    }
}

// The same for a source's fingerprints (in stage order, so looked up through a sorted list
// of their paths).
void prune(FingerprintIndex& index, const std::string& key, const fs::path& root, const std::vector<Fingerprint>& prints) {
    std::vector<std::string_view> paths;
    paths.reserve(prints.size());
    for (const Fingerprint& print : prints) paths.emplace_back(print.url.native());
    std::sort(paths.begin(), paths.end());
    try {
        index.pruneExcept(key, root.string(), [&paths](const std::string& path) {
            return std::binary_search(paths.begin(), paths.end(), std::string_view(path));
        });
    } catch (...) {
        // A failed prune leaves stale rows, which are never trusted for changed files.
    }
}

class Run {
public:
    Run(const ScanRequest& request, const ScanRun::Environment& environment, const ScanRun::CancelTest& isCancelled,
        const ScanRun::EventSink& onEvent)
        : request_(request),
          environment_(environment),
          isCancelled_(isCancelled),
          onEvent_(onEvent),
          stages_(environment.fingerprintThreads > 0 ? environment.fingerprintThreads
                                                     : FingerprintStages::defaultThreadCount()) {}

    ScanOutcome perform() {
        try {
            return scan();
        } catch (const Stopped&) {
            return ScanFailure{ScanRun::stoppedMessage};
        }
    }

private:
    bool cancelled() const { return isCancelled_ && isCancelled_(); }
    void stopIfCancelled() const {
        if (cancelled()) throw Stopped{};
    }
    void emit(ScanEvent event) const {
        if (onEvent_) onEvent_(event);
    }

    ScanOutcome scan() {
        const FolderScanner scanner;
        // A new cache costs a commit to create: it opens while the card is walked.
        std::future<std::shared_ptr<FingerprintIndex>> opening = openCacheAside();
        inner_ = environment_.makeReader ? environment_.makeReader() : std::make_shared<NativeMetadataReader>();

        // Linux has no security-scoped access to open for the card: reading it needs none.
        ScanResult cardScan;
        CardFileSet cardFiles;
        try {
            cardScan = scanner.scan(request_.card, request_.includeAllFiles);
            // Every file an erase deletes, recorded before any is read.
            cardFiles = CardFileSet::read(request_.card);
        } catch (const std::exception& error) {
            return ScanFailure{std::string("Couldn't scan card: ") + error.what()};
        }
        index_ = opening.valid() ? opening.get() : openCache(environment_);
        stopIfCancelled();

        const std::string cardKey = volumeLabel(request_.card).value_or(request_.card.string());
        std::vector<Fingerprint> cardPrints;
        {
            const int cached = reportResume(cardKey, lastComponent(request_.card), cardScan.mediaFiles);
            CachingMetadataReader reader(inner_, index_, cardKey, useCache(cached), flushEvery);
            cardPrints = stages_.run(cardScan.mediaFiles, reader, isCancelled_,
                                     [this](MediaKind kind, int done, int total, double elapsed) {
                                         emit(scan_event::CardProgress{kind, done, total, elapsed});
                                     });
            reader.flush();
        }
        stopIfCancelled();
        if (index_) prune(*index_, cardKey, request_.card, cardScan.mediaFiles);

        const std::vector<ClipGroup> groups = Grouper().group(cardPrints, cardScan.sidecarFiles);

        // The files the scanner passes over (in hidden and junk-named folders, of junk types)
        // are erased all the same: each is an other file to prove.
        const std::vector<MediaFile> passedOver = filesPassedOver(cardScan, cardFiles);
        cardScan.otherFiles.insert(cardScan.otherFiles.end(), passedOver.begin(), passedOver.end());
        std::sort(cardScan.otherFiles.begin(), cardScan.otherFiles.end(),
                  [](const MediaFile& a, const MediaFile& b) { return a.url.native() < b.url.native(); });
        for (const std::string& folder : cardFiles.unreadableFolders)
            cardScan.unreadableFolders.push_back(onCard(folder));
        std::sort(cardScan.unreadableFolders.begin(), cardScan.unreadableFolders.end());
        cardScan.unreadableFolders.erase(std::unique(cardScan.unreadableFolders.begin(), cardScan.unreadableFolders.end()),
                                         cardScan.unreadableFolders.end());
        searchPassedOver_ = !passedOver.empty();

        // Drive walks list only the files named like a card sidecar or other file as candidates.
        for (const auto* list : {&cardScan.otherFiles, &cardScan.sidecarFiles})
            for (const MediaFile& file : *list) candidateNames_.insert(asciiLowercased(lastComponent(file.url)));
        const Place card = placeOf(request_.card);
        SecurityScopedBookmarkStore grants(environment_.bookmarkStoreURL);
        std::vector<fs::path> drivePaths;
        std::vector<Fingerprint> drivePrints;
        for (const std::string& label : request_.driveLabels) {
            stopIfCancelled();
            emit(scan_event::DriveStarted{label});
            bool used = false;
            bool onCard = false;
            try {
                used = grants.withAccess(label, [&](const fs::path& root) {
                    onCard = liesOnCard(placeOf(root), card);
                    return !onCard && scanDrive(label, root, card, scanner, drivePaths, drivePrints);
                });
            } catch (const std::exception&) {
                used = false;
            }
            if (!used)
                emit(scan_event::DriveSkipped{label, onCard ? scan_event::DriveSkipped::Reason::onCard
                                                            : scan_event::DriveSkipped::Reason::unavailable});
        }
        stopIfCancelled();

        emit(scan_event::Matching{});
        // Verdicts stay drive-file numbers until proven: only the paths that proved are copied.
        const MatchClaims claims = Matcher{captureTimeTolerance}.claim(groups, drivePrints, request_.card);

        // Each part of the proof has its own count, total and clock.
        auto verifyStart = Clock::now();
        ProofPart currentPart = ProofPart::clips;
        auto verifying = [&](ProofPart part, int done, int total) {
            if (part != currentPart) {
                currentPart = part;
                verifyStart = Clock::now();
            }
            emit(scan_event::VerifyingProgress{done, total,
                                               std::chrono::duration<double>(Clock::now() - verifyStart).count(), part});
        };
        // The proofs' reads of card files are recorded: the records then describe the very
        // files whose bytes were proven, with their digests.
        CardFileReads cardReads(request_.card);
        ChecksumEngine checksum(proofChunkSize);
        checksum.observeReads(cardReads.observer());
        MatchVerifier verifier(std::move(checksum), request_.card);
        std::vector<UncountedCopy> uncounted;
        std::vector<UnreadCandidates> unread;
        // One bound on reading for the clips and the other files, which are looked for first
        // where the clips showed the card was copied whole.
        ProofTally tally;
        std::vector<MatchResult> proven = verifier.verify(
            claims, isCancelled_, [&](int done, int total) { verifying(ProofPart::clips, done, total); }, &uncounted,
            nullptr, &unread, &tally);
        stopIfCancelled();
        // Then every other file an erase would delete: the backed-up clips' sidecars and the
        // files that are no clip's, each proven by a same-named copy on a drive.
        std::vector<OtherFile> others = verifier.verifyOtherFiles(
            OtherFile::toProve(cardScan, proven), driveOtherFiles_, isCancelled_,
            [&](int done, int total) {
                if (total > 0) verifying(ProofPart::otherFiles, done, total);
            },
            &uncounted, nullptr, &unread, &tally);
        // The verifier leaves unproven claims as the matcher made them once stopped: such a
        // run must never become a report.
        stopIfCancelled();
        unprovenWhereChanged(cardFiles, cardReads, proven, others, [&](int done, int total) {
            if (total > 0) verifying(ProofPart::cardRecheck, done, total);
        });
        stopIfCancelled();

        return std::make_shared<const VerificationReport>(request_.card, std::move(drivePaths), nowEpoch(),
                                                          std::move(proven), std::nullopt,
                                                          std::move(cardScan.unreadableFolders), std::move(others),
                                                          std::move(cardFiles.files), cardFiles.mount,
                                                          std::move(uncounted), std::move(unread));
    }

    // A card file's path as the card walk spells it.
    fs::path onCard(const std::string& relative) const {
        const std::string root = withoutTrailingSlash(request_.card.native());
        if (relative.empty()) return root;
        return root == "/" ? root + relative : root + "/" + relative;
    }

    // The files of the card's set that the scanner's lists leave out.
    std::vector<MediaFile> filesPassedOver(const ScanResult& scan, const CardFileSet& files) const {
        std::unordered_set<std::string> listed;
        for (const auto* list : {&scan.mediaFiles, &scan.sidecarFiles, &scan.otherFiles})
            for (const MediaFile& file : *list) listed.insert(file.url.native());
        std::vector<MediaFile> passedOver;
        for (const CardFileRecord& record : files.files) {
            fs::path path = onCard(record.relative);
            if (!listed.count(path.native())) passedOver.push_back({std::move(path), MediaFile::Kind::other, record.byteSize});
        }
        return passedOver;
    }

    // A file whose reads contradict its record, or whose status after the proofs differs from
    // it, was rewritten or replaced before, while or after it was read: its clip and its proof
    // stand for nothing. The records take the digests of the reads; a file renumbered since
    // (FAT, exFAT, FUSE) is read again and judged by its bytes, with `progress` per file.
    void unprovenWhereChanged(CardFileSet& files, const CardFileReads& reads, std::vector<MatchResult>& results,
                              std::vector<OtherFile>& others, const CardFileComparison::Progress& progress) const {
        const auto numbering = CardFileComparison::between(files.mount, files.mount);
        std::unordered_set<std::string> changed;
        for (std::string& relative : reads.applyTo(files.files, numbering)) changed.insert(onCard(relative).native());
        for (std::string& relative : CardFileSet::changedSince(request_.card, files.files, numbering, isCancelled_, progress))
            changed.insert(onCard(relative).native());
        if (changed.empty()) return;
        for (MatchResult& result : results) {
            const auto kind = result.status.kind();
            // A missing clip's member proven by other bytes than it now holds is proven no more
            // (the rescue then copies it with the rest).
            if (kind == MatchStatus::Kind::missing) {
                auto& proven = result.membersProven;
                for (size_t m = 0; m < proven.size(); ++m)
                    if (changed.count(result.group.primaryFiles[m].url.native())) proven[m] = false;
                if (std::find(proven.begin(), proven.end(), true) == proven.end()) proven.clear();
            }
            if (kind != MatchStatus::Kind::confirmed && kind != MatchStatus::Kind::possibleDuplicate) continue;
            for (const Fingerprint& primary : result.group.primaryFiles)
                if (changed.count(primary.url.native())) result.status = MatchStatus::missing();
        }
        for (OtherFile& other : others)
            if (changed.count(other.url.native())) other.provenAt.reset();
    }

    // openCache() on a thread of its own; no future when no thread can be started (the
    // caller then opens the cache itself). A destroyed future waits for the open.
    std::future<std::shared_ptr<FingerprintIndex>> openCacheAside() const {
        try {
            return std::async(std::launch::async, [this] { return openCache(environment_); });
        } catch (const std::system_error&) {
            return {};
        }
    }

    // One drive that does not lie on the card, inside its access. False when the drive
    // contributes nothing and counts as skipped (its walk failed).
    bool scanDrive(const std::string& label, const fs::path& root, const Place& card, const FolderScanner& scanner,
                   std::vector<fs::path>& drivePaths, std::vector<Fingerprint>& drivePrints) {
        drivePaths.push_back(root);
        ScanResult scan;
        try {
            scan = scanner.scan(root, request_.includeAllFiles, request_.card, &candidateNames_);
        } catch (const std::exception&) {
            return false;
        }
        const std::string key = volumeLabel(root).value_or(root.string());
        const int cached = reportResume(key, label, scan.mediaFiles);
        CachingMetadataReader reader(inner_, index_, key, useCache(cached), flushEvery);
        std::vector<Fingerprint> prints =
            stages_.runTakingPaths(scan.mediaFiles, reader, isCancelled_, [&](MediaKind kind, int done, int total, double elapsed) {
                emit(scan_event::DriveProgress{label, kind, done, total, elapsed});
            });
        reader.flush();
        // The walk's media list gave its paths to the fingerprints; those (complete unless
        // stopped) now tell which of the drive's rows to keep.
        std::vector<MediaFile>().swap(scan.mediaFiles);
        if (!cancelled() && index_) prune(*index_, key, root, prints);
        // The fingerprints move (a drive's are the scan's largest data, so no second array of
        // them is ever made).
        if (drivePrints.empty()) {
            drivePrints = std::move(prints);
        } else {
            drivePrints.reserve(drivePrints.size() + prints.size());
            drivePrints.insert(drivePrints.end(), std::make_move_iterator(prints.begin()),
                               std::make_move_iterator(prints.end()));
        }
        // The candidates for the card's sidecars and other files.
        for (auto* list : {&scan.sidecarFiles, &scan.otherFiles})
            for (MediaFile& file : *list)
                if (candidateNames_.count(asciiLowercased(lastComponent(file.url)))) addCandidate(std::move(file));
        if (searchPassedOver_) addCandidatesPassedOver(root, card);
        return true;
    }

    void addCandidate(MediaFile file) {
        if (candidatePaths_.insert(file.url.native()).second) driveOtherFiles_.push_back(std::move(file));
    }

    // A card copied whole keeps its hidden and junk-named folders: the candidates for the files
    // the scanner passes over are looked for there too, in a walk of the drive that prunes
    // nothing (made only for a card that holds such files).
    void addCandidatesPassedOver(const fs::path& root, const Place& card) {
        FileTreeWalker::Options options;
        options.wantsName = [this](std::string_view name) { return candidateNames_.count(asciiLowercased(name)) > 0; };
        options.excluded = card.node;
        const std::string base = withoutTrailingSlash(root.native());
        try {
            FileTreeWalker::walk(root, options, [&](const FileTreeWalker::File& file) {
                addCandidate({fs::path(base == "/" ? base + std::string(file.relative)
                                                   : base + "/" + std::string(file.relative)),
                              MediaFile::Kind::other, static_cast<int64_t>(file.status.st_size)});
            });
        } catch (const std::exception&) {
            // The drive's scan read its root a moment ago; without this walk the files stay unproven.
        }
    }

    // How many of a source's files the cache holds (by path and size), announced when any;
    // 0 for a fresh scan or without a cache.
    int reportResume(const std::string& key, const std::string& sourceLabel, const std::vector<MediaFile>& files) {
        if (request_.fresh || !index_) return 0;
        const int cached = index_->matchCountSorted(key, pathsAndSizes(files));
        if (cached > 0) emit(scan_event::ResumeInfo{sourceLabel, cached, static_cast<int>(files.size())});
        return cached;
    }

    // Whether the reader asks the cache first. A row answers only for a file of the same path
    // and size, so when none matches (a source scanned for the first time) every lookup would
    // miss: the reader then skips them and only writes.
    bool useCache(int cached) const { return !request_.fresh && cached > 0; }

    const ScanRequest& request_;
    const ScanRun::Environment& environment_;
    const ScanRun::CancelTest& isCancelled_;
    const ScanRun::EventSink& onEvent_;
    FingerprintStages stages_;
    std::shared_ptr<FingerprintIndex> index_;
    std::shared_ptr<MetadataReader> inner_;
    // ASCII-lowercased names of the card's other files and sidecars: the one filter of drive files.
    std::unordered_set<std::string> candidateNames_;
    bool searchPassedOver_ = false;                 // the card holds files the scanner passes over
    std::vector<MediaFile> driveOtherFiles_;        // the drives' files of those names
    std::unordered_set<std::string> candidatePaths_;  // ... by path, each once
};

}  // namespace

ScanOutcome ScanRun::perform(const ScanRequest& request, const Environment& environment, const CancelTest& isCancelled,
                             const EventSink& onEvent) {
    ScanOutcome outcome = ScanFailure{"Couldn't scan card: an unexpected error occurred."};
    try {
        outcome = Run(request, environment, isCancelled, onEvent).perform();
    } catch (const std::exception& error) {
        outcome = ScanFailure{std::string("Couldn't scan card: ") + error.what()};
    } catch (...) {
    }
    giveBackFreedMemory();
    return outcome;
}

}  // namespace brindlecove
