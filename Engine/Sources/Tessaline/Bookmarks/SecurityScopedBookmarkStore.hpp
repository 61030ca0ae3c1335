#pragma once
// The remembered access grants: one bookmark per volume label, kept in "bookmarks.json",
// a compact JSON array of {"label": …, "bookmark": <base64 of the bookmark data>} in the
// order labels were last granted. Every store made without a location shares the default
// file in the data folder, so the Settings section, scans and sync runs see one set.
//
// Threads: any. Each change is one read-modify-write under a process-wide lock for the file
// plus flock on "bookmarks.json.lock", and the file is always replaced whole and
// atomically, so concurrent stores and processes lose no grant. A file that cannot be read
// or decoded is kept aside as "bookmarks.json.unreadable-<yyyyMMdd-HHmmss>" before it is
// first replaced; an entry that cannot be decoded is skipped and never hides the others.
//
// Opening access resolves the grant (Bookmark::resolve: by file-system UUID only, so a
// volume that is not mounted is "not granted") and checks that the place is a readable
// folder; closing it pairs with every opening, whatever the operation's outcome.

#include "Tessaline/Bookmarks/BookmarkError.hpp"

#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessaline {

class SecurityScopedBookmarkStore {
public:
    // `storeURL` is the store file; without one, "bookmarks.json" in the data folder, or in
    // the temporary data folder when there is none.
    explicit SecurityScopedBookmarkStore(std::optional<std::filesystem::path> storeURL = std::nullopt);

    const std::filesystem::path& storeURL() const { return storeURL_; }
    static std::filesystem::path defaultStoreURL();

    // Remembers `url` (a volume root or any folder) under its volume's label (volumeLabel),
    // else under its last path component, replacing an earlier grant of that label; the
    // new grant goes last. A folder reached through a later view of a mounted file system
    // (a bind mount, a second mount of its device) is named as such: "CARD_A (second view
    // at /mnt/view)", never as the volume itself. Throws FileReadError when `url` is missing or unreadable,
    // FileWriteError when the file cannot be written (the old file then stays whole).
    void grant(const std::filesystem::path& url);

    // The granted labels in file order; empty when the file is missing or unreadable.
    std::vector<std::string> grantedVolumeLabels() const;

    // Forgets the grant of `volumeLabel`. Always rewrites the file (a missing file becomes
    // "[]"). Throws FileWriteError.
    void revoke(const std::string& volumeLabel);

    // Runs `operation(folder)` with the granted folder of `volumeLabel`. Throws
    // BookmarkError::notGranted without running it when there is no grant or it does not
    // resolve; otherwise returns its result or lets its exception through unchanged.
    template <class Operation>
    auto withAccess(const std::string& volumeLabel, Operation&& operation)
        -> std::invoke_result_t<Operation&, const std::filesystem::path&> {
        std::filesystem::path folder = openAccess(volumeLabel);
        AccessScope scope(*this, folder);
        return operation(static_cast<const std::filesystem::path&>(folder));
    }

    // withAccess on a worker thread of its own; the store must outlive the future.
    template <class Operation>
    auto withAccessAsync(std::string volumeLabel, Operation operation)
        -> std::future<std::invoke_result_t<Operation&, const std::filesystem::path&>> {
        return std::async(std::launch::async,
                          [this, label = std::move(volumeLabel), op = std::move(operation)]() mutable {
                              return withAccess(label, op);
                          });
    }

private:
    // Closes access on every path out of withAccess.
    class AccessScope {
    public:
        AccessScope(SecurityScopedBookmarkStore& store, std::filesystem::path folder)
            : store_(store), folder_(std::move(folder)) {}
        ~AccessScope() { store_.closeAccess(folder_); }
        AccessScope(const AccessScope&) = delete;
        AccessScope& operator=(const AccessScope&) = delete;

    private:
        SecurityScopedBookmarkStore& store_;
        std::filesystem::path folder_;
    };

    // Resolves the grant (refreshing a stale one in the file) or throws notGranted.
    std::filesystem::path openAccess(const std::string& volumeLabel);
    void closeAccess(const std::filesystem::path& folder) noexcept;

    std::filesystem::path storeURL_;
};

}  // namespace tessaline
