#include "Tessaline/Scanner/FolderScanner.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"
#include "Tessaline/Scanner/ScanError.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

// The walk uses openat/readdir with an explicit work list rather than
// std::filesystem::recursive_directory_iterator: in libstdc++ an error opening one subfolder
// ends the whole iteration, is_regular_file() follows links, and it cannot say which folder
// failed. Each folder is read to the end and closed before any subfolder is opened, so the
// walk holds at most two descriptors however deep the tree is (one DIR* per level runs into
// RLIMIT_NOFILE on deep trees, and those failures would look like unreadable folders).

namespace tessaline {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// A folder waiting to be read. `mayBeFile` marks an item whose type could not be read: it is
// tried as a folder, and "not a folder" is then no failure.
struct PendingFolder {
    std::string path;      // root-based path, as reported in results
    std::string relative;  // below the root, for openat(rootFd, ...); empty for the root
    bool mayBeFile = false;
};

struct Entry {
    std::string name;
    unsigned char type;
};

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// The subtree left out of a drive walk: the card root, by identity and by spelling.
struct Exclusion {
    bool active = false;
    bool haveIdentity = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;  // normalised

    bool matches(const std::string& itemPath, const struct stat* st) const {
        if (!active) return false;
        if (haveIdentity && st && st->st_dev == device && st->st_ino == inode) return true;
        return !path.empty() && isSameOrBelow(itemPath, path);
    }
};

Exclusion makeExclusion(const std::optional<std::filesystem::path>& excluding) {
    Exclusion exclusion;
    if (!excluding || excluding->empty()) return exclusion;
    exclusion.active = true;
    exclusion.path = normalizedPath(*excluding).native();
    struct stat st {};
    if (::stat(excluding->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        exclusion.haveIdentity = true;
        exclusion.device = st.st_dev;
        exclusion.inode = st.st_ino;
    }
    return exclusion;
}

// Reads every entry of an open folder. False when readdir reported an error (the entries
// read until then are kept).
bool readAllEntries(DIR* dir, std::vector<Entry>& entries) {
    for (;;) {
        errno = 0;
        struct dirent* item = ::readdir(dir);
        if (!item) return errno == 0;
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        entries.push_back({name, item->d_type});
    }
}

}  // namespace

FolderScanner::FolderScanner()
    : sidecarExtensions_{"xmp", "thm", "lrf", "xml", "rmf", "srt", "csv", "gpx", "pp3", "dop"},
      junkDirectories_{"MISC",
                       "CANONMSC",
                       "THMBNL",
                       "System Volume Information",
                       ".Spotlight-V100",
                       ".fseventsd",
                       ".Trashes",
                       ".TemporaryItems",
                       ".DocumentRevisions-V100",
                       // mke2fs makes it root-only on every ext4 card; cameras never write to it.
                       "lost+found"},
      junkExtensions_{"db", "lnk", "ini", "icns", "ico", "plist"},
      junkFilenames_{".ds_store", "thumbs.db", "desktop.ini", "autorun.inf", "volume_id"} {}

const std::unordered_set<std::string>& FolderScanner::mediaExtensions() {
    static const std::unordered_set<std::string> set = [] {
        std::unordered_set<std::string> s{"jpg", "jpeg", "jpe", "heic", "heif", "cr2", "cr3", "nef",
                                          "nrw", "arw",  "srf", "sr2",  "raf",  "rw2", "orf", "pef",
                                          "ptx", "rwl",  "dng", "3fr",  "mef",  "mrw", "x3f", "kdc",
                                          "dcr", "erf",  "srw", "tif",  "tiff", "png"};
        s.insert(MediaClassifier::videoExtensions().begin(), MediaClassifier::videoExtensions().end());
        s.insert(MediaClassifier::audioExtensions().begin(), MediaClassifier::audioExtensions().end());
        return s;
    }();
    return set;
}

ScanResult FolderScanner::scan(const std::filesystem::path& root, bool includeAllFiles,
                               const std::optional<std::filesystem::path>& excluding) const {
    const std::string rootPath = withoutTrailingSlash(root.native());
    UniqueFd rootFd(::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) throw ScanError::cannotEnumerate(root);

    const Exclusion exclusion = makeExclusion(excluding);
    ScanResult result;
    if (exclusion.active) {
        struct stat st {};
        if (::fstat(rootFd.get(), &st) == 0 && exclusion.matches(rootPath, &st)) return result;
    }

    const auto& mediaSet = mediaExtensions();
    std::vector<PendingFolder> work;
    work.push_back({rootPath, {}, false});
    std::vector<Entry> entries;
    std::vector<PendingFolder> subfolders;

    while (!work.empty()) {
        PendingFolder folder = std::move(work.back());
        work.pop_back();

        UniqueFd fd;
        if (folder.relative.empty()) {
            fd.reset(::dup(rootFd.get()));
            if (fd) ::lseek(fd.get(), 0, SEEK_SET);
        } else {
            fd.reset(::openat(rootFd.get(), folder.relative.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!fd) {
            int error = errno;
            // An item of unknown type that is no folder (or a link, or gone) is simply no folder.
            if (folder.mayBeFile && (error == ENOTDIR || error == ELOOP || error == ENOENT)) continue;
            if (folder.relative.empty()) throw ScanError::cannotEnumerate(root);
            result.unreadableFolders.emplace_back(folder.path);
            continue;
        }
        UniqueDir dir(::fdopendir(fd.get()));
        if (!dir) {
            if (folder.relative.empty()) throw ScanError::cannotEnumerate(root);
            result.unreadableFolders.emplace_back(folder.path);
            continue;
        }
        const int dirFd = fd.release();  // now owned by `dir`

        entries.clear();
        if (!readAllEntries(dir.get(), entries)) {
            if (folder.relative.empty()) throw ScanError::cannotEnumerate(root);
            result.unreadableFolders.emplace_back(folder.path);
        }

        subfolders.clear();
        for (const Entry& entry : entries) {
            const std::string& name = entry.name;
            std::string path = joined(folder.path, name);
            auto descend = [&](bool mayBeFile) {
                subfolders.push_back({std::move(path), joined(folder.relative, name), mayBeFile});
            };

            // The type from the entry; file systems that do not give one (some FUSE) need a stat.
            unsigned char type = entry.type;
            struct stat st {};
            bool haveStat = false;
            bool statFailed = false;
            auto statItem = [&] {
                if (haveStat || statFailed) return;
                if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    haveStat = true;
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
                } else {
                    statFailed = true;
                }
            };
            if (type == DT_UNKNOWN) statItem();

            // The excluded subtree is neither walked nor counted.
            if (exclusion.active && (type == DT_DIR || type == DT_UNKNOWN)) {
                statItem();
                if (exclusion.matches(path, haveStat ? &st : nullptr)) continue;
            }

            // Name test: hidden by its name, or a junk folder name (exact, case-sensitive).
            if (name[0] == '.' || junkDirectories_.count(name)) {
                ++result.skippedCount;
                // A folder is pruned; when its type cannot be read at all it is still walked.
                if (statFailed) descend(true);
                continue;
            }

            if (type == DT_DIR) {
                descend(false);
                continue;
            }
            if (statFailed) {
                descend(true);  // might be a folder; if so, its contents are walked
                continue;
            }
            if (type != DT_REG) continue;  // links, FIFOs, sockets, devices: never counted

            std::string extension = asciiLowercased(pathExtension(name));
            if (junkExtensions_.count(extension) || junkFilenames_.count(asciiLowercased(name))) {
                ++result.skippedCount;
                continue;
            }

            MediaFile::Kind kind;
            if (mediaSet.count(extension))
                kind = MediaFile::Kind::media;
            else if (sidecarExtensions_.count(extension))
                kind = MediaFile::Kind::sidecar;
            else if (includeAllFiles)
                kind = MediaFile::Kind::media;
            else {
                ++result.skippedCount;
                continue;
            }

            statItem();
            // The entry said regular file; a stat showing otherwise means it changed under us.
            if (haveStat && !S_ISREG(st.st_mode)) continue;
            int64_t size = haveStat ? static_cast<int64_t>(st.st_size) : 0;
            auto& list = kind == MediaFile::Kind::media ? result.mediaFiles : result.sidecarFiles;
            list.push_back(MediaFile{std::filesystem::path(std::move(path)), kind, size});
        }
        dir.reset();  // closed before any subfolder is opened

        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) work.push_back(std::move(*it));
    }

    auto byPath = [](const MediaFile& a, const MediaFile& b) { return a.url.native() < b.url.native(); };
    std::stable_sort(result.mediaFiles.begin(), result.mediaFiles.end(), byPath);
    std::stable_sort(result.sidecarFiles.begin(), result.sidecarFiles.end(), byPath);
    std::sort(result.unreadableFolders.begin(), result.unreadableFolders.end(),
              [](const auto& a, const auto& b) { return a.native() < b.native(); });
    return result;
}

}  // namespace tessaline
