#include "Tessaline/Matcher/Matcher.hpp"

#include "Tessaline/Matcher/FingerprintKey.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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
    explicit KeySlots(size_t expected) {
        size_t capacity = 16;
        while (capacity < expected * 2) capacity <<= 1;
        mask_ = capacity - 1;
        entries_.assign(capacity, Entry{0, empty});
    }
    Index insert(int64_t key) {
        for (size_t at = mixed(static_cast<uint64_t>(key)) & mask_;; at = (at + 1) & mask_) {
            Entry& entry = entries_[at];
            if (entry.slot == empty) {
                entry.key = key;
                return entry.slot = count_++;
            }
            if (entry.key == key) return entry.slot;
        }
    }
    std::optional<Index> find(int64_t key) const {
        for (size_t at = mixed(static_cast<uint64_t>(key)) & mask_;; at = (at + 1) & mask_) {
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
    size_t mask_ = 0;
    std::vector<Entry> entries_;
    Index count_ = 0;
};

std::optional<double> cameraEpoch(const Fingerprint& fp) {
    return fp.hasCameraTimestamp ? fp.captureDate : std::nullopt;
}

// The metadata the candidate tests read, packed beside the size index so a lookup does not
// touch the (large, scattered) fingerprints of files that do not fit. Measured reason: with a
// million drive files each fingerprint read was a cache miss.
struct PackedKey {
    double epoch = 0;    // camera time
    uint64_t codec = 0;  // the first 8 bytes of the codec text
    int32_t width = 0;
    int32_t height = 0;
    uint32_t codecLength = 0;
    bool hasEpoch = false, hasCodec = false, hasWidth = false, hasHeight = false;

    static PackedKey of(const FingerprintKey& key) {
        PackedKey packed;
        if (key.captureEpoch) packed.hasEpoch = true, packed.epoch = *key.captureEpoch;
        if (key.codec) {
            packed.hasCodec = true;
            packed.codecLength = static_cast<uint32_t>(key.codec->size());
            std::memcpy(&packed.codec, key.codec->data(), std::min<size_t>(key.codec->size(), 8));
        }
        if (key.width) packed.hasWidth = true, packed.width = *key.width;
        if (key.height) packed.hasHeight = true, packed.height = *key.height;
        return packed;
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
        for (Index i = 0; i < drives.size(); ++i) {
            if (cardRoot && isBelow(drives[i].url.native(), root)) {
                excluded_.resize(drives.size(), false);
                excluded_[i] = true;
                continue;
            }
            slotOf[i] = sizes_.insert(drives[i].byteSize);
            if (slotOf[i] == counts.size()) counts.push_back(0);
            ++counts[slotOf[i]];
        }
        starts_.assign(counts.size() + 1, 0);
        for (size_t s = 0; s < counts.size(); ++s) starts_[s + 1] = starts_[s] + counts[s];
        order_.resize(starts_.back());
        packed_.resize(starts_.back());
        std::vector<Index> fill(starts_.begin(), starts_.end() - 1);
        for (Index i = 0; i < drives.size(); ++i) {
            if (isExcluded(i)) continue;
            Index k = fill[slotOf[i]]++;
            order_[k] = i;
            packed_[k] = PackedKey::of(FingerprintKey::of(drives[i]));
        }
        for (Index s = 0; s < counts.size(); ++s) {
            if (counts[s] <= sortedBucketThreshold) continue;
            TimedBucket& bucket = timed_[s];
            for (Index k = starts_[s]; k < starts_[s + 1]; ++k) {
                Index i = order_[k];
                auto epoch = cameraEpoch(drives[i]);
                if (epoch && std::isfinite(*epoch))
                    bucket.byTime.emplace_back(*epoch, i);
                else
                    bucket.untimed.push_back(i);
            }
            std::stable_sort(bucket.byTime.begin(), bucket.byTime.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
    }

    const Fingerprint& drive(Index i) const { return drives_[i]; }

    // Whether drive file `i` lies on the card's file system at or below the card root's place
    // there (the card's folder reached through a bind mount, or the card reached through
    // one), which the path test at construction cannot see. Found on first need and kept:
    // only candidates are ever asked about, so a match stats a few files, not every drive
    // file. A file that cannot be placed is kept (the verifier decides by its bytes).
    bool isOnCardPlace(Index i) const {
        if (!cardPlace_) return false;
        if (onCardPlace_[i] == unknown) {
            auto place = places_->of(drives_[i].url);
            onCardPlace_[i] = place && place->isSameOrBelow(*cardPlace_) ? onCard : elsewhere;
        }
        return onCardPlace_[i] == onCard;
    }

    // The drive files that fit `key`, in drive order.
    std::vector<Index> candidates(const FingerprintKey& key, double tolerance) const {
        std::vector<Index> fitting;
        auto slot = sizes_.find(key.byteSize);
        if (!slot) return fitting;
        auto timed = timed_.find(*slot);
        if (timed == timed_.end() || !key.captureEpoch || !std::isfinite(*key.captureEpoch)) {
            PackedKey wanted = PackedKey::of(key);
            for (Index k = starts_[*slot]; k < starts_[*slot + 1]; ++k)
                if (fits(wanted, packed_[k], tolerance) &&
                    (!wanted.needsFullCodec(packed_[k]) || fits(key, drives_[order_[k]], tolerance)))
                    fitting.push_back(order_[k]);
            return fitting;
        }
        const TimedBucket& bucket = timed->second;
        double low = *key.captureEpoch - tolerance - windowSlack;
        double high = *key.captureEpoch + tolerance + windowSlack;
        auto first = std::lower_bound(bucket.byTime.begin(), bucket.byTime.end(), low,
                                      [](const auto& entry, double value) { return entry.first < value; });
        for (auto at = first; at != bucket.byTime.end() && at->first <= high; ++at)
            if (fits(key, drives_[at->second], tolerance)) fitting.push_back(at->second);
        for (Index i : bucket.untimed)
            if (fits(key, drives_[i], tolerance)) fitting.push_back(i);
        std::sort(fitting.begin(), fitting.end());
        return fitting;
    }

    // The first drive file (drive order) whose lower-cased name stem is `stem` and that is
    // not on the card. The stem index is built on the first call, as most scans confirm every
    // clip and never need it.
    std::optional<Index> firstWithStem(const std::string& stem) const {
        if (!stems_) buildStemIndex();
        auto slot = stems_->find(stemHash(stem));
        if (!slot) return std::nullopt;
        // Every file whose stem has this hash, in drive order; two stems may share a hash.
        for (Index i = firstWithStemSlot_[*slot]; i != noIndex; i = nextWithStemSlot_[i])
            if (stemKey(drives_[i]) == stem && !isOnCardPlace(i)) return i;
        return std::nullopt;
    }

    // lowercased(stemOf(url)) written into `out` without allocating for plain ASCII names:
    // the stem index lowers a million drive names, and the allocations were half its cost.
    static const std::string& stemKey(const Fingerprint& fp, std::string& out) {
        std::string_view path = fp.url.native();
        while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
        std::string_view name = path == "/" ? path : path.substr(path.rfind('/') + 1);
        std::string_view stem = name.substr(0, std::min(name.size(), name.rfind('.')));
        bool ascii = true;
        for (char c : stem) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (!ascii) return out = lowercased(stem);
        out.assign(stem);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    static std::string stemKey(const Fingerprint& fp) {
        std::string out;
        return stemKey(fp, out);
    }
    static int64_t stemHash(std::string_view stem) { return static_cast<int64_t>(std::hash<std::string_view>{}(stem)); }

private:
    enum : int8_t { unknown, onCard, elsewhere };
    static constexpr Index noIndex = std::numeric_limits<Index>::max();

    bool isExcluded(Index i) const { return !excluded_.empty() && excluded_[i]; }

    // One pass, last drive file first, so each file goes to the front of its slot's chain:
    // the chain then runs in drive order from the slot's first file.
    void buildStemIndex() const {
        stems_.emplace(drives_.size());
        nextWithStemSlot_.assign(drives_.size(), noIndex);
        std::string buffer;
        for (Index i = static_cast<Index>(drives_.size()); i-- > 0;) {
            if (isExcluded(i)) continue;
            Index slot = stems_->insert(stemHash(stemKey(drives_[i], buffer)));
            if (slot == firstWithStemSlot_.size()) {
                firstWithStemSlot_.push_back(i);
            } else {
                nextWithStemSlot_[i] = firstWithStemSlot_[slot];
                firstWithStemSlot_[slot] = i;
            }
        }
    }

    static bool isBelow(const std::string& path, const std::string& root) {
        if (root == "/") return true;
        return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
               (path.size() == root.size() || path[root.size()] == '/');
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

    static bool fits(const FingerprintKey& key, const Fingerprint& candidate, double tolerance) {
        if (candidate.byteSize != key.byteSize) return false;
        if (key.codec && candidate.codec && *key.codec != *candidate.codec) return false;
        if (key.width && candidate.width && *key.width != *candidate.width) return false;
        if (key.height && candidate.height && *key.height != *candidate.height) return false;
        auto epoch = cameraEpoch(candidate);
        if (key.captureEpoch && epoch && !(std::fabs(*key.captureEpoch - *epoch) <= tolerance)) return false;
        return true;
    }

    const std::vector<Fingerprint>& drives_;
    std::vector<bool> excluded_;  // empty when nothing is excluded
    KeySlots sizes_;
    std::vector<Index> starts_;  // slot s holds order_[starts_[s] .. starts_[s + 1])
    std::vector<Index> order_;
    std::vector<PackedKey> packed_;  // beside order_
    std::unordered_map<Index, TimedBucket> timed_;  // large buckets only
    mutable std::optional<KeySlots> stems_;  // name-stem hash to slot, built on first use
    mutable std::vector<Index> firstWithStemSlot_;
    mutable std::vector<Index> nextWithStemSlot_;  // per drive file; noIndex ends a slot's chain
    mutable std::optional<FileSystemPlaces> places_;  // with a card root that could be placed
    std::optional<FileSystemPlace> cardPlace_;
    mutable std::vector<int8_t> onCardPlace_;  // per drive file, found on first need
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

MatchStatus matchGroup(const ClipGroup& group, const DriveIndex& index, double tolerance) {
    if (group.primaryFiles.empty()) return MatchStatus::missing();
    const Fingerprint& primary = group.primaryFiles.front();
    std::vector<Index> fitting = index.candidates(FingerprintKey::of(primary), tolerance);
    std::erase_if(fitting, [&](Index i) { return index.isOnCardPlace(i); });
    if (fitting.empty()) {
        if (auto candidate = index.firstWithStem(DriveIndex::stemKey(primary)))
            return MatchStatus::nameMatchMetadataMismatch(index.drive(*candidate).url);
        return MatchStatus::missing();
    }
    if (fitting.size() == 1) return MatchStatus::confirmed(index.drive(fitting.front()).url);
    if (auto nearest = nearestUniqueMatch(primary, fitting, index)) return MatchStatus::confirmed(index.drive(*nearest).url);
    std::vector<fs::path> locations;
    locations.reserve(fitting.size());
    for (Index i : fitting) locations.push_back(index.drive(i).url);
    return MatchStatus::possibleDuplicate(std::move(locations));
}

}  // namespace

std::vector<MatchResult> Matcher::match(const std::vector<ClipGroup>& card, const std::vector<Fingerprint>& drives,
                                        const std::optional<fs::path>& cardRoot) const {
    DriveIndex index(drives, cardRoot);
    std::vector<MatchResult> results;
    results.reserve(card.size());
    for (const ClipGroup& group : card) results.push_back({group, matchGroup(group, index, captureTimeTolerance)});
    return results;
}

}  // namespace tessaline
