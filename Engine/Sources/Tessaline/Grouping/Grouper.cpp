#include "Tessaline/Grouping/Grouper.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

const std::unordered_set<std::string>& rawExtensions() {
    static const std::unordered_set<std::string> set{"cr2", "cr3", "nef", "nrw", "arw", "srf", "sr2", "raf",
                                                     "rw2", "orf", "pef", "ptx", "dng", "3fr", "mef", "mrw",
                                                     "x3f", "kdc", "dcr", "erf", "srw", "rwl"};
    return set;
}

const std::unordered_set<std::string>& jpegExtensions() {
    static const std::unordered_set<std::string> set{"jpg", "jpeg", "jpe"};
    return set;
}

std::string extensionKey(const fs::path& url) { return asciiLowercased(pathExtension(url)); }
std::string stemKey(const fs::path& url) { return lowercased(stemOf(url)); }
std::string folderOf(const fs::path& url) { return url.parent_path().native(); }

bool isLineTerminator(UChar32 c) {
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The base of a spanned-clip piece: the lower-cased stem matched against "^(.*?)(_\d+)?$" with
// the rules of the platform's regular expressions: \d is any Unicode decimal digit, "." does
// not match a line terminator, and "$" also matches before one final line terminator ("\r\n"
// counts as one). When the "_<digits>" group takes part, the base is the first group; in every
// other case (no suffix, or no match at all) the base is the whole stem.
std::string spannedBase(const std::string& stem) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(stem.data());
    auto length = static_cast<int32_t>(stem.size());

    // Text the pattern may consume: the stem without one final line terminator.
    int32_t end = length;
    if (end > 0) {
        int32_t at = end;
        UChar32 c;
        U8_PREV(bytes, 0, at, c);
        if (c >= 0 && isLineTerminator(c)) {
            end = at;
            if (c == 0x0A && end > 0 && bytes[end - 1] == 0x0D) --end;
        }
    }
    // A line terminator anywhere else: ".*?" cannot cross it, so there is no match.
    for (int32_t at = 0; at < end;) {
        UChar32 c;
        U8_NEXT(bytes, at, end, c);
        if (c >= 0 && isLineTerminator(c)) return stem;
    }
    // The longest run of decimal digits at the end, then an underscore before it.
    int32_t digitsStart = end;
    while (digitsStart > 0) {
        int32_t at = digitsStart;
        UChar32 c;
        U8_PREV(bytes, 0, at, c);
        if (c < 0 || u_charType(c) != U_DECIMAL_DIGIT_NUMBER) break;
        digitsStart = at;
    }
    if (digitsStart == end || digitsStart == 0 || bytes[digitsStart - 1] != '_') return stem;
    return stem.substr(0, static_cast<size_t>(digitsStart - 1));
}

struct PairHash {
    size_t operator()(const std::pair<std::string, std::string>& key) const {
        size_t h = std::hash<std::string>{}(key.first);
        return h ^ (std::hash<std::string>{}(key.second) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
    }
};

struct BurstKey {
    std::string folder;
    std::string model;
    int64_t second;
    bool operator==(const BurstKey&) const = default;
};

struct BurstKeyHash {
    size_t operator()(const BurstKey& key) const {
        size_t h = PairHash{}({key.folder, key.model});
        return h ^ (std::hash<int64_t>{}(key.second) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
    }
};

bool byPath(const Fingerprint& a, const Fingerprint& b) { return a.url.native() < b.url.native(); }

// Collects files per key in input order and remembers the order in which keys first appeared,
// so that groups come out in a repeatable order before the final sort.
template <typename Key, typename Hash>
class Buckets {
public:
    void add(const Key& key, const Fingerprint* file) {
        auto [it, inserted] = index_.try_emplace(key, buckets_.size());
        if (inserted) buckets_.emplace_back();
        buckets_[it->second].push_back(file);
    }
    const std::vector<std::vector<const Fingerprint*>>& all() const { return buckets_; }

private:
    std::unordered_map<Key, size_t, Hash> index_;
    std::vector<std::vector<const Fingerprint*>> buckets_;
};

ClipGroup makeGroup(const std::vector<const Fingerprint*>& files, ClipGroup::Kind kind,
                    std::unordered_set<std::string>& used) {
    ClipGroup group;
    group.kind = kind;
    for (const Fingerprint* file : files) {
        group.primaryFiles.push_back(*file);
        used.insert(file->url.native());
    }
    std::stable_sort(group.primaryFiles.begin(), group.primaryFiles.end(), byPath);
    return group;
}

using Files = std::vector<const Fingerprint*>;

// How far apart two consecutive pieces' dates may lie beyond the longer piece's duration:
// cameras write a piece's date when it starts or when it ends, and round it to the second.
constexpr double pieceDateSlackSeconds = 5.0;

// Whether `next` can continue the recording `previous` belongs to. A camera dates each piece
// by its start (the gap is the earlier piece's duration) or by its end (the later piece's), so
// separate recordings that share a name pattern (MVI_0321, MVI_0322) fall apart here once
// both are dated. A piece without a date, or with one that is not a number, proves nothing
// either way and keeps the link; an unknown duration counts as none.
bool followsInRecordingTime(const Fingerprint& previous, const Fingerprint& next) {
    if (!previous.captureDate || !next.captureDate) return true;
    if (!std::isfinite(*previous.captureDate) || !std::isfinite(*next.captureDate)) return true;
    auto seconds = [](const Fingerprint& piece) {
        return piece.duration && std::isfinite(*piece.duration) && *piece.duration > 0 ? *piece.duration : 0.0;
    };
    double longer = std::max(seconds(previous), seconds(next));
    return std::fabs(*next.captureDate - *previous.captureDate) <= longer + pieceDateSlackSeconds;
}

Files spannedClips(const Files& input, std::vector<ClipGroup>& groups) {
    Files others, videos;
    for (const Fingerprint* file : input) (MediaClassifier::isVideo(file->url) ? videos : others).push_back(file);
    Buckets<std::pair<std::string, std::string>, PairHash> byBase;
    for (const Fingerprint* video : videos) byBase.add({folderOf(video->url), spannedBase(stemKey(video->url))}, video);
    std::unordered_set<std::string> used;
    for (Files pieces : byBase.all()) {
        if (pieces.size() < 2) continue;
        // Pieces in piece order; a break in recording time ends one clip and starts the next.
        std::stable_sort(pieces.begin(), pieces.end(), [](const Fingerprint* a, const Fingerprint* b) { return byPath(*a, *b); });
        Files run{pieces.front()};
        auto close = [&] {
            if (run.size() >= 2) groups.push_back(makeGroup(run, ClipGroup::Kind::video, used));
            run.clear();
        };
        for (size_t i = 1; i < pieces.size(); ++i) {
            if (!followsInRecordingTime(*pieces[i - 1], *pieces[i])) close();
            run.push_back(pieces[i]);
        }
        close();
    }
    Files rest = others;
    for (const Fingerprint* video : videos)
        if (!used.count(video->url.native())) rest.push_back(video);
    return rest;
}

Files rawJpegPairs(const Files& input, std::vector<ClipGroup>& groups) {
    Buckets<std::pair<std::string, std::string>, PairHash> byStem;
    for (const Fingerprint* file : input) {
        std::string extension = extensionKey(file->url);
        if (rawExtensions().count(extension) || jpegExtensions().count(extension))
            byStem.add({folderOf(file->url), stemKey(file->url)}, file);
    }
    std::unordered_set<std::string> used;
    for (const Files& files : byStem.all()) {
        bool hasRaw = false, hasJpeg = false, allDated = true;
        EpochSeconds earliest = std::numeric_limits<double>::infinity();
        EpochSeconds latest = -std::numeric_limits<double>::infinity();
        for (const Fingerprint* file : files) {
            std::string extension = extensionKey(file->url);
            hasRaw = hasRaw || rawExtensions().count(extension);
            hasJpeg = hasJpeg || jpegExtensions().count(extension);
            if (!file->captureDate) {
                allDated = false;
                continue;
            }
            earliest = std::min(earliest, *file->captureDate);
            latest = std::max(latest, *file->captureDate);
        }
        if (!hasRaw || !hasJpeg) continue;
        if (allDated && !(latest - earliest < 1.0)) continue;
        groups.push_back(makeGroup(files, ClipGroup::Kind::rawJpegPair, used));
    }
    Files rest;
    for (const Fingerprint* file : input)
        if (!used.count(file->url.native())) rest.push_back(file);
    return rest;
}

Files bursts(const Files& input, std::vector<ClipGroup>& groups) {
    Files videos, others;
    for (const Fingerprint* file : input) (MediaClassifier::isVideo(file->url) ? videos : others).push_back(file);
    // A tuple key: a "|" inside a folder or model name cannot merge unrelated files.
    Buckets<BurstKey, BurstKeyHash> bySecond;
    for (const Fingerprint* file : others) {
        if (!file->captureDate || !file->hasCameraTimestamp || !std::isfinite(*file->captureDate)) continue;
        bySecond.add({folderOf(file->url), file->cameraModel.value_or("unknown"),
                      static_cast<int64_t>(std::trunc(*file->captureDate))},
                     file);
    }
    std::unordered_set<std::string> used;
    for (const Files& files : bySecond.all())
        if (files.size() >= 3) groups.push_back(makeGroup(files, ClipGroup::Kind::burstSet, used));
    Files rest = videos;
    for (const Fingerprint* file : others)
        if (!used.count(file->url.native())) rest.push_back(file);
    return rest;
}

// The clip stem a camera's numbered metadata file names: "<clip>M01" (an "M" and two ASCII
// digits after the clip's stem, as in C0001M01.XML beside C0001.MP4), lower-cased; none for
// any other stem.
std::optional<std::string> numberedMetadataBase(const std::string& lowerStem) {
    const size_t n = lowerStem.size();
    if (n < 4 || lowerStem[n - 3] != 'm') return std::nullopt;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(lowerStem[n - 2]) || !digit(lowerStem[n - 1])) return std::nullopt;
    return lowerStem.substr(0, n - 3);
}

void attachSidecars(ClipGroup& group, const std::unordered_map<std::string, std::vector<fs::path>>& sidecarsByStem) {
    std::unordered_set<std::string> seen, attached;
    for (const Fingerprint& file : group.primaryFiles) {
        std::string stem = stemKey(file.url);
        if (!seen.insert(stem).second) continue;
        auto it = sidecarsByStem.find(stem);
        if (it == sidecarsByStem.end()) continue;
        // A sidecar listed under two of the group's stems (its own and a numbered one) joins once.
        for (const fs::path& sidecar : it->second)
            if (attached.insert(sidecar.native()).second) group.sidecars.push_back(sidecar);
    }
}

}  // namespace

std::vector<ClipGroup> Grouper::group(const std::vector<Fingerprint>& media, const std::vector<MediaFile>& sidecars) const {
    std::vector<ClipGroup> groups;
    if (media.empty()) return groups;

    // A sidecar joins by its own stem, and a numbered metadata file also by its clip's stem.
    std::unordered_map<std::string, std::vector<fs::path>> sidecarsByStem;
    for (const MediaFile& sidecar : sidecars) {
        std::string stem = stemKey(sidecar.url);
        if (auto base = numberedMetadataBase(stem)) sidecarsByStem[*base].push_back(sidecar.url);
        sidecarsByStem[stem].push_back(sidecar.url);
    }

    Files files;
    files.reserve(media.size());
    for (const Fingerprint& file : media) files.push_back(&file);
    files = spannedClips(files, groups);
    files = rawJpegPairs(files, groups);
    files = bursts(files, groups);
    for (const Fingerprint* file : files) {
        ClipGroup single;
        single.primaryFiles.push_back(*file);
        single.kind = MediaClassifier::isVideo(file->url) ? ClipGroup::Kind::video : ClipGroup::Kind::still;
        groups.push_back(std::move(single));
    }

    for (ClipGroup& group : groups) attachSidecars(group, sidecarsByStem);

    // Undated groups sort after every dated one; ties by the first primary's path.
    struct SortKey {
        double date;
        const std::string* path;
    };
    std::vector<std::pair<SortKey, size_t>> order;
    order.reserve(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        auto date = groups[i].captureDate();
        double when = date && !std::isnan(*date) ? *date : std::numeric_limits<double>::infinity();
        order.push_back({{when, &groups[i].primaryFiles.front().url.native()}, i});
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        if (a.first.date != b.first.date) return a.first.date < b.first.date;
        return *a.first.path < *b.first.path;
    });
    std::vector<ClipGroup> sorted;
    sorted.reserve(groups.size());
    for (const auto& entry : order) sorted.push_back(std::move(groups[entry.second]));
    return sorted;
}

}  // namespace tessaline
