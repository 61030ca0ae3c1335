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

// The walk uses openat/readdir with an explicit stack rather than
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

struct Entry {
    std::string name;
    unsigned char type;
};

// One kept item of a folder: a classified file or a subfolder still to be read. Sorting
// folders by `key` (the name, with "/" after a subfolder's) sorts them exactly as their full
// paths sort byte-wise ("a.mov" < "a/b.mov" < "a0.mov"), so a depth-first walk in key order
// emits every list already sorted, with no global sort of long paths.
struct Item {
    std::string key;
    bool folder = false;
    bool mayBeFile = false;  // a folder guess for an item whose type could not be read
    MediaFile::Kind kind = MediaFile::Kind::media;
    int64_t size = 0;
};

struct Frame {
    std::string path;      // root-based path, as reported in results
    std::string relative;  // below the root, for openat(rootFd, ...); empty for the root
    std::vector<Item> items;
    size_t next = 0;
};

// Sized exactly: a drive's media paths live through its whole scan (an appended-to string
// would keep twice the capacity it needs).
std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (folder.back() != '/') path += '/';
    path += name;
    return path;
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

namespace {

// One walk: reads folders one at a time and classifies their entries.
class Walk {
public:
    Walk(const FolderScanner& scanner, bool includeAllFiles, const Exclusion& exclusion,
         const std::unordered_set<std::string>* otherNames, int rootFd, ScanResult& result)
        : scanner_(scanner), includeAllFiles_(includeAllFiles), exclusion_(exclusion), otherNames_(otherNames),
          rootFd_(rootFd), result_(result) {}

    // Reads one folder fully into frame.items (sorted) and closes it. False when the folder
    // could not be opened (or read to the end): then it is listed as unreadable, unless it was
    // only a guess (`mayBeFile`) and turned out to be no folder.
    bool read(Frame& frame, bool mayBeFile) {
        UniqueFd fd;
        if (frame.relative.empty()) {
            fd.reset(::dup(rootFd_));
            if (fd) ::lseek(fd.get(), 0, SEEK_SET);
        } else {
            fd.reset(::openat(rootFd_, frame.relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!fd) {
            int error = errno;
            // An item of unknown type that is no folder (or a link, or gone) is simply no folder.
            if (mayBeFile && (error == ENOTDIR || error == ELOOP || error == ENOENT)) return true;
            return unreadable(frame);
        }
        UniqueDir dir(::fdopendir(fd.get()));
        if (!dir) return unreadable(frame);
        const int dirFd = fd.release();  // now owned by `dir`

        entries_.clear();
        bool complete = readAllEntries(dir.get(), entries_);
        for (const Entry& entry : entries_) classify(frame, dirFd, entry);
        dir.reset();  // closed before any subfolder is opened
        std::sort(frame.items.begin(), frame.items.end(),
                  [](const Item& a, const Item& b) { return a.key < b.key; });
        return complete || unreadable(frame);
    }

private:
    bool unreadable(const Frame& frame) {
        result_.unreadableFolders.emplace_back(frame.path);
        return false;
    }

    void classify(Frame& frame, int dirFd, const Entry& entry) {
        const std::string& name = entry.name;
        // The type from the entry; file systems that do not give one (some FUSE) need a stat.
        unsigned char type = entry.type;
        struct stat st {};
        bool haveStat = false, statFailed = false;
        auto statItem = [&] {
            if (haveStat || statFailed) return;
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                haveStat = true;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
            } else {
                statFailed = true;
            }
        };
        auto descend = [&](bool mayBeFile) {
            Item item;
            item.key = name + "/";
            item.folder = true;
            item.mayBeFile = mayBeFile;
            frame.items.push_back(std::move(item));
        };
        if (type == DT_UNKNOWN) statItem();

        // The excluded subtree is neither walked nor counted.
        if (exclusion_.active && (type == DT_DIR || type == DT_UNKNOWN)) {
            statItem();
            if (exclusion_.matches(joined(frame.path, name), haveStat ? &st : nullptr)) return;
        }

        // Name test: hidden by its name, or a junk folder name (exact, case-sensitive).
        if (name[0] == '.' || scanner_.junkDirectories().count(name)) {
            ++result_.skippedCount;
            // A folder is pruned; when its type cannot be read at all it is still walked.
            if (statFailed) descend(true);
            return;
        }
        if (type == DT_DIR) return descend(false);
        if (statFailed) return descend(true);  // might be a folder; if so, its contents are walked
        if (type != DT_REG) return;             // links, FIFOs, sockets, devices: never counted

        std::string extension = asciiLowercased(pathExtension(name));
        std::string lowerName = asciiLowercased(name);
        if (scanner_.junkExtensions().count(extension) || scanner_.junkFilenames().count(lowerName)) {
            ++result_.skippedCount;
            return;
        }
        MediaFile::Kind kind;
        if (FolderScanner::mediaExtensions().count(extension))
            kind = MediaFile::Kind::media;
        else if (scanner_.sidecarExtensions().count(extension)) {
            if (otherNames_ && !otherNames_->count(lowerName)) return;
            kind = MediaFile::Kind::sidecar;
        } else if (includeAllFiles_)
            kind = MediaFile::Kind::media;
        else {
            ++result_.skippedCount;
            if (otherNames_ && !otherNames_->count(lowerName)) return;
            kind = MediaFile::Kind::other;
        }
        statItem();
        // The entry said regular file; a stat showing otherwise means it changed under us.
        if (haveStat && !S_ISREG(st.st_mode)) return;
        Item item;
        item.key = name;
        item.kind = kind;
        item.size = haveStat ? static_cast<int64_t>(st.st_size) : 0;
        frame.items.push_back(std::move(item));
    }

    const FolderScanner& scanner_;
    bool includeAllFiles_;
    const Exclusion& exclusion_;
    const std::unordered_set<std::string>* otherNames_;
    int rootFd_;
    ScanResult& result_;
    std::vector<Entry> entries_;
};

}  // namespace

ScanResult FolderScanner::scan(const std::filesystem::path& root, bool includeAllFiles,
                               const std::optional<std::filesystem::path>& excluding,
                               const std::unordered_set<std::string>* otherNames) const {
    const std::string rootPath = withoutTrailingSlash(root.native());
    UniqueFd rootFd(::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) throw ScanError::cannotEnumerate(root);

    const Exclusion exclusion = makeExclusion(excluding);
    ScanResult result;
    if (exclusion.active) {
        struct stat st {};
        if (::fstat(rootFd.get(), &st) == 0 && exclusion.matches(rootPath, &st)) return result;
    }

    Walk walk(*this, includeAllFiles, exclusion, otherNames, rootFd.get(), result);
    // Depth-first, one frame per level: a frame holds its folder's sorted items, not a descriptor.
    std::vector<Frame> stack(1);
    stack[0].path = rootPath;
    if (!walk.read(stack[0], false)) throw ScanError::cannotEnumerate(root);

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.items.size()) {
            stack.pop_back();
            continue;
        }
        Item& item = frame.items[frame.next++];
        std::string name = item.folder ? item.key.substr(0, item.key.size() - 1) : std::move(item.key);
        if (!item.folder) {
            auto& list = item.kind == MediaFile::Kind::media     ? result.mediaFiles
                         : item.kind == MediaFile::Kind::sidecar ? result.sidecarFiles
                                                                 : result.otherFiles;
            list.push_back(MediaFile{joined(frame.path, name), item.kind, item.size});
            continue;
        }
        Frame child;
        child.path = joined(frame.path, name);
        child.relative = joined(frame.relative, name);
        bool mayBeFile = item.mayBeFile;
        // What could be read of an unreadable folder is kept. `frame` may move when the stack
        // grows: nothing below uses it.
        walk.read(child, mayBeFile);
        if (!child.items.empty()) stack.push_back(std::move(child));
    }

    // Sorted by construction; the check keeps the order guaranteed if that ever breaks.
    auto byPath = [](const MediaFile& a, const MediaFile& b) { return a.url.native() < b.url.native(); };
    for (auto* list : {&result.mediaFiles, &result.sidecarFiles, &result.otherFiles}) {
        if (!std::is_sorted(list->begin(), list->end(), byPath)) std::stable_sort(list->begin(), list->end(), byPath);
        list->shrink_to_fit();  // a drive's lists live through its fingerprinting: no growth slack
    }
    std::sort(result.unreadableFolders.begin(), result.unreadableFolders.end(),
              [](const auto& a, const auto& b) { return a.native() < b.native(); });
    return result;
}

}  // namespace tessaline
