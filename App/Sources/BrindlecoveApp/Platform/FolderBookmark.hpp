#pragma once
// Bookmark data of a folder the user chose (the logs folder, the reports folder), stored as
// bytes in the user defaults. The data is the engine's access-grant record: the folder is
// found again through its file system's UUID and current mount point, so a drive mounted
// elsewhere still resolves ("stale": it resolved to another path than stored), while a drive
// that is not mounted never resolves to a leftover folder of the same path on the system disk.
// "Access" to a resolved folder means it exists and is a directory; ending it does nothing.
// Pure functions over the mount table; safe on any thread; never throw.

#include <QByteArray>

#include <filesystem>
#include <optional>

namespace brindlecove::FolderBookmark {

struct Resolved {
    std::filesystem::path folder;
    bool stale = false;
};

// The data for `folder`, scoped or plain; nullopt when the folder is missing or unreadable.
std::optional<QByteArray> make(const std::filesystem::path& folder, bool scoped);

// Resolves `data`; a scoped resolution accepts scoped data only, a plain one either kind.
std::optional<Resolved> resolve(const QByteArray& data, bool scoped);

// Whether `folder` can be used now (exists and is a directory).
bool startAccess(const std::filesystem::path& folder);

}  // namespace brindlecove::FolderBookmark
