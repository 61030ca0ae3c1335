#include "Tessaline/Bookmarks/Bookmark.hpp"

#include "Tessaline/Support/Base64.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"
#include "Tessaline/Volumes/VolumeUuid.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

namespace tessaline {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

constexpr int currentVersion = 1;

void putText(Json& object, const char* key, const std::string& value) {
    if (isValidUtf8(value))
        object[key] = value;
    else
        object[std::string(key) + "64"] = base64Encoded(value);
}

void putOptionalText(Json& object, const char* key, const std::optional<std::string>& value) {
    if (value)
        putText(object, key, *value);
    else
        object[key] = nullptr;
}

// Reads `key` (text) or `key64` (base64 bytes). Missing or mistyped: nullopt.
std::optional<std::string> getText(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it != object.end() && it->is_string()) return it->get<std::string>();
    auto encoded = object.find(std::string(key) + "64");
    if (encoded != object.end() && encoded->is_string()) return base64Decoded(encoded->get<std::string>());
    return std::nullopt;
}

// Present as null, or as text: both are well-formed. Missing entirely: malformed.
bool getOptionalText(const Json& object, const char* key, std::optional<std::string>& out) {
    auto it = object.find(key);
    if (it != object.end() && it->is_null()) {
        out.reset();
        return true;
    }
    out = getText(object, key);
    return out.has_value();
}

// A relative path that stays inside its mount: no leading "/", no ".." component.
bool isContainedRelativePath(const std::string& relPath) {
    if (relPath.empty()) return true;
    if (relPath.front() == '/') return false;
    for (const auto& component : fs::path(relPath))
        if (component == "..") return false;
    return true;
}

bool isAccessibleFolder(const fs::path& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), R_OK | X_OK) == 0;
}

}  // namespace

Bookmark Bookmark::create(const fs::path& url, bool scoped) {
    auto canonical = canonicalExistingPath(url);
    if (!canonical) throw FileReadError(url, errno ? errno : ENOENT);
    if (::access(canonical->c_str(), R_OK) != 0) throw FileReadError(*canonical, errno);
    auto entry = MountTable::current().containing(*canonical);
    if (!entry) throw FileReadError(*canonical, ENOENT);
    Bookmark bookmark;
    bookmark.path = canonical->native();
    bookmark.fsUuid = volumeUuid(*entry);
    bookmark.fsType = entry->fsType;
    bookmark.fsLabel = volumeName(*entry);
    bookmark.mountPoint = entry->mountPoint.native();
    bookmark.mountRoot = entry->root;
    bookmark.relPath = canonical->lexically_relative(entry->mountPoint).native();
    if (bookmark.relPath == ".") bookmark.relPath.clear();
    bookmark.scoped = scoped;
    return bookmark;
}

std::string Bookmark::data() const {
    Json object = Json::object();
    object["v"] = currentVersion;
    putText(object, "path", path);
    putOptionalText(object, "fsUuid", fsUuid);
    putText(object, "fsType", fsType);
    putOptionalText(object, "fsLabel", fsLabel);
    putText(object, "mountPoint", mountPoint);
    putText(object, "mountRoot", mountRoot);
    putText(object, "relPath", relPath);
    object["scoped"] = scoped;
    return jsonText(object, -1);
}

std::optional<Bookmark> Bookmark::fromData(std::string_view data) {
    Json object = Json::parse(data.begin(), data.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto version = object.find("v");
    if (version == object.end() || !version->is_number_integer() || version->get<int>() != currentVersion)
        return std::nullopt;
    auto scoped = object.find("scoped");
    if (scoped == object.end() || !scoped->is_boolean()) return std::nullopt;
    Bookmark bookmark;
    bookmark.scoped = scoped->get<bool>();
    auto path = getText(object, "path");
    auto fsType = getText(object, "fsType");
    auto mountPoint = getText(object, "mountPoint");
    auto mountRoot = getText(object, "mountRoot");
    auto relPath = getText(object, "relPath");
    if (!path || !fsType || !mountPoint || !mountRoot || !relPath) return std::nullopt;
    if (!getOptionalText(object, "fsUuid", bookmark.fsUuid) || !getOptionalText(object, "fsLabel", bookmark.fsLabel))
        return std::nullopt;
    bookmark.path = *path;
    bookmark.fsType = *fsType;
    bookmark.mountPoint = *mountPoint;
    bookmark.mountRoot = *mountRoot;
    bookmark.relPath = *relPath;
    return bookmark;
}

std::optional<BookmarkResolution> Bookmark::resolve(bool scopedResolution) const {
    if (scopedResolution && !scoped) return std::nullopt;
    // The file is user-editable: a relative path must not climb out of its volume.
    if (!isContainedRelativePath(relPath)) return std::nullopt;
    MountTable table = MountTable::current();
    const MountEntry* chosen = nullptr;
    if (fsUuid) {
        std::map<std::string, std::optional<std::string>> uuidBySource;  // probe each device once
        for (const MountEntry& entry : table.entries()) {
            if (entry.root != mountRoot || !entry.isBlockBacked()) continue;
            auto known = uuidBySource.find(entry.source);
            if (known == uuidBySource.end()) known = uuidBySource.emplace(entry.source, volumeUuid(entry)).first;
            if (known->second != fsUuid) continue;
            // Of several mounts of the volume, prefer the one it was granted at.
            if (!chosen || entry.mountPoint.native() == mountPoint) chosen = &entry;
        }
    } else {
        // Without a UUID (network shares, UUID-less file systems) the stored place must still
        // be on a mount of the same kind at the same mount point.
        auto canonical = canonicalExistingPath(path);
        if (!canonical) return std::nullopt;
        auto entry = table.containing(*canonical);
        if (!entry || entry->mountPoint.native() != mountPoint || entry->fsType != fsType || entry->root != mountRoot)
            return std::nullopt;
        chosen = table.withId(entry->id);
    }
    if (!chosen) return std::nullopt;
    fs::path candidate = relPath.empty() ? chosen->mountPoint : chosen->mountPoint / relPath;
    auto resolved = canonicalExistingPath(candidate);
    if (!resolved || !isAccessibleFolder(*resolved)) return std::nullopt;
    // A link inside the volume must not lead off it (onto the internal disk, say).
    auto holder = table.containing(*resolved);
    if (!holder || holder->id != chosen->id) return std::nullopt;
    BookmarkResolution resolution;
    resolution.url = *resolved;
    resolution.isStale = resolved->native() != path || volumeName(*chosen) != fsLabel;
    return resolution;
}

}  // namespace tessaline
