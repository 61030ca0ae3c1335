#pragma once
// A remembered place that leads back to a folder on a given file system, wherever that
// file system is mounted next time. Used by the access grants and by the application's
// remembered folders. The data form is compact UTF-8 JSON:
//   {"v":1,"path":…,"fsUuid":…|null,"fsType":…,"fsLabel":…|null,"mountPoint":…,
//    "mountRoot":…,"relPath":…,"scoped":true|false}
// A path text that is not valid UTF-8 is stored under the same key plus "64" in base64,
// so no path is ever altered. Plain value; every call reads the mount table afresh; any
// thread.
//
// Resolution goes through the file-system UUID only: when that file system is not mounted
// the bookmark does not resolve, and never falls back to the stored path, which may by now
// be an empty folder on the internal disk.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

struct BookmarkResolution {
    std::filesystem::path url;  // canonical, an accessible folder
    bool isStale = false;       // resolved to another path, or the volume was renamed
};

struct Bookmark {
    std::string path;        // canonical path when made
    std::optional<std::string> fsUuid;
    std::string fsType;
    std::optional<std::string> fsLabel;
    std::string mountPoint;  // of the mount holding `path`
    std::string mountRoot;   // the file system's folder mounted there ("/" unless bind/subvolume)
    std::string relPath;     // `path` relative to `mountPoint`; "" for the mount point itself
    bool scoped = false;

    // The bookmark of the existing, readable `url`. Throws FileReadError when it is
    // missing or unreadable, or lies on no known mount.
    static Bookmark create(const std::filesystem::path& url, bool scoped);

    std::string data() const;
    // nullopt when `data` is not a well-formed bookmark of a known version.
    static std::optional<Bookmark> fromData(std::string_view data);

    // The folder the bookmark leads to now; nullopt when it does not resolve. A scoped
    // resolution requires a scoped bookmark; a plain one accepts either.
    std::optional<BookmarkResolution> resolve(bool scopedResolution) const;

    friend bool operator==(const Bookmark&, const Bookmark&) = default;
};

}  // namespace tessaline
