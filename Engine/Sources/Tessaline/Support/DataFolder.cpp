#include "Tessaline/Support/DataFolder.hpp"

#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home);
    struct passwd pw{};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result && pw.pw_dir)
        return fs::path(pw.pw_dir);
    return std::nullopt;
}

// Creates `folder` (parents 0755 as usual, the folder itself 0700) and checks it is a folder.
bool ensurePrivateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st{};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<fs::path> applicationDataFolder() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/') {
        base = xdg;
    } else if (auto home = homeFolder()) {
        base = *home / ".local" / "share";
    } else {
        return std::nullopt;
    }
    fs::path folder = base / "Brindlecove";
    if (!ensurePrivateFolder(folder)) return std::nullopt;
    return folder;
}

std::optional<fs::path> temporaryDataFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && runtime[0] == '/') {
        fs::path folder = fs::path(runtime) / "Brindlecove";
        if (ensurePrivateFolder(folder)) return folder;
    }
    fs::path folder = "/tmp/Brindlecove-" + std::to_string(getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat st{};
    // In shared /tmp the folder must be a real folder, ours, and closed to others.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 0077) != 0)
        return std::nullopt;
    return folder;
}

fs::path dataFolderWithFallback() {
    if (auto folder = applicationDataFolder()) return *folder;
    if (auto folder = temporaryDataFolder()) return *folder;
    throw FileWriteError("/tmp/Brindlecove-" + std::to_string(getuid()), EACCES);
}

fs::path dataFilePath(const fs::path& relative) {
    if (auto folder = applicationDataFolder()) return *folder / relative;
    if (auto folder = temporaryDataFolder()) return *folder / relative;
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        base = xdg;
    else if (auto home = homeFolder())
        base = *home / ".local" / "share";
    else
        base = "/nonexistent";
    return base / "Brindlecove" / relative;
}

}  // namespace tessaline
