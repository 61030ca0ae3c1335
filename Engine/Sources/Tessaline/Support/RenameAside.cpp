#include "Tessaline/Support/RenameAside.hpp"

#include "Tessaline/Support/DateText.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tessaline {

std::optional<std::filesystem::path> renameAsideUnreadable(const std::filesystem::path& path) {
    if (::access(path.c_str(), F_OK) != 0) return std::nullopt;
    std::string base = path.native() + ".unreadable-" + localCompactStamp(nowEpoch());
    std::string target = base;
    for (int n = 2; n < 100; ++n) {
        // Never replace an earlier set-aside copy: link() fails if the name is taken.
        if (::link(path.c_str(), target.c_str()) == 0) {
            ::unlink(path.c_str());
            return std::filesystem::path(target);
        }
        if (errno != EEXIST) {
            // Hard links may be unsupported (FAT); fall back to a checked rename.
            if (::access(target.c_str(), F_OK) != 0 && ::rename(path.c_str(), target.c_str()) == 0)
                return std::filesystem::path(target);
            if (errno != EEXIST && ::access(target.c_str(), F_OK) != 0) return std::nullopt;
        }
        target = base + "-" + std::to_string(n);
    }
    return std::nullopt;
}

}  // namespace tessaline
