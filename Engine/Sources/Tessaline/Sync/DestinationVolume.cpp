#include "Tessaline/Sync/DestinationVolume.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <vector>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> componentsOf(const fs::path& path) {
    std::vector<std::string> parts;
    for (const auto& part : path.lexically_normal()) {
        std::string text = part.string();
        if (!text.empty()) parts.push_back(text);
    }
    return parts;
}

fs::path joined(const std::vector<std::string>& parts, size_t count) {
    fs::path path;
    for (size_t i = 0; i < count && i < parts.size(); ++i) path /= parts[i];
    return path;
}

// True when `folder` is itself a mounted file system named `name`.
bool isMountedVolumeNamed(const fs::path& folder, const std::string& name) {
    auto canonical = canonicalExistingPath(folder);
    if (!canonical) return false;
    auto entry = mountRootedAt(MountTable::current(), *canonical);
    if (!entry) return false;
    auto volume = volumeName(*entry);
    return volume && *volume == name;
}

// The candidate volume roots of a path below a mount parent, longest first; nullopt when
// the path is not below one. An empty list: below a mount parent but naming no volume.
std::optional<std::vector<size_t>> volumeRootLengths(const std::vector<std::string>& parts) {
    if (parts.size() < 2 || parts[0] != "/") return std::nullopt;
    const std::string& top = parts[1];
    std::vector<size_t> lengths;
    if (top == "media") {
        if (parts.size() >= 4) lengths.push_back(4);  // /media/<user>/<name>
        if (parts.size() >= 3) lengths.push_back(3);  // /media/<name>
        return lengths;
    }
    if (top == "mnt" || top == "Volumes") {
        if (parts.size() >= 3) lengths.push_back(3);
        return lengths;
    }
    if (top == "run" && parts.size() >= 3 && parts[2] == "media") {
        if (parts.size() >= 5) lengths.push_back(5);  // /run/media/<user>/<name>
        return lengths;
    }
    return std::nullopt;
}

}  // namespace

bool destinationIsConnected(const fs::path& destination) {
    if (!destination.is_absolute()) return false;
    auto parts = componentsOf(destination);
    if (auto roots = volumeRootLengths(parts)) {
        for (size_t length : *roots)
            if (isMountedVolumeNamed(joined(parts, length), parts[length - 1])) return true;
        return false;
    }
    std::error_code ec;
    fs::path normal = joined(parts, parts.size());
    if (fs::exists(normal, ec)) return true;
    return normal.has_parent_path() && fs::exists(normal.parent_path(), ec);
}

std::optional<fs::path> nearestExistingFolder(const fs::path& destination) {
    if (!destination.is_absolute()) return std::nullopt;
    fs::path probe = destination.lexically_normal();
    std::error_code ec;
    while (!fs::exists(probe, ec)) {
        if (!probe.has_relative_path()) return std::nullopt;
        probe = probe.parent_path();
    }
    return probe;
}

std::optional<std::string> destinationVolumeName(const fs::path& destination) {
    auto folder = nearestExistingFolder(destination);
    if (!folder) return std::nullopt;
    return volumeLabel(*folder);
}

}  // namespace tessaline
