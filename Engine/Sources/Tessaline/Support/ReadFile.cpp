#include "Tessaline/Support/ReadFile.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

std::string readWholeFile(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw FileReadError(path, errno);
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) throw FileReadError(path, errno);
    if (S_ISDIR(st.st_mode)) throw FileReadError(path, EISDIR);
    std::string bytes;
    if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw FileReadError(path, errno);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

}  // namespace tessaline
