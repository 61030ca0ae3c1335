#pragma once
// The folders that are never a camera card whatever is mounted there: "/", the mount
// parents, the home folders and the system trees. Reads the user's home and name afresh on
// each call; safe on any thread.

#include <filesystem>
#include <string>
#include <vector>

namespace tessaline {

class DangerousLocations {
public:
    // Every dangerous path, exact (a card below a mount parent is not dangerous).
    static std::vector<std::string> all();

    // True when `path`, standardized (absolute, "." and ".." folded, no trailing "/") or with
    // its symbolic links resolved, is one of all(). A link to "/" is as dangerous as "/".
    static bool contains(const std::filesystem::path& path);
};

}  // namespace tessaline
