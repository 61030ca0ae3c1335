#include "Tessaline/Volumes/MountTable.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <libmount/libmount.h>

#include <memory>

namespace tessaline {

namespace {

struct TableFree {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterFree {
    void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};

std::string text(const char* value) { return value ? std::string(value) : std::string(); }

}  // namespace

MountTable MountTable::current() {
    std::vector<MountEntry> entries;
    std::unique_ptr<libmnt_table, TableFree> table(mnt_new_table());
    std::unique_ptr<libmnt_iter, IterFree> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!table || !iter || mnt_table_parse_file(table.get(), "/proc/self/mountinfo") != 0)
        return MountTable(std::move(entries));
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        MountEntry entry;
        entry.id = mnt_fs_get_id(fs);
        entry.parentId = mnt_fs_get_parent_id(fs);
        entry.deviceNumber = mnt_fs_get_devno(fs);
        entry.source = text(mnt_fs_get_source(fs));
        entry.mountPoint = withoutTrailingSlash(text(mnt_fs_get_target(fs)));
        entry.root = text(mnt_fs_get_root(fs));
        entry.fsType = text(mnt_fs_get_fstype(fs));
        entry.superOptions = text(mnt_fs_get_fs_options(fs));
        entry.isPseudo = mnt_fs_is_pseudofs(fs) != 0;
        entry.isNetwork = mnt_fs_is_netfs(fs) != 0;
        if (entry.mountPoint.empty()) continue;
        entries.push_back(std::move(entry));
    }
    return MountTable(std::move(entries));
}

std::optional<MountEntry> MountTable::containing(const std::filesystem::path& canonicalPath) const {
    const MountEntry* best = nullptr;
    size_t bestLength = 0;
    // Later entries are mounted on top of earlier ones at the same place, so ">=" keeps the topmost.
    for (const MountEntry& entry : entries_) {
        if (!isSameOrBelow(canonicalPath, entry.mountPoint)) continue;
        size_t length = entry.mountPoint.native().size();
        if (!best || length >= bestLength) {
            best = &entry;
            bestLength = length;
        }
    }
    if (!best) return std::nullopt;
    return *best;
}

std::optional<MountEntry> MountTable::mountedAt(const std::filesystem::path& canonicalPath) const {
    std::string wanted = withoutTrailingSlash(canonicalPath.native());
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->mountPoint.native() == wanted) return *it;
    return std::nullopt;
}

const MountEntry* MountTable::withId(int id) const {
    for (const MountEntry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

}  // namespace tessaline
