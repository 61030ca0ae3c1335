#include "Tessaline/Matcher/Matcher.hpp"

#include "Tessaline/Matcher/FingerprintKey.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <cmath>
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

struct SizeBucket {
    std::vector<Index> members;                    // drive order
    std::vector<std::pair<double, Index>> byTime;  // finite camera epochs, sorted (large buckets only)
    std::vector<Index> untimed;                    // the rest, drive order (large buckets only)
};

// The drive files, indexed once per match() call and never changed while the card is matched.
class DriveIndex {
public:
    DriveIndex(const std::vector<Fingerprint>& drives, const std::optional<fs::path>& cardRoot) : drives_(drives) {
        keys_.reserve(drives.size());
        std::string root = cardRoot ? normalizedPath(*cardRoot).native() : std::string();
        for (Index i = 0; i < drives.size(); ++i) {
            keys_.push_back(FingerprintKey::of(drives[i]));
            if (cardRoot && isBelow(drives[i].url.native(), root)) {
                excluded_.resize(drives.size(), false);
                excluded_[i] = true;
                continue;
            }
            bySize_[drives[i].byteSize].members.push_back(i);
        }
        for (auto& [size, bucket] : bySize_) {
            if (bucket.members.size() <= sortedBucketThreshold) continue;
            for (Index i : bucket.members) {
                const auto& epoch = keys_[i].captureEpoch;
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

    // The drive files that fit `key`, in drive order.
    std::vector<Index> candidates(const FingerprintKey& key, double tolerance) const {
        std::vector<Index> fitting;
        auto it = bySize_.find(key.byteSize);
        if (it == bySize_.end()) return fitting;
        const SizeBucket& bucket = it->second;
        bool windowed = !bucket.byTime.empty() || !bucket.untimed.empty();
        if (!windowed || !key.captureEpoch || !std::isfinite(*key.captureEpoch)) {
            for (Index i : bucket.members)
                if (fits(key, keys_[i], tolerance)) fitting.push_back(i);
            return fitting;
        }
        double low = *key.captureEpoch - tolerance - windowSlack;
        double high = *key.captureEpoch + tolerance + windowSlack;
        auto first = std::lower_bound(bucket.byTime.begin(), bucket.byTime.end(), low,
                                      [](const auto& entry, double value) { return entry.first < value; });
        for (auto at = first; at != bucket.byTime.end() && at->first <= high; ++at)
            if (fits(key, keys_[at->second], tolerance)) fitting.push_back(at->second);
        for (Index i : bucket.untimed)
            if (fits(key, keys_[i], tolerance)) fitting.push_back(i);
        std::sort(fitting.begin(), fitting.end());
        return fitting;
    }

    // The first drive file (drive order) whose lower-cased name stem is `stem`.
    std::optional<Index> firstWithStem(const std::string& stem) const {
        if (!stemIndexBuilt_) {
            stemIndex_.reserve(drives_.size());
            for (Index i = 0; i < drives_.size(); ++i)
                if (excluded_.empty() || !excluded_[i]) stemIndex_.try_emplace(lowercased(stemOf(drives_[i].url)), i);
            stemIndexBuilt_ = true;
        }
        auto it = stemIndex_.find(stem);
        if (it == stemIndex_.end()) return std::nullopt;
        return it->second;
    }

private:
    static bool isBelow(const std::string& path, const std::string& root) {
        if (root == "/") return true;
        return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
               (path.size() == root.size() || path[root.size()] == '/');
    }

    static bool fits(const FingerprintKey& key, const FingerprintKey& candidate, double tolerance) {
        if (candidate.byteSize != key.byteSize) return false;
        if (key.codec && candidate.codec && *key.codec != *candidate.codec) return false;
        if (key.width && candidate.width && *key.width != *candidate.width) return false;
        if (key.height && candidate.height && *key.height != *candidate.height) return false;
        if (key.captureEpoch && candidate.captureEpoch && !(std::fabs(*key.captureEpoch - *candidate.captureEpoch) <= tolerance))
            return false;
        return true;
    }

    const std::vector<Fingerprint>& drives_;
    std::vector<FingerprintKey> keys_;
    std::vector<bool> excluded_;  // empty when nothing is excluded
    std::unordered_map<int64_t, SizeBucket> bySize_;
    mutable bool stemIndexBuilt_ = false;
    mutable std::unordered_map<std::string, Index> stemIndex_;
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
    if (fitting.empty()) {
        if (auto candidate = index.firstWithStem(lowercased(stemOf(primary.url))))
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
