#include "Tessaline/Support/AtomicFile.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/NoReplaceRename.hpp"
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
    return fmt::format("{:016x}", generator());
}

// Flushing a folder is not possible everywhere (some FUSE daemons and network file systems
// answer EINVAL or ENOTSUP); that is no failure of the write.
bool flushUnsupported(int error) { return error == EINVAL || error == ENOTSUP; }

// A complete, flushed temporary file beside a target, removed again unless it was moved.
class TemporaryFile {
public:
    // Writes `bytes` to a new ".brindlecove-<random>.tmp" in the target's folder and fsyncs
    // it. Throws FileWriteError naming `target`; nothing is left behind then.
    TemporaryFile(const fs::path& target, std::string_view bytes, FileCalls& calls)
        : calls_(calls), target_(normalizedPath(target)) {
        const fs::path parent = target_.parent_path();
        dir_.reset(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir_) throw FileWriteError(target_, errno);
        UniqueFd file;
        for (int attempt = 0; attempt < 16 && !file; ++attempt) {
            name_ = ".brindlecove-" + randomSuffix() + ".tmp";
            file.reset(::openat(dir_.get(), name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
            if (!file && errno != EEXIST) throw FileWriteError(target_, errno);
        }
        if (!file) throw FileWriteError(target_, EEXIST);
        // The destructor does not run for a constructor that throws: remove the file here.
        auto fail = [&](int error) {
            file.reset();
            ::unlinkat(dir_.get(), name_.c_str(), 0);
            throw FileWriteError(target_, error);
        };
        // The umask may have narrowed the mode; these files are meant to be shared like any document.
        ::fchmod(file.get(), 0644);
        struct stat st{};
        if (::fstat(file.get(), &st) != 0) fail(errno);
        device_ = st.st_dev;
        inode_ = st.st_ino;
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(file.get(), bytes.data() + written, bytes.size() - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(errno);
            }
            written += static_cast<size_t>(n);
        }
        if (calls_.fsync(file.get()) != 0 && !flushUnsupported(errno)) fail(errno);
        const int fd = file.release();
        if (calls_.close(fd) != 0) fail(errno);
        created_ = true;
    }
    ~TemporaryFile() {
        if (created_) ::unlinkat(dir_.get(), name_.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& target() const { return target_; }
    fs::path path() const { return target_.parent_path() / name_; }
    // After the file took `finalName`: it is no longer ours to remove, and the new name is
    // made durable with the folder's fsync. Throws FileWriteError naming `finalName` when
    // that flush fails.
    void moved(const fs::path& finalName) {
        created_ = false;
        if (calls_.fsync(dir_.get()) != 0 && !flushUnsupported(errno)) throw FileWriteError(finalName, errno);
    }
    // Removes the file that took `finalName` (in this folder), when it is still there.
    void removeMoved(const fs::path& finalName) {
        const std::string name = lastComponent(finalName);
        struct stat st{};
        if (::fstatat(dir_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == device_ &&
            st.st_ino == inode_)
            ::unlinkat(dir_.get(), name.c_str(), 0);
    }
    // Moves the file over the target, replacing what is there.
    void replaceTarget() {
        if (calls_.rename(path().c_str(), target_.c_str(), 0) != 0) throw FileWriteError(target_, errno);
        moved(target_);
    }

private:
    FileCalls& calls_;
    fs::path target_;
    UniqueFd dir_;
    std::string name_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool created_ = false;
};

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view bytes, FileCalls& calls) {
    TemporaryFile file(path, bytes, calls);
    file.replaceTarget();
}

std::string truncatedUtf8(std::string text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text;
}

std::string numberedFileName(const std::string& name, int number) {
    if (number < 2) return name;
    const size_t dot = name.rfind('.');
    // A leading dot (".profile") or a trailing one ("notes.") is no extension.
    const bool hasExtension = dot != std::string::npos && dot != 0 && dot + 1 != name.size();
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string suffix = " " + std::to_string(number);
    const size_t fixed = suffix.size() + extension.size();
    const size_t room = fixed < maxFileNameBytes ? maxFileNameBytes - fixed : 0;
    return truncatedUtf8(stem, room) + suffix + extension;
}

fs::path writeNewFileAtomically(const fs::path& folder, const std::string& name, std::string_view bytes,
                                FileCalls& calls) {
    TemporaryFile file(folder / name, bytes, calls);
    const fs::path target = file.target();
    for (int number = 1; number <= 1000; ++number) {
        const fs::path candidate = target.parent_path() / numberedFileName(lastComponent(target), number);
        const int error = renameNoReplace(calls, file.path(), candidate);
        if (error == 0) {
            try {
                file.moved(candidate);
            } catch (const FileWriteError&) {
                file.removeMoved(candidate);
                throw;
            }
            return candidate;
        }
        if (error != EEXIST) throw FileWriteError(candidate, error);
    }
    throw FileWriteError(target, EEXIST);
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
