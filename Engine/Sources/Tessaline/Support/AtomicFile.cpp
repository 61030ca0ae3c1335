#include "Tessaline/Support/AtomicFile.hpp"

#include "Tessaline/Copy/NoReplaceRename.hpp"
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

// A complete, flushed temporary file beside a target, removed again unless it was moved.
class TemporaryFile {
public:
    // Writes `bytes` to a new ".<name>.tmp-<random>" in the target's folder and fsyncs it.
    // Throws FileWriteError naming `target`; nothing is left behind then.
    TemporaryFile(const fs::path& target, std::string_view bytes) : target_(normalizedPath(target)) {
        const fs::path parent = target_.parent_path();
        const std::string name = lastComponent(target_);
        dir_.reset(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir_) throw FileWriteError(target_, errno);
        UniqueFd file;
        for (int attempt = 0; attempt < 16 && !file; ++attempt) {
            name_ = "." + name + ".tmp-" + randomSuffix();
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
        created_ = true;
    }
    ~TemporaryFile() {
        if (created_) ::unlinkat(dir_.get(), name_.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& target() const { return target_; }
    fs::path path() const { return target_.parent_path() / name_; }
    // After the file took a final name: it is no longer ours to remove; the new name is made
    // durable with the folder's fsync.
    void moved() {
        created_ = false;
        ::fsync(dir_.get());
    }
    // Moves the file over the target, replacing what is there.
    void replaceTarget() {
        if (::renameat(dir_.get(), name_.c_str(), dir_.get(), lastComponent(target_).c_str()) != 0)
            throw FileWriteError(target_, errno);
        moved();
    }

private:
    fs::path target_;
    UniqueFd dir_;
    std::string name_;
    bool created_ = false;
};

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    TemporaryFile file(path, bytes);
    file.replaceTarget();
}

std::string numberedFileName(const std::string& name, int number) {
    if (number < 2) return name;
    const size_t dot = name.rfind('.');
    // A leading dot (".profile") or a trailing one ("notes.") is no extension.
    const bool hasExtension = dot != std::string::npos && dot != 0 && dot + 1 != name.size();
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    return stem + " " + std::to_string(number) + extension;
}

fs::path writeNewFileAtomically(const fs::path& folder, const std::string& name, std::string_view bytes) {
    TemporaryFile file(folder / name, bytes);
    const fs::path target = file.target();
    const std::shared_ptr<CopyFileIO> io = CopyFileIO::posix();
    for (int number = 1; number <= 1000; ++number) {
        const fs::path candidate = target.parent_path() / numberedFileName(lastComponent(target), number);
        const int error = renameNoReplace(*io, file.path(), candidate);
        if (error == 0) {
            file.moved();
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
