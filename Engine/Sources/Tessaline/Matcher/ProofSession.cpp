#include "Tessaline/Matcher/ProofSession.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr int maxAttempts = 3;
// Drive files queued on the hashing pool ahead of a search through the rest of a card file's
// candidates: enough to keep the pool's threads busy, few enough that little is read past
// the copy that proves.
constexpr size_t searchAhead = 4;
// How far from a date the search for the nearest fitting drive file of a clip's other member
// looks, in drive files of its size sorted by date.
constexpr size_t nearestSteps = 32;

std::optional<fs::path> resolved(const fs::path& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return std::nullopt;
    return fs::path(buffer);
}

uint64_t hexValue(const std::string& hex) {
    uint64_t value = 0;
    std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    return value;
}

// The digest of a version hashed before, as its hex text.
std::string hexText(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

double distance(const std::optional<EpochSeconds>& a, const std::optional<EpochSeconds>& b) {
    if (!a || !b) return std::numeric_limits<double>::infinity();
    const double d = std::fabs(*a - *b);
    return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
}

}  // namespace

size_t ProofSession::VersionHash::operator()(const Version& v) const {
    const auto [device, inode, size, seconds, nanoseconds] = v;
    uint64_t h = uint64_t(device) * 0x9e3779b97f4a7c15ull ^ uint64_t(inode);
    h = (h ^ (h >> 29)) * 0xbf58476d1ce4e5b9ull ^ uint64_t(size) ^ (uint64_t(seconds) << 20) ^ uint64_t(nanoseconds);
    return size_t(h ^ (h >> 32));
}

size_t ProofSession::SizeDigestHash::operator()(const std::pair<int64_t, uint64_t>& k) const {
    uint64_t h = uint64_t(k.first) * 0x9e3779b97f4a7c15ull ^ k.second;
    return size_t(h ^ (h >> 31));
}

ProofSession::ProofSession(const ChecksumEngine& checksum, const std::optional<fs::path>& cardRoot,
                           const std::vector<Fingerprint>& drives, const MatchVerifier::CancelTest& isCancelled,
                           int poolThreads, ProofLimits limits)
    : checksum_(checksum),
      drives_(drives),
      isCancelled_(isCancelled),
      buckets_(drives, std::move(limits.cardSizes)),
      tolerance_(limits.tolerance),
      readLimit_(limits.readLimit),
      blindLimit_(limits.blindLimit),
      examined_(drives.size(), 0),
      leads_(cardRoot),
      pool_(poolThreads > 0 ? std::make_unique<ProofHashPool>(checksum, poolThreads) : nullptr) {
    leads_.addRoots(limits.copyRoots);
    if (cardRoot) {
        auto real = resolved(*cardRoot);
        cardRoot_ = real.value_or(normalizedPath(*cardRoot));
        if (real) cardPlace_ = places_.emplace().ofCanonical(*real);
    }
}

bool ProofSession::cancelled() {
    const bool stop = isCancelled_ && isCancelled_();
    if (stop && pool_) pool_->stop();
    return stop;
}

bool ProofSession::prove(const fs::path& card, const fs::path& drive, std::optional<uint64_t>* driveDigest) {
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
            std::string driveHex = digest(drive, driveStat);
            if (driveDigest) *driveDigest = hexValue(driveHex);
            if (cardDigest != driveHex) return false;
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

ProofSession::CardFile ProofSession::memberFile(const Fingerprint& member) {
    CardFile card{member, buckets_.ofSize(member.byteSize), FingerprintKey::of(member), std::nullopt};
    card.nearest = nearestFitting(member, *card.key);
    return card;
}

bool ProofSession::contains(const CardFile& card, size_t i) const {
    if (card.key) return card.key->fits(drives_[i], tolerance_);
    return std::binary_search(card.list.begin(), card.list.end(), static_cast<Index>(i));
}

ProofSession::CardLeads ProofSession::leadsOf(const CardFile& card) const {
    const std::string& path = card.file.url.native();
    return {leads_.placeOf(path), std::string(DriveBuckets::folderOf(path)), CopyLeads::modified(path.c_str())};
}

std::optional<double> ProofSession::modifiedOf(size_t i) {
    auto [it, added] = modified_.try_emplace(static_cast<Index>(i));
    if (added) it->second = CopyLeads::modified(drives_[i].url.c_str());
    return it->second;
}

ProofSession::Likelihood ProofSession::likelihood(const CardFile& card, const CardLeads& leads, size_t i) {
    const std::string& path = drives_[i].url.native();
    const std::string folder(DriveBuckets::folderOf(path));
    int beside = anyProvenFolders_.count(folder) ? 1 : 2;
    if (beside == 1)
        if (auto it = provenFolders_.find(leads.folder); it != provenFolders_.end())
            if (std::find(it->second.begin(), it->second.end(), folder) != it->second.end()) beside = 0;
    const CopyLeads::Rank rank = leads_.rank(leads.place, leads.modified, asciiLowercased(path), [&] { return modifiedOf(i); });
    return {rank.root, beside, rank.unshared, rank.doubt, distance(card.file.captureDate, drives_[i].captureDate), i};
}

std::vector<ProofSession::Index> ProofSession::byLikelihood(const CardFile& card, std::span<const Index> named) {
    const CardLeads leads = leadsOf(card);
    std::vector<std::pair<Likelihood, Index>> ranked;
    for (Index i : named)
        if (!examined_[i] && contains(card, i)) ranked.emplace_back(likelihood(card, leads, i), i);
    std::sort(ranked.begin(), ranked.end());
    std::vector<Index> order;
    order.reserve(ranked.size());
    for (const auto& [rank, i] : ranked) order.push_back(i);
    return order;
}

// The same-named candidate where the copy most likely is (read or not). One candidate needs
// no ranking; at a copy root, only those at the likeliest root are ranked further (no date
// is looked up).
std::optional<size_t> ProofSession::bestNamed(const CardFile& card) {
    const auto named = buckets_.named(card.file.byteSize, lastComponent(card.file.url.path()));
    std::vector<Index> fitting;
    for (Index i : named)
        if (contains(card, i)) fitting.push_back(i);
    if (fitting.size() <= 1) return fitting.empty() ? std::nullopt : std::optional<size_t>(fitting.front());
    const CardLeads leads = leadsOf(card);
    if (leads_.rootCount() > 0 && leads.place.onCard) {
        size_t bestRoot = leads_.rootCount();
        std::vector<Index> atRoot;
        for (Index i : fitting) {
            const size_t root = leads_.rootOf(leads.place, asciiLowercased(drives_[i].url.native()));
            if (root < bestRoot) bestRoot = root, atRoot.clear();
            if (root == bestRoot && root < leads_.rootCount()) atRoot.push_back(i);
        }
        if (atRoot.size() == 1) return atRoot.front();
        if (!atRoot.empty()) fitting = std::move(atRoot);
    }
    std::optional<std::pair<Likelihood, size_t>> best;
    for (Index i : fitting) {
        const Likelihood rank = likelihood(card, leads, i);
        if (!best || rank < best->first) best = {rank, i};
    }
    return best->second;
}

// The fitting drive file nearest in capture time (any source) to a clip member's, looked for
// a few steps either side of its place among the files of its size sorted by date.
std::optional<size_t> ProofSession::nearestFitting(const Fingerprint& file, const FingerprintKey& key) {
    if (!file.captureDate || !std::isfinite(*file.captureDate)) return std::nullopt;
    const auto dated = buckets_.byDate(file.byteSize);
    const double date = *file.captureDate;
    const size_t above = static_cast<size_t>(
        std::upper_bound(dated.begin(), dated.end(), date, [](double v, const auto& e) { return v < e.first; }) -
        dated.begin());
    std::optional<size_t> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (size_t step = 0, low = above, high = above; step < nearestSteps && (low > 0 || high < dated.size()); ++step) {
        const bool takeLow =
            low > 0 && (high >= dated.size() || date - dated[low - 1].first <= dated[high].first - date);
        const auto& [when, i] = takeLow ? dated[--low] : dated[high++];
        if (std::fabs(date - when) >= bestDistance) break;
        if (key.fits(drives_[i], tolerance_)) best = i, bestDistance = std::fabs(date - when);
    }
    return best;
}

bool ProofSession::affordable(size_t i) const {
    if (examined_[i] || queued_.count(static_cast<Index>(i))) return true;  // counted already
    const int64_t size = std::max<int64_t>(0, drives_[i].byteSize);
    return spent() <= readLimit_ - std::min(readLimit_, size);
}

bool ProofSession::blindAffordable(size_t i) const {
    return charged_.count(static_cast<Index>(i)) || blindRead_ + std::max<int64_t>(0, drives_[i].byteSize) <= blindLimit_;
}

void ProofSession::chargeBlind(size_t i) {
    if (charged_.insert(static_cast<Index>(i)).second) blindRead_ += std::max<int64_t>(0, drives_[i].byteSize);
}

bool ProofSession::tryAt(const CardFile& card, size_t i) {
    std::optional<uint64_t> value;
    const bool proven = prove(card.file.url, drives_[i].url, &value);
    if (!examined_[i]) {
        examined_[i] = 1;
        ++examinedCount_;
        if (value) known_[{drives_[i].byteSize, *value}].push_back(static_cast<Index>(i));
    }
    if (proven) noteCopy(card, i);
    return proven;
}

// Where a card file's copy was proven: a drive folder beside its card folder's copies, and a
// copy root when the drive path ends in its place on the card.
void ProofSession::noteCopy(const CardFile& card, size_t i) {
    const std::string& path = drives_[i].url.native();
    const std::string_view folder = DriveBuckets::folderOf(path);
    auto& folders = provenFolders_[std::string(DriveBuckets::folderOf(card.file.url.native()))];
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.emplace_back(folder);
    if (anyProvenFolders_.emplace(folder).second) ++leadCount_;
    if (leads_.noteProven(leads_.placeOf(card.file.url.native()), path)) ++leadCount_;
}

std::optional<size_t> ProofSession::likelyCopy(const CardFile& card) {
    const std::optional<size_t> named = bestNamed(card);
    if (named && tryAt(card, *named)) return named;
    if (card.nearest && card.nearest != named && !cancelled() && tryAt(card, *card.nearest)) return card.nearest;
    return std::nullopt;
}

std::span<const ProofSession::Index> ProofSession::weakOrder(std::span<const Index> list) {
    WeakOrder& weak = weakOrders_[list.data()];
    if (!weak.order.empty() && weak.leads == leadCount_) return weak.order;
    // (below a copy root, beside a proven copy, newest first, drive order)
    std::vector<std::tuple<bool, bool, double, Index>> ranked;
    ranked.reserve(list.size());
    for (Index i : list) {
        const std::string& path = drives_[i].url.native();
        const auto& date = drives_[i].captureDate;
        ranked.emplace_back(!leads_.isUnderRoot(asciiLowercased(path)),
                            !anyProvenFolders_.count(std::string(DriveBuckets::folderOf(path))),
                            date && std::isfinite(*date) ? -*date : std::numeric_limits<double>::infinity(), i);
    }
    std::sort(ranked.begin(), ranked.end());
    weak.order.clear();
    for (const auto& entry : ranked) weak.order.push_back(std::get<3>(entry));
    weak.leads = leadCount_;
    weak.cursor = 0;
    return weak.order;
}

std::optional<size_t> ProofSession::fullSearch(const CardFile& card) {
    if (auto at = likelyCopy(card)) return at;
    if (cancelled()) return std::nullopt;
    const auto value = lookupDigest(card.file.url);
    if (!value) return std::nullopt;  // the card file itself cannot be read
    bool cut = false;
    // Tries the candidates of `files` not read yet, in their order (skipping those before
    // `*cursor`, which were all read, when given); false when the search is over.
    auto search = [&](std::span<const Index> files, size_t* cursor, std::optional<size_t>& found, bool blind) {
        size_t k = cursor ? *cursor : 0;
        if (cursor)
            while (k < files.size() && examined_[files[k]]) ++k;
        if (cursor) *cursor = k;
        for (; k < files.size(); ++k) {
            const size_t i = files[k];
            if (examined_[i] || !contains(card, i)) continue;
            if (cancelled()) return false;
            // The files of one list are all of the card file's size: one that can't be read
            // within the bound means none can.
            if (!affordable(i) || (blind && !blindAffordable(i))) {
                cut = true;
                return true;
            }
            if (blind) chargeBlind(i);
            // The next few the search will read, hashed meanwhile (counted as read).
            for (size_t ahead = k + 1, queued = 0; pool_ && ahead < files.size() && queued < searchAhead; ++ahead) {
                const size_t j = files[ahead];
                if (examined_[j] || queued_.count(static_cast<Index>(j)) || !contains(card, j)) continue;
                // Within the bound with the file about to be read.
                const int64_t next = drives_[i].byteSize + drives_[j].byteSize;
                if (spent() > readLimit_ - std::min(readLimit_, next) || (blind && !blindAffordable(j))) break;
                if (pool_->prefetch(drives_[j].url, drives_[j].byteSize)) queued_.insert(static_cast<Index>(j));
                if (blind) chargeBlind(j);
                ++queued;
            }
            if (tryAt(card, i)) {
                found = i;
                return false;
            }
        }
        return true;
    };
    std::optional<size_t> found;
    // Copies read already, for other card files.
    if (auto it = known_.find({card.file.byteSize, *value}); it != known_.end())
        for (Index i : std::vector<Index>(it->second))
            if (contains(card, i) && tryAt(card, i)) return i;
    // In its own folder below each copy root, then beside the copies of its card folder's
    // other files, under any name.
    const CopyLeads::Place place = leads_.placeOf(card.file.url.native());
    std::vector<std::string> folders;
    if (place.onCard) {
        const std::string& cardPath = card.file.url.native();
        const std::string relativeFolder(
            DriveBuckets::folderOf(std::string_view(cardPath).substr(cardPath.size() - place.joined.size())));
        for (const std::string& root : leads_.roots()) folders.push_back(withoutTrailingSlash(root + relativeFolder));
    }
    if (auto it = provenFolders_.find(std::string(DriveBuckets::folderOf(card.file.url.native())));
        it != provenFolders_.end())
        folders.insert(folders.end(), it->second.begin(), it->second.end());
    for (size_t f = 0; f < folders.size(); ++f) {
        if (std::find(folders.begin(), folders.begin() + f, folders[f]) != folders.begin() + f) continue;
        if (!search(buckets_.inFolder(card.file.byteSize, folders[f]), nullptr, found, false)) return found;
    }
    // Under its name elsewhere, likeliest first, then the rest of its candidates: weak leads.
    const auto named = buckets_.named(card.file.byteSize, lastComponent(card.file.url.path()));
    if (!search(byLikelihood(card, named), nullptr, found, true)) return found;
    // A short list is the matcher's own lead (its few fitting files), read within the bound;
    // only a long one is read without a lead, in the order of its weak leads.
    if (card.list.size() <= fewCandidates) {
        if (!search(card.list, nullptr, found, false)) return found;
    } else if (!cut && affordable(card.list.front()) && blindAffordable(card.list.front())) {
        const std::span<const Index> order = weakOrder(card.list);
        if (!search(order, &weakOrders_[card.list.data()].cursor, found, true)) return found;
    } else {
        cut = true;
    }
    if (cut && !cancelled()) {
        UnreadCandidates note{card.file.url.path(), card.file.byteSize, unreadCount(card)};
        for (Index i : named)
            if (contains(card, i)) ++note.named, note.namedNotRead += !examined_[i];
        if (note.count > 0 || note.namedNotRead > 0) unread_.push_back(note);
    }
    return std::nullopt;
}

std::vector<size_t> ProofSession::allCopies(const CardFile& card, size_t found) {
    std::vector<size_t> proven{found};
    for (Index i : card.list) {
        if (i == found || !contains(card, i) || !affordable(i) || cancelled()) continue;
        if (tryAt(card, i)) proven.push_back(i);
    }
    std::sort(proven.begin(), proven.end());
    return proven;
}

int64_t ProofSession::unreadCount(const CardFile& card) {
    auto count = [&] {
        int64_t n = 0;
        for (Index i : card.list)
            if (!examined_[i] && contains(card, i)) ++n;
        return n;
    };
    if (card.key) return count();
    // Lists shared by many card files (a sequence's frames): counted again only after more reads.
    auto& cached = unreadCounts_[card.list.data()];
    if (cached.first != examinedCount_ + 1) cached = {examinedCount_ + 1, count()};
    return cached.second;
}

void ProofSession::readAhead(const CardFile& card) {
    if (!pool_) return;
    const std::optional<size_t> first = bestNamed(card);
    const std::optional<size_t> choice = first ? first : card.nearest;
    if (!choice || examined_[*choice]) return;
    struct stat cardStat {}, driveStat {};
    if (::stat(card.file.url.c_str(), &cardStat) != 0 || ::stat(drives_[*choice].url.c_str(), &driveStat) != 0 ||
        cardStat.st_size != driveStat.st_size)
        return;
    // Only within the bound, the card file and its likely copy together; the pool queues a
    // path once, and hands over only the version the proof then sees.
    if (spent() > readLimit_ - std::min<int64_t>(readLimit_, 2 * int64_t(cardStat.st_size))) return;
    prefetch(card.file.url, cardStat, false);
    prefetch(drives_[*choice].url, driveStat, false);
}

void ProofSession::readAhead(const MatchResult& result) {
    if (!pool_ || result.group.primaryFiles.empty()) return;
    const MatchStatus& status = result.status;
    if (status.kind() != MatchStatus::Kind::confirmed && status.kind() != MatchStatus::Kind::possibleDuplicate) return;
    // Only what prove() will read: files whose sizes agree.
    const fs::path& card = result.group.primaryFiles.front().url;
    struct stat cardStat {};
    if (::stat(card.c_str(), &cardStat) != 0) return;
    bool queuedCard = false;
    for (const fs::path& location : status.locations()) {
        struct stat driveStat {};
        if (::stat(location.c_str(), &driveStat) != 0 || driveStat.st_size != cardStat.st_size) continue;
        if (!queuedCard) prefetch(card, cardStat, false);
        queuedCard = true;
        prefetch(location, driveStat, false);
    }
}

void ProofSession::notePassedOver(std::span<const Index> passedOver) {
    struct stat root {};
    if (passedOver.empty() || !cardRoot_ || ::stat(cardRoot_->c_str(), &root) != 0) return;
    for (Index i : passedOver) {
        if (cancelled()) return;
        struct stat st {};
        if (::stat(drives_[i].url.c_str(), &st) == 0 && st.st_dev != root.st_dev) doubted(root.st_dev, st.st_dev, drives_[i].url);
    }
}

// The card file itself, a path at or below the card root, or a file whose place in its file
// system lies at or below the card root's place: the card's own folder reached through a bind
// mount (or the card reached through one) looks like any other folder by path and inode; a
// file on an overlay or in a disk image on the card (ProofGround, judged once per device). A
// file whose place cannot be found while the card's can is no proof.
bool ProofSession::isSelf(const struct stat& card, const struct stat& drive, const fs::path& drivePath) {
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
bool ProofSession::doubted(dev_t cardDevice, dev_t driveDevice, const fs::path& drivePath) {
    const auto doubt = ground_.doubtOf(driveDevice, drivePath, cardDevice);
    if (doubt && uncountedPaths_.insert(drivePath.native()).second) uncounted_.push_back({drivePath, *doubt});
    return doubt.has_value();
}

ProofSession::Version ProofSession::versionOf(const struct stat& st) {
    return Version{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// Queues `file` on the pool unless its digest (of the version `st` shows) is known.
void ProofSession::prefetch(const fs::path& file, const struct stat& st, bool urgent) {
    if (pool_ && !digests_.count(versionOf(st))) pool_->prefetch(file, static_cast<int64_t>(st.st_size), urgent);
}

void ProofSession::noteProven(const fs::path& card, const struct stat& st, const std::string& hex) {
    if (!keepProven_ || !provenPaths_.insert(card.native()).second) return;
    proven_.push_back({card, hex, st.st_dev, st.st_ino, static_cast<int64_t>(st.st_size), st.st_mtim.tv_sec,
                       st.st_mtim.tv_nsec});
}

// The digest of `file` for a lookup, with the proof's attempts (an unreadable file is tried
// three times, 0.2 s and 0.4 s apart); none when it cannot be read or was stopped.
std::optional<uint64_t> ProofSession::lookupDigest(const fs::path& file) {
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

std::string ProofSession::digest(const fs::path& file, const struct stat& st) {
    Version version = versionOf(st);
    auto it = digests_.find(version);
    if (it != digests_.end()) return hexText(it->second);
    const ChecksumEngine::CancelTest test = [this] { return cancelled(); };
    // A digest the pool hands over was counted when the pool queued the file; a file read
    // here counts now (once more when the pool read another version of it).
    std::optional<ProofHashPool::Taken> taken = pool_ ? pool_->take(file, version, test) : std::nullopt;
    if (!taken) read_ += static_cast<int64_t>(st.st_size);
    // The pool's read stands for this one: accepted only after the test a read would have
    // asked, and its error is this attempt's error.
    if (taken && cancelled()) throw ChecksumCancelledError();
    if (taken && taken->error) std::rethrow_exception(taken->error);
    std::string hex = taken ? std::move(taken->digest)
                            : checksum_.hash(file, false, isCancelled_ ? test : ChecksumEngine::CancelTest{}, {});
    digests_.emplace(version, hexValue(hex));
    return hex;
}

}  // namespace tessaline
