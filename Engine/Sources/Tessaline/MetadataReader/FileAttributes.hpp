#pragma once
// The file-system facts the metadata readers need, from one lstat (links are not
// followed). Safe on any thread.

#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tessaline {

struct FileAttributes {
    bool regularFile = false;                 // S_ISREG of the entry itself
    int64_t byteSize = 0;                     // st_size; 0 when the stat fails
    std::optional<EpochSeconds> modified;     // st_mtim; absent when the stat fails

    static FileAttributes of(const std::filesystem::path& path);
};

}  // namespace tessaline
