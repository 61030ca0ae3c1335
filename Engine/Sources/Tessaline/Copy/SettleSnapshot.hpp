#pragma once
// The state of a folder tree as the settle wait compares it: every regular file that is
// not hidden and not inside a hidden folder, with its size and modification time (to the
// nanosecond). Links are never followed; unreadable folders are passed over silently.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

namespace tessaline {

class SettleSnapshot {
public:
    struct Entry {
        int64_t size = 0;
        int64_t mtimeSeconds = 0;
        long mtimeNanoseconds = 0;
        bool operator==(const Entry&) const = default;
    };

    // Walks `root`; a root that cannot be opened gives an empty snapshot.
    static SettleSnapshot of(const std::filesystem::path& root);

    const std::map<std::string, Entry>& entries() const { return entries_; }
    bool operator==(const SettleSnapshot&) const = default;

private:
    std::map<std::string, Entry> entries_;
};

}  // namespace tessaline
