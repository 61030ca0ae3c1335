#include "Tessaline/Copy/CopyEngine.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Copy/CardChangeCheck.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/DestinationInsideCard.hpp"
#include "Tessaline/Copy/DestinationPlanner.hpp"
#include "Tessaline/Copy/DestinationRoot.hpp"
#include "Tessaline/Copy/IdentityOpener.hpp"
#include "Tessaline/Copy/IdleSettleDetector.hpp"
#include "Tessaline/Copy/InodePin.hpp"
#include "Tessaline/Copy/SeamFd.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Copy/StreamCopier.hpp"
#include "Tessaline/Copy/WrittenCopy.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;
using FileStatus = CopyEngine::FileStatus;
using FileOutcome = CopyEngine::FileOutcome;

const char* CopyEngine::destinationGoneText =
    "The destination folder is no longer available — is the drive still connected?";

bool CopyEngine::FileStatus::landedSafely() const {
    return kind == Kind::copiedVerified || kind == Kind::copiedNotVerified || kind == Kind::skippedAlreadyPresent;
}

bool CopyEngine::FileStatus::isVerifiedPass() const {
    return kind == Kind::copiedVerified || kind == Kind::skippedAlreadyPresent;
}

namespace {

constexpr int64_t readBackChunkSize = 4 * 1024 * 1024;

std::vector<std::string> componentsOf(const fs::path& path) {
    std::vector<std::string> parts;
    for (const auto& part : normalizedPath(path)) {
        if (!part.empty()) parts.push_back(part.native());
    }
    return parts;
}

// Sort key of the copy order: the path in NFC, compared as unsigned bytes (code-point
// order); invalid UTF-8 keeps its raw bytes.
struct SortItem {
    std::string key;
    const MediaFile* file;
    bool unreadableFolder;
};

void checkChunkSize(int64_t chunkSize) {
    if (chunkSize < 1) throw std::invalid_argument("chunk size must be at least 1 byte");
}

std::string sizeChangeText(int64_t recorded, int64_t current) {
    return "Source changed size during the copy (" + std::to_string(recorded) + " → " + std::to_string(current) +
           " bytes) — the card was still being written to. Re-run after the camera finishes.";
}

// Files are copied in batches. The first file of a batch runs exactly as alone: its
// cancellation test, start and progress are live. The files after it are written ahead
// (under temporary names) with their events held back; then the batch's file system is
// flushed once (syncfs), each copy gets its own checked fsync and its proof and is moved to
// its final name, the folders of the new names are flushed once each, and then each file in
// order gets its own cancellation test, its held-back events and its `fileFinished`. The
// caller sees the sequential order of events and cancellation points. A cancellation noticed
// there leaves the batch's later copies in place: each is proven and under its final name,
// where another run may already count it as present, so it is never removed. Those copies
// are still reported (their events, then `cancelled`), so the stopped run's outcomes list
// every file it left at the destination; the batch's files that left nothing there are not.
// A stop is also asked between the chunks of each write, comparison and read-back and before
// each proof: once it answers, no further copy of the batch is written or proven, the
// unproven ones are removed (they are still under temporary names), and those files are not
// reported, the batch's first one included.
// Measured on this VM: an fsync alone costs 10–20 ms (a journal commit and a cache flush
// per file), 200 fsyncs after one syncfs cost 0.21 s in all. Names are moved for the whole
// batch before its events for the same reason: a new name is durable only after its folder's
// fsync (a journal commit on ext4), and 200 renames each followed by it took 0.34–0.50 s
// where 200 renames and one folder fsync took 3 ms.
constexpr int64_t batchBytesLimit = int64_t{256} << 20;  // recorded bytes written ahead of their events
constexpr size_t batchFilesLimit = 64;                     // files in flight (three descriptors each)
constexpr int64_t batchEventsLimit = 4096;                 // progress events held back

// Everything one run shares between its files.
struct RunContext {
    CopyFileIO& io;
    const CopyEngine::Options& options;
    DestinationRoot& root;
    DestinationPlanner& planner;
    StreamCopier& copier;
    std::set<std::string>& usedFlatNames;
    const CopyEngine::CancelTest& isStopped;  // asked between the chunks of every write and read
};

// One file of a batch, from its start to its settled outcome.
struct BatchEntry {
    const SortItem* item = nullptr;
    FileOutcome outcome;
    std::vector<int64_t> heldProgress;  // bytes copied after each chunk, when not sent live
    DestinationPlan plan;               // the final name the copy is meant for
    // Written, waiting for its flush and proof; then placed (under its final name, durable),
    // kept (pinned) until it is checked once more when it is reported.
    std::unique_ptr<WrittenCopy> copy;
    bool leftAtDestination = false;     // under its final name (placed, or its folder unflushed)
    bool stopped = false;               // cut off by a stop: nothing of it left, never reported
    bool comparing = false;             // compared with a file at the destination; its event held back
    // The read-back's progress (bytes read, bytes to read), when it is sent live.
    std::function<void(int64_t, int64_t)> onReadBack;
    SeamFd source;                      // open until the copy is proven
    std::optional<SourceIdentity> sourceBefore;
    UniqueFd pin;                       // the card file as its proof found it (pinWhereRenumbered)
    bool sourceChangedDuringRead = true;
    std::string sourceDigest;
    int64_t bytesCopied = 0;
};

// Writes one file under a temporary name (true), or settles its outcome when nothing is written.
bool writeFile(RunContext& run, const MediaFile& file, BatchEntry& entry, const std::function<void(int64_t)>& onBytes,
               const DestinationPlanner::ComparingHandler& onComparing) {
    FileOutcome& outcome = entry.outcome;
    outcome.destinationURL = run.root.path() / outcome.relativePath;
    if (auto gone = run.root.unavailableReason()) {
        outcome.status = FileStatus::failed(*gone);
        return false;
    }

    run.planner.setComparingHandler(onComparing);
    DestinationPlan plan = run.planner.plan(file.url, outcome.relativePath, run.root.volume());
    run.planner.setComparingHandler({});
    if (plan.kind == DestinationPlan::Kind::stopped) {
        entry.stopped = true;
        return false;
    }
    if (plan.kind == DestinationPlan::Kind::unresolvable) {
        outcome.status = FileStatus::failed(plan.reason);
        return false;
    }
    outcome.destinationURL = plan.url;
    if (plan.kind == DestinationPlan::Kind::skip) {
        // Found on the drive, but a drive pulled meanwhile holds nothing for this run.
        if (auto gone = run.root.unavailableReason()) {
            outcome.status = FileStatus::failed(*gone);
            return false;
        }
        outcome.status = FileStatus::skippedAlreadyPresent();
        outcome.sourceChecksum = plan.sourceHash;
        outcome.destinationChecksum = plan.destinationHash;
        entry.sourceBefore = plan.sourceIdentity;
        entry.pin = std::move(plan.sourcePin);
        return false;
    }
    if (auto failure = run.root.createFolders(fs::path(plan.relativeName).parent_path().native())) {
        outcome.status = FileStatus::failed(*failure);
        return false;
    }
    StreamCopyResult copied = run.copier.write(file.url, plan.url, run.root.volume(), onBytes, run.isStopped);
    if (copied.status == StreamCopyResult::Status::stopped) {
        entry.stopped = true;
        return false;
    }
    if (copied.status == StreamCopyResult::Status::destinationGone) {
        run.root.markGone();
        outcome.status = FileStatus::failed(CopyEngine::destinationGoneText);
        return false;
    }
    if (copied.status == StreamCopyResult::Status::failed) {
        outcome.status = FileStatus::failed(copied.failure);
        return false;
    }
    entry.plan = std::move(plan);
    entry.copy = std::move(copied.copy);
    entry.source = std::move(copied.source);
    entry.sourceBefore = copied.sourceBefore;
    entry.sourceChangedDuringRead = copied.sourceChangedDuringRead;
    entry.sourceDigest = copied.sourceDigest;
    entry.bytesCopied = copied.bytesCopied;
    return true;
}

// One flush of each file system that holds two or more unflushed copies of the batch. It
// proves nothing by itself (each copy's own fsync does), but when it fails the error cannot
// be laid at one file's door, so every such copy on that file system fails and is removed.
void flushFileSystems(CopyFileIO& io, std::vector<BatchEntry>& batch) {
    std::map<dev_t, std::vector<BatchEntry*>> byDevice;
    for (BatchEntry& entry : batch)
        if (entry.copy) byDevice[entry.copy->device()].push_back(&entry);
    for (auto& [device, entries] : byDevice) {
        if (entries.size() < 2) continue;
        if (io.syncfs(entries.front()->copy->fd()) == 0 || WrittenCopy::flushUnsupported(errno)) continue;
        const std::string reason = errnoText(errno);
        for (BatchEntry* entry : entries) {
            entry->copy.reset();
            entry->outcome.status = FileStatus::failed(reason);
            entry->outcome.finishedAt = nowEpoch();
        }
    }
}

// Whether the card file is still what it was when its copy began: the same file under its
// path, unchanged.
bool sourceUnchanged(const BatchEntry& entry, const MediaFile& file) {
    return !entry.sourceChangedDuringRead && entry.sourceBefore &&
           SourceIdentity::ofDescriptor(entry.source.get()) == entry.sourceBefore &&
           SourceIdentity::ofPath(file.url) == entry.sourceBefore;
}

// Flushes (checked) and proves one written copy, then moves it to its final name, settling
// its outcome. The copy stays in the entry only when it was placed (its name still to be
// flushed); otherwise it is removed.
void proveAndPlace(RunContext& run, const MediaFile& file, BatchEntry& entry) {
    FileOutcome& outcome = entry.outcome;
    auto settle = [&](FileStatus status) {
        entry.copy.reset();
        entry.source.reset();
        outcome.status = std::move(status);
    };
    // A stop removes the copy, still under its temporary name.
    auto stop = [&] {
        entry.copy.reset();
        entry.source.reset();
        entry.stopped = true;
    };
    if (run.isStopped && run.isStopped()) return stop();
    WrittenCopy& copy = *entry.copy;
    if (auto failure = copy.flush()) return settle(FileStatus::failed(*failure));
    if (auto gone = run.root.unavailableReason()) return settle(FileStatus::failed(*gone));
    outcome.sourceChecksum = entry.sourceDigest;
    const bool verify = run.options.verifyAfterCopy;
    if (verify) {
        struct stat now{};
        if (::stat(file.url.c_str(), &now) == 0 && now.st_size != file.byteSize)
            return settle(FileStatus::verificationFailed(sizeChangeText(file.byteSize, now.st_size)));
        if (entry.bytesCopied != file.byteSize)
            return settle(FileStatus::verificationFailed(sizeChangeText(file.byteSize, entry.bytesCopied)));
    }
    if (!sourceUnchanged(entry, file)) return settle(FileStatus::verificationFailed(SourceIdentity::changedText));

    if (verify) {
        // Read back only the file this run created, past the page cache.
        ChecksumEngine readBack(readBackChunkSize, identityOpener(run.io, copy.device(), copy.inode()));
        std::string destinationHash;
        ChecksumEngine::Progress progress;
        if (entry.onReadBack) {
            entry.onReadBack(0, entry.bytesCopied);
            progress = [&entry](int64_t done, int64_t) { entry.onReadBack(done, entry.bytesCopied); };
        }
        try {
            destinationHash = readBack.hash(copy.path(), true, run.isStopped, progress);
        } catch (const ChecksumCancelledError&) {
            return stop();
        } catch (const std::exception& error) {
            return settle(FileStatus::verificationFailed(
                std::string("Copied, but couldn't re-read the destination to verify: ") + error.what()));
        }
        outcome.destinationChecksum = destinationHash;
        if (destinationHash != entry.sourceDigest)
            return settle(
                FileStatus::verificationFailed("Checksum mismatch — the destination's bytes differ from the card's."));
        if (!sourceUnchanged(entry, file)) return settle(FileStatus::verificationFailed(SourceIdentity::changedText));
    }
    entry.pin = pinWhereRenumbered(entry.source.get(), file.url.c_str());
    entry.source.reset();

    // Proven: now it may take a final name, never replacing one taken since planning (by
    // another run's proven copy or by the user); the rules of planning decide again from
    // that name, with the digest of the bytes copied.
    DestinationPlan& plan = entry.plan;
    for (;;) {
        const int error = copy.place(plan.url);
        if (error == 0) break;
        if (error != EEXIST) return settle(FileStatus::failed(StreamCopier::cannotCreateText(plan.url, error)));
        if (!run.options.preserveStructure) run.usedFlatNames.erase(lowercased(plan.relativeName));
        run.planner.setComparingHandler([&entry](int64_t, int64_t) { entry.comparing = true; });
        plan = run.planner.plan(file.url, outcome.relativePath, run.root.volume(), plan.attempt, entry.sourceDigest);
        run.planner.setComparingHandler({});
        if (plan.kind == DestinationPlan::Kind::stopped) return stop();
        if (plan.kind == DestinationPlan::Kind::unresolvable) return settle(FileStatus::failed(plan.reason));
        if (plan.kind == DestinationPlan::Kind::skip) {
            if (auto gone = run.root.unavailableReason()) return settle(FileStatus::failed(*gone));
            settle(FileStatus::skippedAlreadyPresent());
            outcome.destinationURL = plan.url;
            outcome.sourceChecksum = plan.sourceHash;
            outcome.destinationChecksum = plan.destinationHash;
            entry.heldProgress.clear();  // nothing of this file's is at the destination
            return;
        }
    }
    outcome.destinationURL = plan.url;
    outcome.status = verify ? FileStatus::copiedVerified() : FileStatus::copiedNotVerified();
}

// Makes the new names of the batch's placed copies durable: one fsync per folder. The copies
// of a folder that cannot be flushed are taken out of their final names and fail.
void flushPlacedNames(std::vector<BatchEntry>& batch) {
    std::map<std::pair<dev_t, ino_t>, std::optional<std::string>> folders;
    for (BatchEntry& entry : batch) {
        if (!entry.copy) continue;
        WrittenCopy& copy = *entry.copy;
        struct stat st{};
        ::fstat(copy.folder(), &st);
        auto [it, added] = folders.emplace(std::pair{st.st_dev, st.st_ino}, std::nullopt);
        if (added) it->second = copy.flushFolder();
        if (!it->second) {
            entry.leftAtDestination = true;
            continue;
        }
        // A name that may not last is taken away again, so no final name holds a copy the run
        // calls failed; a copy that cannot be taken away is reported as what it is, proven.
        if (copy.withdraw()) {
            entry.outcome.status =
                FileStatus::verificationFailed("Copied, but couldn't flush the destination folder: " + *it->second);
            entry.outcome.finishedAt = nowEpoch();
            entry.copy.reset();
        } else {
            entry.leftAtDestination = true;
        }
    }
}

// Whether the file's failure met a destination that is gone now: one whose writing began (not
// an unreadable card folder, not a refused destination) while the run's root is gone.
bool destinationLeft(const BatchEntry& entry, std::optional<DestinationRoot>& root) {
    if (!root || entry.item->unreadableFolder || entry.outcome.status.reason == CopyEngine::destinationGoneText)
        return false;
    const auto reason = root->unavailableReason();
    return reason && *reason == CopyEngine::destinationGoneText;
}

// The card file as the proof of its copy (or of the file found present) found it.
CardFileRecord provenRecord(const std::string& relative, const SourceIdentity& identity, const std::string& digest) {
    CardFileRecord record;
    record.relative = relative;
    record.byteSize = identity.size;
    record.modified = {identity.modifiedSeconds, identity.modifiedNanoseconds};
    record.changed = {identity.changedSeconds, identity.changedNanoseconds};
    record.inode = identity.inode;
    record.digest = digest;
    return record;
}

// A listed file the run proved (copied, or found present), as its proof found it, pinned
// under that number until the closing look where the card numbers files afresh.
struct ProvenSource {
    size_t outcome = 0;  // index in CopyRun::outcomes
    SourceIdentity identity;
    UniqueFd pin;
};

// The pins one run keeps for its closing look, counted against one budget for the whole
// process (the runs of several sync pairs go on at once): half the descriptors the process
// may open, less a reserve for everything else. The files beyond are read again by the look.
class PinBudget {
public:
    PinBudget() = default;
    PinBudget(const PinBudget&) = delete;
    PinBudget& operator=(const PinBudget&) = delete;
    ~PinBudget() { held().fetch_sub(kept_); }

    // `pin` when the budget has room for it, else an empty descriptor.
    UniqueFd keep(UniqueFd pin) {
        if (!pin) return pin;
        if (held().fetch_add(1) >= limit()) {
            held().fetch_sub(1);
            return UniqueFd();
        }
        ++kept_;
        return pin;
    }

private:
    static std::atomic<size_t>& held() {
        static std::atomic<size_t> count{0};
        return count;
    }
    static size_t limit() {
        struct rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 4096;
        return limit.rlim_cur / 2 > 256 ? static_cast<size_t>(limit.rlim_cur / 2 - 256) : 0;
    }
    size_t kept_ = 0;
};

// The records of the listed files below `relativeTo` the run proved, as their proofs found
// them (number, size, times, the digest of the bytes proven), one per path, in path order.
std::vector<CardFileRecord> provenRecords(const CopyEngine::CopyRun& run, const std::vector<ProvenSource>& proven,
                                          const fs::path& relativeTo) {
    std::vector<CardFileRecord> records;
    const fs::path root = normalizedPath(relativeTo);
    for (const ProvenSource& source : proven) {
        const FileOutcome& outcome = run.outcomes[source.outcome];
        // Only a file listed below the card folder can be looked up there again.
        if (normalizedPath(root / outcome.relativePath) != normalizedPath(outcome.sourceURL)) continue;
        records.push_back(provenRecord(outcome.relativePath, source.identity, outcome.sourceChecksum.value_or("")));
    }
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.relative < b.relative; });
    records.erase(std::unique(records.begin(), records.end(),
                              [](const auto& a, const auto& b) { return a.relative == b.relative; }),
                  records.end());
    return records;
}

// The closing look of the file-list copy: each listed file it proved, compared with the
// state its proof found (the same number, or where the card's file system numbers files
// afresh, the same size and times and the bytes its copy proved).
std::vector<std::string> changedSinceProven(std::vector<CardFileRecord> records, const fs::path& relativeTo,
                                            const CopyEngine::EventHandler& onEvent) {
    using CheckingEvent = CopyEngine::CheckingEvent;
    std::vector<std::string> changed;
    const fs::path root = normalizedPath(relativeTo);
    const int all = static_cast<int>(records.size());
    if (all == 0) return changed;
    auto send = [&](int done) {
        if (onEvent) onEvent(CheckingEvent{CheckingEvent::Phase::cardAgain, done, all});
    };
    send(0);
    const auto mount = CardFileSet::mountOf(root);
    const auto numbering = CardFileComparison::between(mount, mount);
    changed = CardFileSet::changedSince(root, records, numbering, {},
                                        [&](int done, int total) { send(std::max(0, all - total) + done); });
    send(all);
    return changed;
}

}  // namespace

CopyEngine::CopyEngine() : io_(CopyFileIO::posix()) {}

CopyEngine::CopyEngine(std::shared_ptr<CopyFileIO> io) : io_(std::move(io)) {}

std::string CopyEngine::relativePath(const fs::path& file, const fs::path& root) {
    std::vector<std::string> rootParts = componentsOf(root);
    std::vector<std::string> fileParts = componentsOf(file);
    if (rootParts.size() < fileParts.size() && std::equal(rootParts.begin(), rootParts.end(), fileParts.begin())) {
        std::string joined;
        for (size_t i = rootParts.size(); i < fileParts.size(); ++i) {
            if (!joined.empty()) joined += '/';
            joined += fileParts[i];
        }
        return joined;
    }
    return lastComponent(file);
}

std::string CopyEngine::suffixedRelativePath(const std::string& name, int attempt) {
    if (attempt < 1) return name;
    size_t slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash);
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string stem = last;
    std::string extension;
    size_t dot = last.rfind('.');
    // A leading dot (".scratch") or a trailing one ("file.") is no extension.
    if (dot != std::string::npos && dot != 0 && dot + 1 != last.size()) {
        stem = last.substr(0, dot);
        extension = last.substr(dot + 1);
    }
    std::string result = stem + "_" + std::to_string(attempt);
    if (!extension.empty()) result += "." + extension;
    return folder.empty() ? result : folder + "/" + result;
}

CopyEngine::CopyRun CopyEngine::copy(const fs::path& card, const fs::path& destination, const Options& options,
                                     const SettleOptions& settle, const CancelTest& isCancelled,
                                     const EventHandler& onEvent) const {
    return copyCardFolder(card, {}, destination, options, settle, isCancelled, onEvent);
}

CopyEngine::CopyRun CopyEngine::copyCardFolder(const fs::path& cardRoot, const fs::path& folderOnCard,
                                               const fs::path& destination, const Options& options,
                                               const SettleOptions& settle, const CancelTest& isCancelled,
                                               const EventHandler& onEvent) const {
    const fs::path card = folderOnCard.empty() ? cardRoot : cardRoot / folderOnCard;
    checkChunkSize(options.chunkSize);
    if (const auto onCard = destinationOnCard(destination, card))
        throw CopyError::destinationInsideSource(card, onCard->doubt);
    if (!options.destinationVolume && DestinationRoot::notConnectedReason(normalizedPath(destination)))
        throw CopyError::destinationNotConnected(card, normalizedPath(destination));
    auto send = [&](Event event) {
        if (onEvent) onEvent(event);
    };
    auto cancelled = [&] {
        send(CancelledEvent{});
        return CopyRun{{}, true, 0, 0};
    };

    IdleSettleDetector::Outcome settled = IdleSettleDetector().waitUntilSettled(
        card, settle, isCancelled, [&](double remaining) { send(SettlingEvent{remaining}); });
    if (settled == IdleSettleDetector::Outcome::cancelled) return cancelled();
    if (settled == IdleSettleDetector::Outcome::timedOut) send(SettleTimedOutEvent{});
    if (isCancelled && isCancelled()) return cancelled();

    // Every file an erase of the card deletes (hidden ones, camera support folders, files of
    // any type), as the scan and the erase gate count them: a file left behind would make a
    // card that still needs it look safe to reuse.
    CardFileSet set;
    try {
        set = CardFileSet::read(card, folderOnCard.native());
    } catch (const std::exception& error) {
        throw CopyError::cannotScanSource(card, error.what());
    }
    std::vector<MediaFile> files;
    files.reserve(set.files.size());
    // The copy order is the paths' (NFC) order, whatever each file's kind.
    for (const CardFileRecord& record : set.files)
        files.push_back({card / record.relative, MediaFile::Kind::other, record.byteSize});
    std::vector<fs::path> unreadable;
    for (const std::string& folder : set.unreadableFolders) unreadable.push_back(card / folder);
    // The verdict must hold for the card as it is when the run ends: what was written to it
    // meanwhile, or taken from it, was not copied as it stands. Files that already failed
    // are named by their outcome. Run once every file is handled, with the proven ones pinned.
    auto look = [&](const CopyRun& run, const std::vector<CardFileRecord>& proven) {
        // The digests of the bytes copied let a file renumbered meanwhile be judged by its bytes.
        std::map<std::string, std::string> copiedDigests;
        std::set<std::string> failed;
        for (const FileOutcome& outcome : run.outcomes) {
            if (!outcome.status.landedSafely()) failed.insert(outcome.relativePath);
            else if (outcome.sourceChecksum) copiedDigests[outcome.relativePath] = *outcome.sourceChecksum;
        }
        // Where the card renumbers, a file as the walk found it but for its number is known by
        // the number its proof found, which its pin keeps: the look need not read it again.
        std::map<std::string, const CardFileRecord*> provenByPath;
        if (set.mount && !set.mount->keepsInodeNumbers)
            for (const CardFileRecord& record : proven) provenByPath[record.relative] = &record;
        for (CardFileRecord& record : set.files) {
            if (auto digest = copiedDigests.find(record.relative); digest != copiedDigests.end())
                record.digest = digest->second;
            if (auto found = provenByPath.find(record.relative); found != provenByPath.end()) {
                const CardFileRecord& atProof = *found->second;
                if (atProof.byteSize == record.byteSize && atProof.modified == record.modified &&
                    atProof.changed == record.changed && atProof.digest == record.digest)
                    record.inode = atProof.inode;
            }
        }
        auto checked = [&](int done, int total) {
            if (onEvent) onEvent(CheckingEvent{CheckingEvent::Phase::cardAgain, done, total});
        };
        std::vector<std::string> changed;
        for (std::string& path : CardChangeCheck::changedSince(set, card, folderOnCard.native(), checked))
            if (!failed.count(path)) changed.push_back(std::move(path));
        return changed;
    };
    return copyList(files, unreadable, card, destination, options, isCancelled, onEvent, look);
}

CopyEngine::CopyRun CopyEngine::copy(const std::vector<MediaFile>& files, const fs::path& relativeTo,
                                     const fs::path& destination, const Options& options,
                                     const CancelTest& isCancelled, const EventHandler& onEvent) const {
    return copyList(files, {}, relativeTo, destination, options, isCancelled, onEvent, {});
}

CopyEngine::CopyRun CopyEngine::copyList(const std::vector<MediaFile>& files,
                                         const std::vector<fs::path>& unreadableFolders, const fs::path& relativeTo,
                                         const fs::path& destination, const Options& options,
                                         const CancelTest& isCancelled, const EventHandler& onEvent,
                                         const CardLook& cardLook) const {
    checkChunkSize(options.chunkSize);
    auto send = [&](Event event) {
        if (onEvent) onEvent(event);
    };

    // A folder of the card that could not be read holds files nobody copied: each is a
    // failed entry of the run, so the run can never call the card safe to reuse.
    std::vector<MediaFile> folders;
    for (const fs::path& folder : unreadableFolders) folders.push_back(MediaFile{folder, MediaFile::Kind::media, 0});
    std::vector<SortItem> order;
    order.reserve(files.size() + folders.size());
    for (const MediaFile& file : files) order.push_back({nfcNormalized(file.url.native()), &file, false});
    for (const MediaFile& folder : folders) order.push_back({nfcNormalized(folder.url.native()), &folder, true});
    std::stable_sort(order.begin(), order.end(), [](const SortItem& a, const SortItem& b) { return a.key < b.key; });

    CopyRun run;
    run.plannedFileCount = static_cast<int>(order.size());
    for (const SortItem& item : order) run.plannedBytes += item.file->byteSize;
    send(PlannedEvent{run.plannedFileCount, run.plannedBytes});

    const fs::path destinationRoot = normalizedPath(destination);
    std::optional<std::string> refusal;
    if (const auto onCard = destinationOnCard(destinationRoot, relativeTo))
        refusal = CopyError::destinationOnCardText(onCard->doubt);
    else if (!options.destinationVolume) refusal = DestinationRoot::notConnectedReason(destinationRoot);
    // Created (when missing) at the first file that may be written, never when refused.
    std::optional<DestinationRoot> root;
    std::optional<StreamCopier> copier;
    std::set<std::string> usedFlatNames;
    DestinationPlanner planner(*io_, destinationRoot, options, usedFlatNames, isCancelled);
    int64_t handledBytes = 0;

    // Starts the file at `index`: settles it or writes it (true), with progress sent by `onBytes`.
    auto startFile = [&](int index, BatchEntry& entry, const std::function<void(int64_t)>& onBytes,
                         const DestinationPlanner::ComparingHandler& onComparing) {
        const SortItem& item = order[static_cast<size_t>(index)];
        const MediaFile& file = *item.file;
        entry.item = &item;
        FileOutcome& outcome = entry.outcome;
        outcome.sourceURL = file.url;
        outcome.relativePath = relativePath(file.url, relativeTo);
        outcome.byteSize = file.byteSize;
        outcome.startedAt = nowEpoch();
        if (item.unreadableFolder) {
            outcome.destinationURL = destinationRoot / outcome.relativePath;
            outcome.status = FileStatus::failed("Couldn't read this folder on the card, so its files were not copied.");
            outcome.finishedAt = outcome.startedAt;
            return false;
        }
        if (refusal) {
            outcome.destinationURL = destinationRoot / outcome.relativePath;
            outcome.status = FileStatus::failed(*refusal);
            outcome.finishedAt = outcome.startedAt;
            return false;
        }
        if (!root) root.emplace(*io_, destinationRoot, options.destinationVolume);
        if (!copier) copier.emplace(*io_, options.chunkSize);
        RunContext context{*io_, options, *root, planner, *copier, usedFlatNames, isCancelled};
        const bool wrote = writeFile(context, file, entry, onBytes, onComparing);
        if (!wrote) outcome.finishedAt = nowEpoch();
        return wrote;
    };
    auto cancelledNow = [&] {
        if (!isCancelled || !isCancelled()) return false;
        send(CancelledEvent{});
        run.wasCancelled = true;
        return true;
    };

    std::vector<BatchEntry> batch;
    PinBudget pins;
    std::vector<ProvenSource> proven;
    int index = 0;
    while (index < run.plannedFileCount) {
        // The batch's first file: cancellation test, start and progress as they happen.
        if (cancelledNow()) return run;
        batch.clear();
        batch.reserve(batchFilesLimit);
        batch.emplace_back();
        send(FileStartedEvent{lastComponent(order[static_cast<size_t>(index)].file->url), index, run.plannedFileCount});
        const int64_t firstBytes = order[static_cast<size_t>(index)].file->byteSize;
        const int firstIndex = index;
        bool written = startFile(
            index, batch.back(),
            [&](int64_t bytes) { send(FileProgressEvent{bytes, firstBytes, handledBytes + bytes, run.plannedBytes}); },
            [&](int64_t read, int64_t toRead) {
                send(CheckingEvent{CheckingEvent::Phase::filesOnDrive, firstIndex + 1, run.plannedFileCount, read,
                                   toRead});
            });
        batch.back().onReadBack = [&](int64_t read, int64_t toRead) {
            send(CheckingEvent{CheckingEvent::Phase::readBack, firstIndex + 1, run.plannedFileCount, read, toRead});
        };

        // The files written ahead, with their progress held back.
        int64_t batchBytes = firstBytes;
        int64_t heldEvents = 0;
        int next = index + 1;
        while (next < run.plannedFileCount && batch.size() < batchFilesLimit) {
            if (batch.back().stopped || (isCancelled && isCancelled())) break;
            const MediaFile& file = *order[static_cast<size_t>(next)].file;
            const int64_t expectedEvents = std::max<int64_t>(file.byteSize, 0) / options.chunkSize + 1;
            if (batchBytes + file.byteSize > batchBytesLimit || heldEvents + expectedEvents > batchEventsLimit) break;
            BatchEntry& entry = batch.emplace_back();
            written |= startFile(
                next, entry, [&](int64_t bytes) { entry.heldProgress.push_back(bytes); },
                [&](int64_t, int64_t) { entry.comparing = true; });
            batchBytes += file.byteSize;
            heldEvents += static_cast<int64_t>(entry.heldProgress.size());
            ++next;
        }

        if (written) {
            RunContext context{*io_, options, *root, planner, *copier, usedFlatNames, isCancelled};
            if (batch.size() > 1 && !(isCancelled && isCancelled())) flushFileSystems(*io_, batch);
            // Proven in order; once one is cut off by a stop, every later copy is removed unproven.
            bool cut = false;
            for (BatchEntry& entry : batch) {
                if (!entry.copy) continue;
                if (cut) {
                    entry.copy.reset();
                    entry.source.reset();
                    entry.stopped = true;
                    continue;
                }
                proveAndPlace(context, *entry.item->file, entry);
                entry.outcome.finishedAt = nowEpoch();
                cut = entry.stopped;
            }
            flushPlacedNames(batch);
        }
        bool stopped = false;
        for (size_t k = 0; k < batch.size(); ++k, ++index) {
            FileOutcome& outcome = batch[k].outcome;
            // A file cut off by a stop left nothing at the destination and is not counted.
            if (batch[k].stopped) stopped = run.wasCancelled = true;
            if (k == 0 && stopped) continue;
            if (k > 0) {
                // Every copy of the batch is settled: a proven one stays under its final name.
                // After a stop only the copies this run left at the destination are still
                // reported, so that the stopped run's log lists every file it put there.
                if (!stopped && isCancelled && isCancelled()) stopped = run.wasCancelled = true;
                if (stopped && !batch[k].leftAtDestination) continue;
                send(FileStartedEvent{lastComponent(outcome.sourceURL), index, run.plannedFileCount});
            }
            // Held back: a comparison with a file at the destination, and the progress of the
            // files after the first (whose own was sent as it happened).
            if (batch[k].comparing)
                send(CheckingEvent{CheckingEvent::Phase::filesOnDrive, index + 1, run.plannedFileCount});
            for (int64_t bytes : batch[k].heldProgress)
                send(FileProgressEvent{bytes, outcome.byteSize, handledBytes + bytes, run.plannedBytes});
            // Reported only while it is where it was proven: a drive pulled since, or a name
            // that leads elsewhere now, fails it, and takes the copy out of its final name
            // (a copy that cannot be taken out is reported as what it is, proven).
            // A file's time is its own: from its start to its proof (or to the failure that
            // settled it), not to the end of its batch; an outcome settled only here ends now.
            bool settledNow = outcome.finishedAt < outcome.startedAt;
            if (auto& placed = batch[k].copy) {
                if (!root->stillHolds(*placed, outcome.sourceChecksum.value_or(std::string())) && placed->withdraw()) {
                    outcome.status = FileStatus::failed(destinationGoneText);
                    settledNow = true;
                }
                placed.reset();
            } else if (outcome.status.kind == FileStatus::Kind::skippedAlreadyPresent && root &&
                       root->unavailableReason()) {
                outcome.status = FileStatus::failed(destinationGoneText);
                settledNow = true;
            }
            // A drive that left fails what it took with it in the run's words, whatever error
            // each call met (a FUSE drive whose daemon died answers "not connected").
            if (!outcome.status.landedSafely() && destinationLeft(batch[k], root))
                outcome.status = FileStatus::failed(destinationGoneText);
            if (settledNow) outcome.finishedAt = nowEpoch();
            handledBytes += outcome.byteSize;
            if (outcome.status.landedSafely() && batch[k].sourceBefore) {
                proven.push_back({run.outcomes.size(), *batch[k].sourceBefore, pins.keep(std::move(batch[k].pin))});
            }
            run.outcomes.push_back(outcome);
            send(FileFinishedEvent{std::move(outcome), index, run.plannedFileCount});
        }
        if (stopped) {
            send(CancelledEvent{});
            return run;
        }
    }
    // With the proven files still pinned.
    if (cardLook) run.changedOnCard = cardLook(run, provenRecords(run, proven, relativeTo));
    else run.changedOnCard = changedSinceProven(provenRecords(run, proven, relativeTo), relativeTo, onEvent);
    return run;
}

}  // namespace tessaline
