#pragma once

#include <filesystem>
#include <stdexcept>

namespace tessaline {

// The root of a walk could not be opened as a folder.
// what(): "Cannot enumerate folder: <path>".
class ScanError : public std::runtime_error {
public:
    static ScanError cannotEnumerate(const std::filesystem::path& root);
    const std::filesystem::path& root() const { return root_; }

private:
    ScanError(std::filesystem::path root, const std::string& message);
    std::filesystem::path root_;
};

}  // namespace tessaline
