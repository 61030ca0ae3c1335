#include "Tessaline/Support/AtomicFile.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return fmt::format("{:012x}", generator() & 0xFFFFFFFFFFFFull);
}

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    fs::path target = normalizedPath(path);
    fs::path parent = target.parent_path();
    std::string name = lastComponent(target);
    UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) throw FileWriteError(target, errno);

    std::string tempName;
    UniqueFd file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        tempName = "." + name + ".tmp-" + randomSuffix();
        file.reset(::openat(dir.get(), tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!file && errno != EEXIST) throw FileWriteError(target, errno);
    }
    if (!file) throw FileWriteError(target, EEXIST);

    auto fail = [&](int error) {
        file.reset();
        ::unlinkat(dir.get(), tempName.c_str(), 0);
        throw FileWriteError(target, error);
    };
    // The umask may have narrowed the mode; these files are meant to be shared like any document.
    ::fchmod(file.get(), 0644);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(file.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(file.get()) != 0 && errno != EINVAL && errno != ENOTSUP) fail(errno);
    if (file.closeChecked() != 0) fail(errno);
    if (::renameat(dir.get(), tempName.c_str(), dir.get(), name.c_str()) != 0) fail(errno);
    ::fsync(dir.get());
}

void createFolders(const fs::path& folder, unsigned mode) {
    fs::path target = normalizedPath(folder);
    std::string text = target.native();
    for (size_t pos = 1; pos <= text.size(); ++pos) {
        if (pos != text.size() && text[pos] != '/') continue;
        std::string prefix = text.substr(0, pos);
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) throw FileWriteError(prefix, errno);
    }
    struct stat st{};
    if (::stat(text.c_str(), &st) != 0) throw FileWriteError(target, errno);
    if (!S_ISDIR(st.st_mode)) throw FileWriteError(target, ENOTDIR);
}

}  // namespace tessaline
