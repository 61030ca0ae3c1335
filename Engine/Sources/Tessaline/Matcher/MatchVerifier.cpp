#include "Tessaline/Matcher/MatchVerifier.hpp"

#include "Tessaline/Matcher/CopyLeads.hpp"
#include "Tessaline/Matcher/ProofSession.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// Claims whose files are hashed ahead of the proof in hand: enough to keep the pool's
// threads busy between proofs, few enough that little is read for a proof a stop skips.
constexpr size_t readAheadClaims = 2;
// The other members of a clip whose likely copies are hashed while one is proven (about a
// folder's burst). Measured reason: each member's copy hashed only when its proof asked for
// it made the proofs of a card of small files wait on the hashing threads file by file, and
// the scan's proof stage took twice as long.
constexpr size_t membersAhead = 32;
// The bound on a run's reading: this many times the bytes of the card files it proves.
// The likely copies of every card file take at most three times (the card file and two
// candidates); the rest is for copies beside the proven copies of a card folder's other files
// and for the matcher's few candidates, of which at most the card's own bytes go to
// candidates read on a weak lead (further same-named files, or a long list of the card
// file's kind). Measured reason for the second bound: a card not yet copied finds nothing
// that way, and reading its whole bound of an archive's frames of the same names and size
// more than tripled the scan.
constexpr int64_t readLimitFactor = 4;
constexpr int64_t blindLimitFactor = 1;
// Other files are mostly small (metadata, support files, notes): their proofs, opens and
// stats rather than reads, run side by side on one prover per hardware thread (2 to 8), each
// with a session of its own that reads both files itself (handing a small file to a hashing
// thread costs more than reading it).
constexpr int otherFileProverHashThreads = 0;
int otherFileProverCount() { return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 8); }

bool isClaim(MatchStatus::Kind kind) {
    return kind == MatchStatus::Kind::confirmed || kind == MatchStatus::Kind::possibleDuplicate;
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

// Where a clip's files stand while it is proven: the first primary's copies (drive numbers)
// once found, the next file to prove (0 the first primary, then the other members), and per
// primary file whether it has a proven copy (those before `next` decided).
struct ClipProof {
    std::vector<size_t> firstAt;
    size_t next = 0;
    std::vector<bool> proven;
};

// Queues the likely copies of the first members after the first file of `group` (the proof
// of each member then keeps the queue that far ahead).
void readMembersAhead(ProofSession& session, const ClipGroup& group) {
    const auto& members = group.primaryFiles;
    for (size_t m = 1; m < members.size() && m <= membersAhead; ++m) session.readAhead(session.memberFile(members[m]));
}

// The members from `proof.next` on proven in turn, each marked in `proof.proven`; their likely
// copies are hashed `membersAhead` members ahead (the first ones by readMembersAhead()).
// Without `full`, each at its likely copy only, stopping at the first member not proven
// (`proof.next` left there, for the full search to go on from). With `full`, each anywhere
// within the bound, and every member is examined, so a clip that is not proven names the
// files at fault. Whether every member examined so far is proven; a stop leaves the rest
// unproven.
bool membersProven(ProofSession& session, const ClipGroup& group, ClipProof& proof, bool full) {
    const auto& members = group.primaryFiles;
    proof.proven.resize(members.size(), false);
    bool all = true;
    for (; proof.next < members.size(); ++proof.next) {
        if (session.cancelled()) return false;
        if (const size_t ahead = proof.next + membersAhead; ahead < members.size())
            session.readAhead(session.memberFile(members[ahead]));
        const ProofSession::CardFile member = session.memberFile(members[proof.next]);
        proof.proven[proof.next] = (full ? session.fullSearch(member) : session.likelyCopy(member)).has_value();
        if (proof.proven[proof.next]) continue;
        if (!full) return false;
        all = false;
    }
    return all && std::find(proof.proven.begin(), proof.proven.end(), false) == proof.proven.end();
}

// The walk over the claims of one verify() call, whatever form they come in: progress(0,
// total) first, each claim examined (confirmed, possible duplicate, or a missing clip whose
// other members may be on a drive) proven in order with one progress call after it, the
// others passed on; once stopped, every later claim unchanged. A claim whose files are not
// all proven at their likely copies waits until every other claim was proven (so the drive
// folders of its card folder's copies are known) and is then searched within the bound.
struct ClaimWalk {
    size_t count = 0;
    std::function<bool(size_t)> examines;
    std::function<const ClipGroup&(size_t)> groupOf;
    std::function<MatchStatus(size_t)> unchanged;
    std::function<void(size_t)> readAhead;
    // Confirmed and possible duplicate claims; none: the claim waits (`full` false only).
    std::function<std::optional<ClaimProof>(size_t, ClipProof&, bool full)> prove;

    std::vector<MatchResult> run(ProofSession& session, const MatchVerifier::Progress& progress,
                                 std::vector<UncountedCopy>* uncounted, std::vector<CardFileDigest>* cardDigests,
                                 std::vector<UnreadCandidates>* unread) const {
        int total = 0;
        for (size_t g = 0; g < count; ++g) total += examines(g);
        if (progress) progress(0, total);
        if (cardDigests) session.keepProvenCardFiles();
        std::vector<std::optional<ClaimProof>> outcomes(count);
        std::vector<std::pair<size_t, ClipProof>> waiting;
        int done = 0;
        size_t ahead = 0;
        auto settle = [&](size_t g, ClaimProof outcome) {
            outcomes[g] = std::move(outcome);
            ++done;
            if (progress) progress(done, total);
        };
        for (size_t g = 0; g < count; ++g) {
            if (groupOf(g).primaryFiles.empty() || session.cancelled() || !examines(g)) continue;
            for (; ahead < count && ahead <= g + readAheadClaims; ++ahead) readAhead(ahead);
            ClipProof proof;
            if (auto outcome = prove(g, proof, false))
                settle(g, std::move(*outcome));
            else if (!session.cancelled())
                waiting.emplace_back(g, std::move(proof));
            else
                settle(g, {MatchStatus::missing(), {}});  // the proof a stop cut short proves nothing
        }
        for (auto& [g, proof] : waiting) {
            if (session.cancelled()) break;
            settle(g, *prove(g, proof, true));
        }
        std::vector<MatchResult> verified;
        verified.reserve(count);
        for (size_t g = 0; g < count; ++g) {
            if (outcomes[g])
                verified.push_back({groupOf(g), std::move(outcomes[g]->status), std::move(outcomes[g]->members)});
            else
                verified.push_back({groupOf(g), unchanged(g)});
        }
        if (uncounted) {
            uncounted->insert(uncounted->end(), session.uncounted().begin(), session.uncounted().end());
            UncountedCopy::tidy(*uncounted);
        }
        if (cardDigests) cardDigests->insert(cardDigests->end(), session.provenCardFiles().begin(), session.provenCardFiles().end());
        if (unread) {
            // Only the files of clips left unproven: a clip proven after all needs no reason.
            for (const UnreadCandidates& note : session.unread())
                for (size_t g = 0; g < count; ++g)
                    if (verified[g].status.kind() == MatchStatus::Kind::missing &&
                        std::any_of(verified[g].group.primaryFiles.begin(), verified[g].group.primaryFiles.end(),
                                    [&](const Fingerprint& f) { return f.url == note.cardFile; }))
                        unread->push_back(note);
            UnreadCandidates::tidy(*unread);
        }
        return verified;
    }
};

// The bound on reading for card files of `bytes` more: four times them, or with a tally, four
// times all its card bytes less all its reads (the tally gains the bytes).
int64_t readLimit(int64_t bytes, ProofTally* tally) {
    if (!tally) return readLimitFactor * bytes;
    tally->cardBytes += bytes;
    return std::max<int64_t>(0, readLimitFactor * tally->cardBytes - tally->bytesRead);
}

// The limits of proving the claims examined: four times the bytes of their card files in all
// (with a tally, as readLimit() says), those bytes without a lead, the sizes of those files,
// the tally's copy roots.
ProofLimits claimLimits(size_t count, const std::function<bool(size_t)>& examines,
                        const std::function<const ClipGroup&(size_t)>& groupOf, double tolerance, ProofTally* tally) {
    ProofLimits limits;
    int64_t bytes = 0;
    for (size_t g = 0; g < count; ++g) {
        if (!examines(g)) continue;
        bytes += std::max<int64_t>(0, groupOf(g).totalByteSize());
        for (const Fingerprint& file : groupOf(g).primaryFiles) limits.cardSizes.push_back(file.byteSize);
    }
    limits.readLimit = readLimit(bytes, tally);
    limits.blindLimit = blindLimitFactor * bytes;
    limits.tolerance = tolerance;
    if (tally) limits.copyRoots = tally->copyRoots;
    return limits;
}

}  // namespace

MatchVerifier::MatchVerifier(ChecksumEngine checksum, std::optional<fs::path> cardRoot)
    : checksum_(std::move(checksum)), cardRoot_(std::move(cardRoot)) {}

std::vector<MatchResult> MatchVerifier::verify(const std::vector<MatchResult>& results, const std::vector<Fingerprint>& drives,
                                               const CancelTest& isCancelled, const Progress& progress,
                                               std::vector<UncountedCopy>* uncounted,
                                               std::vector<CardFileDigest>* cardDigests) const {
    ClaimWalk walk;
    walk.count = results.size();
    walk.examines = [&](size_t g) { return isClaim(results[g].status.kind()); };
    walk.groupOf = [&](size_t g) -> const ClipGroup& { return results[g].group; };
    ProofSession session(checksum_, cardRoot_, drives, isCancelled, ProofHashPool::defaultThreadCount(),
                         claimLimits(walk.count, walk.examines, walk.groupOf, ProofLimits{}.tolerance, nullptr));
    walk.unchanged = [&](size_t g) { return results[g].status; };
    walk.readAhead = [&](size_t g) {
        session.readAhead(results[g]);
        if (!results[g].group.primaryFiles.empty() && isClaim(results[g].status.kind()))
            readMembersAhead(session, results[g].group);
    };
    walk.prove = [&](size_t g, ClipProof& proof, bool) -> std::optional<ClaimProof> {
        // The given locations are proven in turn, each; the other members anywhere.
        const ClipGroup& group = results[g].group;
        const fs::path& first = group.primaryFiles.front().url;
        std::vector<fs::path> proven;
        for (const fs::path& location : results[g].status.locations())
            if (session.prove(first, location)) proven.push_back(location);
        proof.proven.assign(group.primaryFiles.size(), false);
        proof.proven[0] = !proven.empty();
        proof.next = 1;
        membersProven(session, group, proof, true);
        return narrowed(std::move(proven), std::move(proof.proven));
    };
    return walk.run(session, progress, uncounted, cardDigests, nullptr);
}

std::vector<MatchResult> MatchVerifier::verify(const MatchClaims& claims, const CancelTest& isCancelled,
                                               const Progress& progress, std::vector<UncountedCopy>* uncounted,
                                               std::vector<CardFileDigest>* cardDigests,
                                               std::vector<UnreadCandidates>* unread, ProofTally* tally) const {
    const std::vector<Fingerprint>& drives = claims.drives();
    ClaimWalk walk;
    walk.count = claims.size();
    walk.examines = [&](size_t g) { return isClaim(claims.claim(g).kind) || claims.claim(g).membersOnDrives; };
    walk.groupOf = [&](size_t g) -> const ClipGroup& { return claims.group(g); };
    ProofSession session(checksum_, cardRoot_, drives, isCancelled, ProofHashPool::defaultThreadCount(),
                         claimLimits(walk.count, walk.examines, walk.groupOf, claims.captureTimeTolerance(), tally));
    auto firstFile = [&](size_t g) {
        const MatchClaims::Claim& claim = claims.claim(g);
        ProofSession::CardFile card{claims.group(g).primaryFiles.front(), claims.candidates(g), std::nullopt, std::nullopt};
        if (claim.kind == MatchStatus::Kind::confirmed) card.nearest = claim.drive;
        return card;
    };
    walk.unchanged = [&](size_t g) {
        const MatchClaims::Claim& claim = claims.claim(g);
        if (claim.kind == MatchStatus::Kind::possibleDuplicate) return MatchStatus::possibleDuplicate({drives[claim.drive].url});
        return claims.status(g);
    };
    walk.readAhead = [&](size_t g) {
        if (claims.group(g).primaryFiles.empty() || !walk.examines(g)) return;
        if (isClaim(claims.claim(g).kind)) session.readAhead(firstFile(g));
        readMembersAhead(session, claims.group(g));
    };
    walk.prove = [&](size_t g, ClipProof& proof, bool full) -> std::optional<ClaimProof> {
        const ClipGroup& group = claims.group(g);
        const ProofSession::CardFile first = firstFile(g);
        proof.proven.resize(group.primaryFiles.size(), false);
        if (proof.next == 0 && !isClaim(claims.claim(g).kind)) {
            proof.next = 1;  // the first file fits no drive file: only its members are looked for
        } else if (proof.next == 0) {
            const std::optional<size_t> at = full ? session.fullSearch(first) : session.likelyCopy(first);
            if (!at && !full) return std::nullopt;
            if (at) {
                proof.firstAt = {*at};
                if (claims.claim(g).kind == MatchStatus::Kind::possibleDuplicate &&
                    first.list.size() <= ProofSession::fewCandidates)
                    proof.firstAt = session.allCopies(first, *at);
            }
            proof.proven[0] = at.has_value();
            proof.next = 1;
        }
        // Members are searched for even when the first file has no copy: a clip not proven
        // names the members at fault.
        if (!membersProven(session, group, proof, full) && !full && !session.cancelled() &&
            proof.next < group.primaryFiles.size())
            return std::nullopt;
        if (session.cancelled()) return ClaimProof{MatchStatus::missing(), {}};
        std::vector<fs::path> proven;
        for (size_t i : proof.firstAt) proven.push_back(drives[i].url);
        return narrowed(std::move(proven), std::move(proof.proven));
    };
    if (uncounted) session.notePassedOver(claims.passedOver());
    std::vector<MatchResult> verified = walk.run(session, progress, uncounted, cardDigests, unread);
    if (tally) {
        tally->bytesRead += session.bytesRead();
        tally->copyRoots = session.copyRoots();
    }
    return verified;
}

std::vector<OtherFile> MatchVerifier::verifyOtherFiles(std::vector<OtherFile> files,
                                                       const std::vector<MediaFile>& driveFiles,
                                                       const CancelTest& isCancelled, const Progress& progress,
                                                       std::vector<UncountedCopy>* uncounted,
                                                       std::vector<CardFileDigest>* cardDigests,
                                                       std::vector<UnreadCandidates>* unread, ProofTally* tally) const {
    const int total = static_cast<int>(files.size());
    if (progress) progress(0, total);
    if (files.empty()) return files;

    std::unordered_map<std::string, std::vector<size_t>> driveByName;
    for (size_t i = 0; i < driveFiles.size(); ++i)
        driveByName[asciiLowercased(lastComponent(driveFiles[i].url))].push_back(i);
    CopyLeads leads(cardRoot_);
    if (tally) leads.addRoots(tally->copyRoots);

    // Each file's candidates: same name (ASCII case ignored) and size, likeliest first (at a
    // copy root, sharing more of its place, not dated before it), then in drive order.
    std::vector<std::vector<fs::path>> candidates(files.size());
    int64_t bytes = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        bytes += std::max<int64_t>(0, files[f].byteSize);
        auto it = driveByName.find(asciiLowercased(lastComponent(files[f].url)));
        if (it == driveByName.end()) continue;
        std::vector<size_t> fitting;
        for (size_t i : it->second)
            if (driveFiles[i].byteSize == files[f].byteSize) fitting.push_back(i);
        if (fitting.size() > 1) {
            const CopyLeads::Place place = leads.placeOf(files[f].url.native());
            const std::optional<double> modified = CopyLeads::modified(files[f].url.c_str());
            std::vector<std::tuple<size_t, size_t, int, size_t>> ranked;  // (root, unshared, date doubt, drive number)
            for (size_t i : fitting) {
                const CopyLeads::Rank rank = leads.rank(place, modified, asciiLowercased(driveFiles[i].url.native()),
                                                        [&] { return CopyLeads::modified(driveFiles[i].url.c_str()); });
                ranked.emplace_back(rank.root, rank.unshared, rank.doubt, i);
            }
            std::sort(ranked.begin(), ranked.end());
            for (size_t k = 0; k < ranked.size(); ++k) fitting[k] = std::get<3>(ranked[k]);
        }
        for (size_t i : fitting) candidates[f].push_back(driveFiles[i].url);
    }
    // One bound for all provers. Each file's likeliest candidate is read whatever the others
    // read (its reading, with the file's own, is set aside first: at most twice the files'
    // bytes of the bound's four times); each further candidate is read only once reserved.
    const int64_t limit = readLimit(bytes, tally);
    int64_t firstReads = 0;
    for (size_t f = 0; f < files.size(); ++f)
        if (!candidates[f].empty()) firstReads += 2 * std::max<int64_t>(0, files[f].byteSize);
    std::atomic<int64_t> reserved{firstReads};
    auto reserve = [&](int64_t size) {
        size = std::max<int64_t>(0, size);
        if (reserved.fetch_add(size) + size <= limit) return true;
        reserved.fetch_sub(size);
        return false;
    };
    std::vector<std::optional<UnreadCandidates>> unreadOf(files.size());

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
            size_t tried = 0;
            for (const fs::path& candidate : candidates[f]) {
                if (tried > 0 && !reserve(files[f].byteSize)) break;
                ++tried;
                if (session.prove(files[f].url, candidate)) {
                    files[f].provenAt = candidate;
                    break;
                }
            }
            if (const auto left = int64_t(candidates[f].size() - tried); !files[f].provenAt && left > 0)
                unreadOf[f] = UnreadCandidates{files[f].url, files[f].byteSize, left, int64_t(candidates[f].size()), left};
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
    if (tally) tally->bytesRead += reserved.load();
    if (unread && !stop) {
        for (auto& note : unreadOf)
            if (note) unread->push_back(std::move(*note));
        UnreadCandidates::tidy(*unread);
    }
    if (cardDigests)
        std::sort(cardDigests->begin(), cardDigests->end(),
                  [](const CardFileDigest& a, const CardFileDigest& b) { return a.url.native() < b.url.native(); });
    return files;
}

}  // namespace tessaline
