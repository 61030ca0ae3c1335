#pragma once
// The copy engine's temporary names in tests: a copy is written as
// ".<name>.brindlecove-<16 hex>.part" beside its final name until it is proven.

#include <filesystem>
#include <string>
#include <vector>

namespace tessaline::testing {

// True when `path` is a temporary name of a copy meant for `finalName`.
inline bool isTemporaryOf(const std::filesystem::path& path, const std::filesystem::path& finalName) {
    const std::string name = path.filename().native();
    const std::string prefix = "." + finalName.filename().native() + ".brindlecove-";
    return path.parent_path() == finalName.parent_path() && name.starts_with(prefix) && name.ends_with(".part");
}

// Every temporary copy left anywhere below `root`.
inline std::vector<std::filesystem::path> temporaryFilesIn(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    if (!std::filesystem::exists(root, ec)) return found;
    for (auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().native();
        if (name.find(".brindlecove-") != std::string::npos && name.ends_with(".part")) found.push_back(entry.path());
    }
    return found;
}

}  // namespace tessaline::testing
