#include "Tessaline/Matcher/DriveBuckets.hpp"

#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <cmath>

namespace tessaline {

namespace {

std::string_view nameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

DriveBuckets::DriveBuckets(const std::vector<Fingerprint>& drives, std::vector<int64_t> sizes) : drives_(drives) {
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    for (int64_t size : sizes) buckets_[size];
    if (buckets_.empty()) return;
    for (size_t i = 0; i < drives.size(); ++i)
        if (auto it = buckets_.find(drives[i].byteSize); it != buckets_.end()) it->second.files.push_back(static_cast<Index>(i));
}

std::string_view DriveBuckets::folderOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

DriveBuckets::Bucket* DriveBuckets::find(int64_t size) {
    auto it = buckets_.find(size);
    return it == buckets_.end() ? nullptr : &it->second;
}

DriveBuckets::Bucket& DriveBuckets::indexed(Bucket& bucket) {
    if (bucket.indexed) return bucket;
    bucket.indexed = true;
    for (Index i : bucket.files) {
        const std::string& path = drives_[i].url.native();
        bucket.byName[asciiLowercased(nameOf(path))].push_back(i);
        bucket.byFolder[std::string(folderOf(path))].push_back(i);
        if (const auto& date = drives_[i].captureDate; date && std::isfinite(*date)) bucket.byDate.emplace_back(*date, i);
    }
    std::stable_sort(bucket.byDate.begin(), bucket.byDate.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return bucket;
}

std::span<const DriveBuckets::Index> DriveBuckets::ofSize(int64_t size) const {
    auto it = buckets_.find(size);
    if (it == buckets_.end()) return {};
    return it->second.files;
}

std::span<const DriveBuckets::Index> DriveBuckets::named(int64_t size, std::string_view name) {
    Bucket* bucket = find(size);
    if (!bucket) return {};
    auto& byName = indexed(*bucket).byName;
    auto it = byName.find(asciiLowercased(name));
    if (it == byName.end()) return {};
    return it->second;
}

std::span<const DriveBuckets::Index> DriveBuckets::inFolder(int64_t size, std::string_view folder) {
    Bucket* bucket = find(size);
    if (!bucket) return {};
    auto& byFolder = indexed(*bucket).byFolder;
    auto it = byFolder.find(std::string(folder));
    if (it == byFolder.end()) return {};
    return it->second;
}

std::span<const std::pair<double, DriveBuckets::Index>> DriveBuckets::byDate(int64_t size) {
    Bucket* bucket = find(size);
    if (!bucket) return {};
    return indexed(*bucket).byDate;
}

}  // namespace tessaline
