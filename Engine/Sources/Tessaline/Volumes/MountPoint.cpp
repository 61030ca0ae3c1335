#include "Tessaline/Volumes/MountPoint.hpp"

#include "Tessaline/Volumes/MountTable.hpp"

#include <climits>
#include <cstdlib>

namespace tessaline {

std::optional<std::filesystem::path> canonicalExistingPath(const std::filesystem::path& path) {
    if (path.empty()) return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::filesystem::path result(resolved);
    std::free(resolved);
    return result;
}

std::optional<MountEntry> mountEntryFor(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    if (!canonical) return std::nullopt;
    return MountTable::current().containing(*canonical);
}

std::optional<std::filesystem::path> mountPointFor(const std::filesystem::path& path) {
    auto entry = mountEntryFor(path);
    if (!entry) return std::nullopt;
    return entry->mountPoint;
}

bool isMountPoint(const std::filesystem::path& path) {
    auto canonical = canonicalExistingPath(path);
    return canonical && MountTable::current().mountedAt(*canonical).has_value();
}

}  // namespace tessaline
