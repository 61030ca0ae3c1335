#pragma once
// The drive files of one proof run by size, for the sizes of the card's files only, each
// size's files indexed on first need by name (ASCII case ignored), by folder and by capture
// date, so a card file's likeliest copies are found without looking at every drive file of
// its size: the cost of a size is paid once, however many card files share it. Holds nothing
// for drive files of other sizes (measured reason: a bucket for every size of a RAID of
// 200,000 files of different sizes took a third of the scan's memory per drive file).
// Refers to the drive fingerprints, which must outlive it. One thread.

#include "Tessaline/Fingerprint.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessaline {

class DriveBuckets {
public:
    using Index = uint32_t;

    // `sizes`: the sizes that will be asked about, in any order, repeats allowed.
    DriveBuckets(const std::vector<Fingerprint>& drives, std::vector<int64_t> sizes);

    // The drive files of `size` (one of the sizes given), in drive order (ascending numbers);
    // empty when none.
    std::span<const Index> ofSize(int64_t size) const;
    // Those named `name` (ASCII case ignored), in drive order.
    std::span<const Index> named(int64_t size, std::string_view name);
    // Those in the folder `folder` (the path of the folder that holds them), in drive order.
    std::span<const Index> inFolder(int64_t size, std::string_view folder);
    // Those with a capture date (any source), sorted by it, for a search outward from a date.
    std::span<const std::pair<double, Index>> byDate(int64_t size);

    // The folder that holds `path` ("/a/b/c.dng" gives "/a/b").
    static std::string_view folderOf(std::string_view path);

private:
    struct Bucket {
        std::vector<Index> files;
        bool indexed = false;
        std::unordered_map<std::string, std::vector<Index>> byName;
        std::unordered_map<std::string, std::vector<Index>> byFolder;
        std::vector<std::pair<double, Index>> byDate;
    };
    Bucket* find(int64_t size);
    Bucket& indexed(Bucket& bucket);

    const std::vector<Fingerprint>& drives_;
    std::unordered_map<int64_t, Bucket> buckets_;
};

}  // namespace tessaline
