#include "Tessaline/Matcher/Matcher.hpp"

#include "Tessaline/Matcher/FingerprintKey.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>
#include <unordered_map>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// Buckets larger than this keep their dated members sorted by capture time, so a key with a
// camera time looks only at the members within the tolerance. Measured reason: a card of
// uncompressed RAW stills puts every drive file into one size bucket, and a plain scan would
// cost card groups × bucket comparisons.
constexpr size_t sortedBucketThreshold = 64;
// Floating-point slack around the tolerance window; every member found is re-tested exactly.
constexpr double windowSlack = 1e-3;
// How many drive files or card groups ahead the loops start loading what they will read.
// Measured reason: with a million drive files the size table, the packed keys and the
// drive files' paths miss the cache on nearly every access; overlapping those misses cut
// about a fifth of the time to match 100,000 clips against them.
constexpr size_t prefetchDistance = 16;

using Index = uint32_t;

uint64_t mixed(uint64_t x) {  // splitmix64's finaliser: spreads sizes that differ in low bits
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// Open addressing from a 64-bit key (a file size, a name hash) to a dense slot number.
// Measured reason for not using std::unordered_map: with a million drive files its per-node
// allocations and scattered nodes made indexing grow about twice as fast as the file count.
class KeySlots {
public:
    // Room for `expected` keys at most two thirds full. Measured reason for not rounding up to a
    // power of two: a million drive files then need 32 MB, which glibc maps afresh (and the
    // kernel zeroes) on every call, and which crowds the cache more than 24 MB.
    explicit KeySlots(size_t expected) : capacity_(std::max<size_t>(16, expected + expected / 2)) {
        entries_.assign(capacity_, Entry{0, empty});
    }
    Index insert(int64_t key) {
        for (size_t at = home(key);; at = next(at)) {
            Entry& entry = entries_[at];
            if (entry.slot == empty) {
                entry.key = key;
                return entry.slot = count_++;
            }
            if (entry.key == key) return entry.slot;
        }
    }
    // Starts loading the probe's first entry, so a loop can overlap the cache misses of
    // lookups a few keys ahead with the current one.
    void prefetch(int64_t key) const { __builtin_prefetch(&entries_[home(key)]); }
    std::optional<Index> find(int64_t key) const {
        for (size_t at = home(key);; at = next(at)) {
            const Entry& entry = entries_[at];
            if (entry.slot == empty) return std::nullopt;
            if (entry.key == key) return entry.slot;
        }
    }

private:
    // Key and slot side by side: one cache miss per probe on tables larger than the cache.
    struct Entry {
        int64_t key;
        Index slot;
    };
    static constexpr Index empty = std::numeric_limits<Index>::max();
    // The key's first probe: its mixed bits scaled to the capacity (multiply and shift).
    size_t home(int64_t key) const {
        return static_cast<size_t>((static_cast<unsigned __int128>(mixed(static_cast<uint64_t>(key))) * capacity_) >> 64);
    }
    size_t next(size_t at) const { return at + 1 == capacity_ ? 0 : at + 1; }
    size_t capacity_ = 0;
    std::vector<Entry> entries_;
    Index count_ = 0;
};

std::optional<double> cameraEpoch(const Fingerprint& fp) {
    return fp.hasCameraTimestamp ? fp.captureDate : std::nullopt;
}

// The metadata the candidate tests read, packed per drive file so a lookup does not touch the
// (large, scattered) fingerprints of files that do not fit. Measured reason: with a million
// drive files each fingerprint read was a cache miss. Filled in drive order in the same pass
// that reads the sizes, so indexing streams through the fingerprints once.
struct PackedKey {
    double epoch = 0;    // camera time
    uint64_t codec = 0;  // the first 8 bytes of the codec text
    int32_t width = 0;
    int32_t height = 0;
    uint32_t codecLength = 0;
    bool hasEpoch = false, hasCodec = false, hasWidth = false, hasHeight = false;

    static PackedKey of(const Fingerprint& fp) {
        PackedKey packed;
        if (auto epoch = cameraEpoch(fp)) packed.hasEpoch = true, packed.epoch = *epoch;
        if (fp.codec) packed.setCodec(*fp.codec);
        if (fp.width) packed.hasWidth = true, packed.width = *fp.width;
        if (fp.height) packed.hasHeight = true, packed.height = *fp.height;
        return packed;
    }
    static PackedKey of(const FingerprintKey& key) {
        PackedKey packed;
        if (key.captureEpoch) packed.hasEpoch = true, packed.epoch = *key.captureEpoch;
        if (key.codec) packed.setCodec(*key.codec);
        if (key.width) packed.hasWidth = true, packed.width = *key.width;
        if (key.height) packed.hasHeight = true, packed.height = *key.height;
        return packed;
    }
    void setCodec(const std::string& text) {
        hasCodec = true;
        codecLength = static_cast<uint32_t>(text.size());
        std::memcpy(&codec, text.data(), std::min<size_t>(text.size(), 8));
    }
    // Codec texts longer than 8 bytes that agree on their start are compared in full by the caller.
    bool needsFullCodec(const PackedKey& other) const {
        return hasCodec && other.hasCodec && codecLength > 8 && codecLength == other.codecLength && codec == other.codec;
    }
};

// The dated members of a large size bucket sorted by camera time, and the rest in drive order.
struct TimedBucket {
    std::vector<std::pair<double, Index>> byTime;
    std::vector<Index> untimed;
};

constexpr Index noIndex = std::numeric_limits<Index>::max();

// The lower-cased last path component of a file (its name with its extension), written into
// `out` without allocating for plain ASCII names: the name pass lowers a million drive names,
// and the allocations were half its cost.
const std::string& nameKey(const Fingerprint& fp, std::string& out) {
    std::string_view path = fp.url.native();
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    std::string_view name = path == "/" ? path : path.substr(path.rfind('/') + 1);
    bool ascii = true;
    for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) return out = lowercased(name);
    out.assign(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
std::string nameKey(const Fingerprint& fp) {
    std::string out;
    return nameKey(fp, out);
}
int64_t nameHash(std::string_view name) { return static_cast<int64_t>(std::hash<std::string_view>{}(name)); }

// The drive files, indexed once per match() call and never changed while the card is matched.
// Members of one size lie contiguously in `order_`, in drive order.
class DriveIndex {
public:
    DriveIndex(const std::vector<Fingerprint>& drives, const std::optional<fs::path>& cardRoot)
        : drives_(drives), sizes_(drives.size()) {
        std::string root = cardRoot ? normalizedPath(*cardRoot).native() : std::string();
        if (cardRoot) {
            FileSystemPlaces places;
            if (auto place = places.of(*cardRoot)) {
                places_.emplace(std::move(places));
                cardPlace_ = std::move(place);
                onCardPlace_.assign(drives.size(), unknown);
            }
        }
        std::vector<Index> slotOf(drives.size());
        std::vector<Index> counts;
        packed_.resize(drives.size());
        for (Index i = 0; i < drives.size(); ++i) {
            if (i + prefetchDistance < drives.size()) sizes_.prefetch(drives[i + prefetchDistance].byteSize);
            if (cardRoot && isBelow(drives[i].url.native(), root)) {
                excluded_.resize(drives.size(), false);
                excluded_[i] = true;
                continue;
            }
            slotOf[i] = sizes_.insert(drives[i].byteSize);
            if (slotOf[i] == counts.size()) counts.push_back(0);
            ++counts[slotOf[i]];
            packed_[i] = PackedKey::of(drives[i]);
        }
        starts_.assign(counts.size() + 1, 0);
        for (size_t s = 0; s < counts.size(); ++s) starts_[s + 1] = starts_[s] + counts[s];
        order_.resize(starts_.back());
        std::vector<Index> fill(starts_.begin(), starts_.end() - 1);
        for (Index i = 0; i < drives.size(); ++i)
            if (!isExcluded(i)) order_[fill[slotOf[i]]++] = i;
        for (Index s = 0; s < counts.size(); ++s) {
            if (counts[s] <= sortedBucketThreshold) continue;
            TimedBucket& bucket = timed_[s];
            for (Index k = starts_[s]; k < starts_[s + 1]; ++k) {
                Index i = order_[k];
                if (packed_[i].hasEpoch && std::isfinite(packed_[i].epoch))
                    bucket.byTime.emplace_back(packed_[i].epoch, i);
                else
                    bucket.untimed.push_back(i);
            }
            std::stable_sort(bucket.byTime.begin(), bucket.byTime.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
    }

    const Fingerprint& drive(Index i) const { return drives_[i]; }
    size_t size() const { return drives_.size(); }
    // Whether drive file `i` lies at or below the card root by its path (never a candidate).
    bool isExcluded(Index i) const { return !excluded_.empty() && excluded_[i]; }
    // Whether isOnCardPlace() can ever be true (a card root was given and placed).
    bool knowsCardPlace() const { return cardPlace_.has_value(); }
    // Whether the drive files of `byteSize` are many (their dated members kept sorted by time).
    bool isLargeBucket(int64_t byteSize) const {
        auto slot = sizes_.find(byteSize);
        return slot && timed_.count(*slot) > 0;
    }
    // Starts loading what candidates() reads for `byteSize`, one link of its chain of
    // lookups per level: 0 the size table's entry, 1 the bucket's bounds, 2 its first member,
    // 3 that member's packed key. Each level reads what the one before loaded, so callers
    // ask for the levels a few groups apart.
    void prefetchCandidates(int64_t byteSize, int level) const {
        if (level == 0) return sizes_.prefetch(byteSize);
        auto slot = sizes_.find(byteSize);
        if (!slot) return;
        if (level == 1) return __builtin_prefetch(&starts_[*slot]);
        Index start = starts_[*slot];
        if (level == 2) return __builtin_prefetch(&order_[start]);
        __builtin_prefetch(&packed_[order_[start]]);
    }

    // Whether drive file `i` lies on the card's file system at or below the card root's place
    // there (the card's folder reached through a bind mount, or the card reached through
    // one), which the path test at construction cannot see. Found on first need and kept:
    // only candidates are ever asked about, so a match stats a few files, not every drive
    // file. A file lies there exactly when its folder does, so each folder is placed once
    // (measured reason: placing each of 20,000 archive frames of one size resolved every
    // component of every path, a tenth of a second per scan); a file bind-mounted from the
    // card over a drive file is refused by the verifier's own test of every proof. A file
    // that cannot be placed is kept (the verifier decides by its bytes).
    bool isOnCardPlace(Index i) const {
        if (!cardPlace_) return false;
        if (onCardPlace_[i] == unknown) {
            const std::string& path = drives_[i].url.native();
            const size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : path.substr(0, slash);
            auto [known, added] = folderOnCardPlace_.try_emplace(folder, false);
            if (added) {
                auto place = places_->of(folder);
                known->second = place && place->isSameOrBelow(*cardPlace_);
            }
            onCardPlace_[i] = known->second ? onCard : elsewhere;
        }
        return onCardPlace_[i] == onCard;
    }

    // The drive files that fit `key`, in drive order.
    std::vector<Index> candidates(const FingerprintKey& key, double tolerance) const {
        std::vector<Index> fitting;
        auto slot = sizes_.find(key.byteSize);
        if (!slot) return fitting;
        auto timed = timed_.find(*slot);
        PackedKey wanted = PackedKey::of(key);
        auto fitsKey = [&](Index i) { return fitsAt(wanted, key, i, tolerance); };
        if (timed == timed_.end() || !key.captureEpoch || !std::isfinite(*key.captureEpoch)) {
            for (Index k = starts_[*slot]; k < starts_[*slot + 1]; ++k)
                if (fitsKey(order_[k])) fitting.push_back(order_[k]);
            return fitting;
        }
        const TimedBucket& bucket = timed->second;
        double low = *key.captureEpoch - tolerance - windowSlack;
        double high = *key.captureEpoch + tolerance + windowSlack;
        auto first = std::lower_bound(bucket.byTime.begin(), bucket.byTime.end(), low,
                                      [](const auto& entry, double value) { return entry.first < value; });
        for (auto at = first; at != bucket.byTime.end() && at->first <= high; ++at)
            if (fitsKey(at->second)) fitting.push_back(at->second);
        for (Index i : bucket.untimed)
            if (fitsKey(i)) fitting.push_back(i);
        std::sort(fitting.begin(), fitting.end());
        return fitting;
    }

    // Whether any drive file fits `key` (the candidates() test, stopping at the first).
    bool anyFits(const FingerprintKey& key, double tolerance) const {
        auto slot = sizes_.find(key.byteSize);
        if (!slot) return false;
        if (timed_.count(*slot) && key.captureEpoch && std::isfinite(*key.captureEpoch))
            return !candidates(key, tolerance).empty();  // a window of the sorted bucket
        PackedKey wanted = PackedKey::of(key);
        for (Index k = starts_[*slot]; k < starts_[*slot + 1]; ++k)
            if (fitsAt(wanted, key, order_[k], tolerance)) return true;
        return false;
    }

private:
    enum : int8_t { unknown, onCard, elsewhere };

    static bool isBelow(const std::string& path, const std::string& root) {
        if (root == "/") return true;
        return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
               (path.size() == root.size() || path[root.size()] == '/');
    }

    // Whether drive file `i` fits `key` (packed as `wanted`): the packed tests, and the whole
    // codec texts where their first 8 bytes agree.
    bool fitsAt(const PackedKey& wanted, const FingerprintKey& key, Index i, double tolerance) const {
        return fits(wanted, packed_[i], tolerance) && (!wanted.needsFullCodec(packed_[i]) || key.fits(drives_[i], tolerance));
    }

    // The candidate tests on packed keys; sizes are equal by construction.
    static bool fits(const PackedKey& key, const PackedKey& candidate, double tolerance) {
        if (key.hasCodec && candidate.hasCodec && (key.codecLength != candidate.codecLength || key.codec != candidate.codec))
            return false;
        if (key.hasWidth && candidate.hasWidth && key.width != candidate.width) return false;
        if (key.hasHeight && candidate.hasHeight && key.height != candidate.height) return false;
        if (key.hasEpoch && candidate.hasEpoch && !(std::fabs(key.epoch - candidate.epoch) <= tolerance)) return false;
        return true;
    }


    const std::vector<Fingerprint>& drives_;
    std::vector<bool> excluded_;  // empty when nothing is excluded
    KeySlots sizes_;
    std::vector<Index> starts_;  // slot s holds order_[starts_[s] .. starts_[s + 1])
    std::vector<Index> order_;
    std::vector<PackedKey> packed_;  // per drive file, in drive order
    std::unordered_map<Index, TimedBucket> timed_;  // large buckets only
    mutable std::optional<FileSystemPlaces> places_;  // with a card root that could be placed
    std::optional<FileSystemPlace> cardPlace_;
    mutable std::vector<int8_t> onCardPlace_;  // per drive file, found on first need
    mutable std::unordered_map<std::string, bool> folderOnCardPlace_;  // by folder path
};

// The name lookups of the clips no drive file fits, answered together by one pass over the
// drive files. Measured reason: indexing every drive file's name made a million random
// writes into a 32 MB table; the queries' own table is small enough to stay in cache while
// the drive names stream past, and the pass stops once every query is answered.
class NameQueries {
public:
    // Asks for the first drive file whose lower-cased name (extension included) is `name`;
    // returns the query's id.
    Index add(std::string name) {
        names_.push_back(std::move(name));
        return static_cast<Index>(names_.size() - 1);
    }

    // Answers every query with the first drive file (drive order) with its name that is
    // neither excluded nor on the card's place; stats only files whose name is asked for.
    void resolve(const DriveIndex& index) {
        if (names_.empty()) return;
        KeySlots slots(names_.size());
        // One bit per hash value modulo the filter's size, 16 bits per query: most drive names
        // are asked for by no clip, and the filter turns them away from L2 instead of the table.
        size_t filterBits = 64;
        while (filterBits < names_.size() * 16) filterBits <<= 1;
        std::vector<uint64_t> filter(filterBits / 64);
        auto bitOf = [mask = filterBits - 1](int64_t hash) { return mixed(static_cast<uint64_t>(hash)) & mask; };
        std::vector<Index> firstOfSlot;
        std::vector<Index> nextOfSlot(names_.size(), noIndex);  // distinct names sharing a hash
        answerOf_.resize(names_.size());
        for (Index q = 0; q < names_.size(); ++q) {
            int64_t hash = nameHash(names_[q]);
            filter[bitOf(hash) / 64] |= uint64_t{1} << (bitOf(hash) % 64);
            Index slot = slots.insert(hash);
            if (slot == firstOfSlot.size()) firstOfSlot.push_back(noIndex);
            Index same = firstOfSlot[slot];
            while (same != noIndex && names_[same] != names_[q]) same = nextOfSlot[same];
            if (same != noIndex) {
                answerOf_[q] = answerOf_[same];
                continue;
            }
            answerOf_[q] = static_cast<Index>(found_.size());
            found_.push_back(noIndex);
            nextOfSlot[q] = firstOfSlot[slot];
            firstOfSlot[slot] = q;
        }
        // One pass in drive order over the drive names, until every distinct name is answered.
        size_t open = found_.size();
        std::string buffer;
        for (Index i = 0; i < index.size() && open > 0; ++i) {
            if (index.isExcluded(i)) continue;
            const std::string& name = nameKey(index.drive(i), buffer);
            int64_t hash = nameHash(name);
            if (!(filter[bitOf(hash) / 64] >> (bitOf(hash) % 64) & 1)) continue;
            auto slot = slots.find(hash);
            if (!slot) continue;
            for (Index q = firstOfSlot[*slot]; q != noIndex; q = nextOfSlot[q]) {
                if (names_[q] != name) continue;
                Index& answer = found_[answerOf_[q]];
                if (answer == noIndex && !index.isOnCardPlace(i)) answer = i, --open;
                break;
            }
        }
    }

    // The answer to query `query` after resolve(), or none when no drive file has its name.
    std::optional<Index> found(Index query) const {
        Index answer = found_[answerOf_[query]];
        return answer == noIndex ? std::nullopt : std::optional<Index>(answer);
    }

private:
    std::vector<std::string> names_;  // per query
    std::vector<Index> answerOf_;     // per query: its distinct name's place in found_
    std::vector<Index> found_;        // per distinct name: a drive file, or noIndex
};

// The one candidate nearest in capture time (any date source counts here), or none when the
// primary is undated or the two nearest are equally near.
std::optional<Index> nearestUniqueMatch(const Fingerprint& primary, const std::vector<Index>& candidates,
                                        const DriveIndex& index) {
    if (!primary.captureDate) return std::nullopt;
    std::vector<std::pair<double, Index>> distances;
    distances.reserve(candidates.size());
    for (Index i : candidates) {
        const auto& date = index.drive(i).captureDate;
        double distance = date ? std::fabs(*primary.captureDate - *date) : std::numeric_limits<double>::infinity();
        if (std::isnan(distance)) distance = std::numeric_limits<double>::infinity();
        distances.emplace_back(distance, i);
    }
    std::stable_sort(distances.begin(), distances.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (distances.size() == 1) return distances.front().second;
    if (distances[0].first == distances[1].first) return std::nullopt;
    return distances.front().second;
}

// Starts loading a path's text and its list of components (copying a path reads both).
void prefetchPath(const PathString& path) { __builtin_prefetch(path.native().data()); }

// The drive files that fit one undated key in a large size bucket, found once and shared by
// every group with that key: a card of thousands of same-size frames without a camera date
// gives them all one key. Sorted by (raw) capture date as well, so the nearest of them to a
// group's date is found by bisection instead of by sorting the list for every group.
class SharedCandidates {
public:
    SharedCandidates(std::vector<Index> fitting, const DriveIndex& index, MatchClaims& claims)
        : size_(fitting.size()), first_(fitting.empty() ? noIndex : fitting.front()) {
        if (fitting.empty()) return;
        list_ = claims.addCandidates(fitting);
        for (Index i : fitting)
            if (const auto& date = index.drive(i).captureDate; date && std::isfinite(*date)) byDate_.emplace_back(*date, i);
        std::stable_sort(byDate_.begin(), byDate_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }

    size_t size() const { return size_; }
    Index first() const { return first_; }
    Index list() const { return list_; }

    // nearestUniqueMatch() over this list (of two or more): the one candidate strictly nearest
    // to `date`, or none when `date` is absent or not finite, or the nearest distance is shared
    // (two undated candidates count as equally far). Distances never shrink moving away from
    // `date` along the sorted dates, so only the neighbours of its place are looked at, and
    // at most two of a run of equal distances.
    std::optional<Index> nearest(const std::optional<EpochSeconds>& date) const {
        if (!date || !std::isfinite(*date) || byDate_.empty()) return std::nullopt;
        const double p = *date;
        auto distance = [&](size_t k) { return std::fabs(p - byDate_[k].first); };
        const size_t above = static_cast<size_t>(
            std::upper_bound(byDate_.begin(), byDate_.end(), p, [](double v, const auto& e) { return v < e.first; }) -
            byDate_.begin());
        double best = std::numeric_limits<double>::infinity();
        if (above > 0) best = std::min(best, distance(above - 1));
        if (above < byDate_.size()) best = std::min(best, distance(above));
        if (!(best < std::numeric_limits<double>::infinity())) return std::nullopt;
        int count = 0;
        Index found = noIndex;
        for (size_t k = above; k > 0 && count < 2 && distance(k - 1) == best; --k) ++count, found = byDate_[k - 1].second;
        for (size_t k = above; k < byDate_.size() && count < 2 && distance(k) == best; ++k) ++count, found = byDate_[k].second;
        if (count != 1) return std::nullopt;
        return found;
    }

private:
    size_t size_ = 0;
    Index first_ = noIndex;
    Index list_ = MatchClaims::none;
    std::vector<std::pair<double, Index>> byDate_;
};

// The fitting drive files of a group's first primary: not the card's, by path or by place.
// Those dropped for lying in the card's place are added to `passedOver`.
std::vector<Index> fittingCandidates(const FingerprintKey& key, const DriveIndex& index, double tolerance,
                                     std::vector<Index>& passedOver) {
    std::vector<Index> fitting = index.candidates(key, tolerance);
    if (index.knowsCardPlace())
        std::erase_if(fitting, [&](Index i) {
            if (!index.isOnCardPlace(i)) return false;
            passedOver.push_back(i);
            return true;
        });
    return fitting;
}

// The verdict by metadata for a group with first primary `primary` and its fitting drive
// files `fitting` (kept in `claims` as list `list`); `missing` when none fits (the caller
// then looks for a drive file with the primary's name).
MatchClaims::Claim verdict(const Fingerprint& primary, const std::vector<Index>& fitting, Index list,
                           const DriveIndex& index) {
    if (fitting.empty()) return {};
    if (fitting.size() == 1) return {MatchStatus::Kind::confirmed, fitting.front(), list};
    if (auto nearest = nearestUniqueMatch(primary, fitting, index)) return {MatchStatus::Kind::confirmed, *nearest, list};
    return {MatchStatus::Kind::possibleDuplicate, fitting.front(), list};
}

}  // namespace

MatchClaims Matcher::claim(const std::vector<ClipGroup>& card, const std::vector<Fingerprint>& drives,
                           const std::optional<fs::path>& cardRoot) const {
    DriveIndex index(drives, cardRoot);
    MatchClaims claims(card, drives);
    NameQueries queries;
    std::vector<Index> passedOver;
    std::vector<std::pair<size_t, Index>> byName;  // a group without fitting drive files, its name query
    // Undated keys of large buckets: (size, codec, width, height) to their shared candidates.
    std::map<std::tuple<int64_t, std::optional<std::string>, std::optional<int>, std::optional<int>>, SharedCandidates>
        shared;
    for (size_t g = 0; g < card.size(); ++g) {
        for (int level = 0; level < 4; ++level)
            if (size_t ahead = g + (prefetchDistance >> level); ahead < card.size() && !card[ahead].primaryFiles.empty())
                index.prefetchCandidates(card[ahead].primaryFiles.front().byteSize, level);
        if (card[g].primaryFiles.empty()) continue;
        const Fingerprint& primary = card[g].primaryFiles.front();
        const FingerprintKey key = FingerprintKey::of(primary);
        MatchClaims::Claim claim;
        if (!key.captureEpoch && index.isLargeBucket(key.byteSize)) {
            auto sharedKey = std::make_tuple(key.byteSize, key.codec, key.width, key.height);
            auto at = shared.find(sharedKey);
            if (at == shared.end())
                at = shared.emplace(std::move(sharedKey),
                                    SharedCandidates(fittingCandidates(key, index, captureTimeTolerance, passedOver),
                                                     index, claims))
                         .first;
            const SharedCandidates& set = at->second;
            if (set.size() == 1) {
                claim = {MatchStatus::Kind::confirmed, set.first(), set.list()};
            } else if (set.size() > 1) {
                auto nearest = set.nearest(primary.captureDate);
                claim = nearest ? MatchClaims::Claim{MatchStatus::Kind::confirmed, *nearest, set.list()}
                                : MatchClaims::Claim{MatchStatus::Kind::possibleDuplicate, set.first(), set.list()};
            }
        } else {
            std::vector<Index> fitting = fittingCandidates(key, index, captureTimeTolerance, passedOver);
            const Index list = fitting.empty() ? MatchClaims::none : claims.addCandidates(fitting);
            claim = verdict(primary, fitting, list, index);
        }
        claims.set(g, claim);
        if (claim.kind == MatchStatus::Kind::missing) {
            byName.emplace_back(g, queries.add(nameKey(primary)));
            // A clip whose first file fits no drive file but another does (a pair's JPEG, a
            // burst's other stills, a spanned clip's other pieces on the drive): missing, with
            // its members proven so the files without a copy are named.
            const auto& members = card[g].primaryFiles;
            claim.membersOnDrives = std::any_of(members.begin() + 1, members.end(), [&](const Fingerprint& member) {
                return index.anyFits(FingerprintKey::of(member), captureTimeTolerance);
            });
            claims.set(g, claim);
        }
    }
    queries.resolve(index);
    for (auto [g, query] : byName)
        if (auto candidate = queries.found(query))
            claims.set(g, {MatchStatus::Kind::nameMatchMetadataMismatch, *candidate, MatchClaims::none});
    claims.setPassedOver(std::move(passedOver));
    claims.setCaptureTimeTolerance(captureTimeTolerance);
    return claims;
}

std::vector<MatchResult> Matcher::match(const std::vector<ClipGroup>& card, const std::vector<Fingerprint>& drives,
                                        const std::optional<fs::path>& cardRoot) const {
    const MatchClaims claims = claim(card, drives, cardRoot);
    // The drive files named by the verdicts lie anywhere in `drives`, and each group's files
    // on the heap: load the paths a few groups ahead of copying them.
    std::vector<MatchResult> results;
    results.reserve(card.size());
    for (size_t g = 0; g < card.size(); ++g) {
        if (size_t ahead = g + prefetchDistance; ahead < card.size()) {
            if (Index d = claims.claim(ahead).drive; d != noIndex) __builtin_prefetch(&drives[d].url);
            if (!card[ahead].primaryFiles.empty()) __builtin_prefetch(card[ahead].primaryFiles.data());
        }
        if (size_t ahead = g + prefetchDistance / 2; ahead < card.size()) {
            if (Index d = claims.claim(ahead).drive; d != noIndex) prefetchPath(drives[d].url);
            if (!card[ahead].primaryFiles.empty()) prefetchPath(card[ahead].primaryFiles.front().url);
        }
        results.push_back({card[g], claims.status(g)});
    }
    return results;
}

}  // namespace tessaline
