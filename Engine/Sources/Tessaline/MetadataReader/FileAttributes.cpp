#include "Tessaline/MetadataReader/FileAttributes.hpp"

#include <sys/stat.h>

namespace tessaline {

FileAttributes FileAttributes::of(const std::filesystem::path& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {.regularFile = S_ISREG(st.st_mode),
            .byteSize = static_cast<int64_t>(st.st_size),
            .modified = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9};
}

}  // namespace tessaline
