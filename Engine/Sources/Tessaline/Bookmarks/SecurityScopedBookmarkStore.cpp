#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include "Tessaline/Bookmarks/Bookmark.hpp"
#include "Tessaline/Bookmarks/BookmarkStoreFile.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/ExclusiveFileLock.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <climits>
#include <cstdlib>

#include <algorithm>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr const char* storeFileName = "bookmarks.json";

// One load-change-save of the store file under its lock. `change` edits the entries and
// returns whether to save.
template <class Change>
void modifyStoreFile(const fs::path& file, Change change) {
    if (!file.empty()) createFolders(file.parent_path(), 0700);
    ExclusiveFileLock lock(file);
    BookmarkFileContents contents = loadBookmarkFile(file);
    if (change(contents.entries)) saveBookmarkFile(file, contents.entries, contents.damaged);
}

// The mount point through which `url` is reached when that mount is a later view of a file
// system mounted before it (a bind mount, or a second mount of its device): the volume's
// name is then the first mount's, and the grant must not pass for it. Btrfs subvolumes share
// one device number and are volumes of their own; FUSE mounts have a number each.
std::optional<fs::path> secondViewMountPoint(const fs::path& url) {
    char buffer[PATH_MAX];
    if (!::realpath(url.c_str(), buffer)) return std::nullopt;
    const MountTable table = MountTable::current();
    const auto entry = table.containing(buffer);
    if (!entry || entry->isPseudo || entry->isNetwork || entry->fsType == "btrfs") return std::nullopt;
    for (const MountEntry& other : table.entries()) {
        if (other.id == entry->id) return std::nullopt;
        if (other.deviceNumber == entry->deviceNumber) return entry->mountPoint;
    }
    return std::nullopt;
}

}  // namespace

SecurityScopedBookmarkStore::SecurityScopedBookmarkStore(std::optional<fs::path> storeURL)
    : storeURL_(storeURL ? *storeURL : defaultStoreURL()) {}

fs::path SecurityScopedBookmarkStore::defaultStoreURL() {
    if (auto folder = applicationDataFolder()) return *folder / storeFileName;
    if (auto folder = temporaryDataFolder()) return *folder / storeFileName;
    return {};  // nowhere to keep grants: reads find none, writes throw
}

void SecurityScopedBookmarkStore::grant(const fs::path& url) {
    std::string rawLabel = volumeLabel(url).value_or(lastComponent(normalizedPath(url)));
    std::string label = toDisplayUtf8(std::string_view(rawLabel));
    if (auto view = secondViewMountPoint(url)) label += " (second view at " + toDisplayUtf8(*view) + ")";
    std::string data = Bookmark::create(url, /*scoped=*/true).data();
    modifyStoreFile(storeURL_, [&](std::vector<BookmarkEntry>& entries) {
        std::erase_if(entries, [&](const BookmarkEntry& e) { return e.label == label; });
        entries.push_back(BookmarkEntry{label, data});
        return true;
    });
}

std::vector<std::string> SecurityScopedBookmarkStore::grantedVolumeLabels() const {
    std::vector<std::string> labels;
    for (const BookmarkEntry& entry : loadBookmarkFile(storeURL_).entries) labels.push_back(entry.label);
    return labels;
}

void SecurityScopedBookmarkStore::revoke(const std::string& volumeLabel) {
    modifyStoreFile(storeURL_, [&](std::vector<BookmarkEntry>& entries) {
        std::erase_if(entries, [&](const BookmarkEntry& e) { return e.label == volumeLabel; });
        return true;
    });
}

fs::path SecurityScopedBookmarkStore::openAccess(const std::string& volumeLabel) {
    BookmarkFileContents contents = loadBookmarkFile(storeURL_);
    auto entry = std::find_if(contents.entries.begin(), contents.entries.end(),
                              [&](const BookmarkEntry& e) { return e.label == volumeLabel; });
    if (entry == contents.entries.end()) throw BookmarkError::notGranted(volumeLabel);
    auto bookmark = Bookmark::fromData(entry->bookmark);
    if (!bookmark) throw BookmarkError::notGranted(volumeLabel);
    bool scoped = true;
    auto resolution = bookmark->resolve(/*scopedResolution=*/true);
    if (!resolution) {
        scoped = false;
        resolution = bookmark->resolve(/*scopedResolution=*/false);
    }
    if (!resolution) throw BookmarkError::notGranted(volumeLabel);
    if (resolution->isStale) {
        // Re-made for where the volume is now, under the same label. Failures are ignored:
        // the resolved folder is still used.
        try {
            std::string oldData = entry->bookmark;
            std::string freshData = Bookmark::create(resolution->url, scoped).data();
            modifyStoreFile(storeURL_, [&](std::vector<BookmarkEntry>& entries) {
                for (BookmarkEntry& e : entries)
                    if (e.label == volumeLabel) {
                        // Only when nobody re-granted the label meanwhile.
                        if (e.bookmark != oldData) return false;
                        e.bookmark = freshData;
                        return true;
                    }
                return false;
            });
        } catch (const std::exception&) {
        }
    }
    return resolution->url;
}

// Linux has no sandbox extensions to release; the pairing is kept so that every opening
// has its closing in one place.
void SecurityScopedBookmarkStore::closeAccess(const fs::path&) noexcept {}

}  // namespace tessaline
