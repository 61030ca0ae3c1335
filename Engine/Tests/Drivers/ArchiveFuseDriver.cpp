// A FUSE driver of a tar archive for the tests: it reads the whole archive into memory and
// serves its files read-only. Unless --keep is given it closes the archive before mounting, so
// nothing it holds leads to the archive; --log keeps a file open for appending all along, as a
// driver's log. Runs in the background once mounted; ends when unmounted.
//   tessaline_test_archive_fuse [--keep] [--log FILE] ARCHIVE MOUNTPOINT [FUSE options]

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct Node {
    bool folder = false;
    std::string bytes;
};
std::map<std::string, Node> nodes;  // by path from "/"

void addFolders(std::string path) {
    while (!path.empty() && path != "/") {
        path = path.substr(0, path.rfind('/'));
        if (path.empty()) path = "/";
        nodes[path].folder = true;
    }
}

// The regular files and folders of a ustar archive.
bool readArchive(const std::string& archive) {
    std::ifstream in(archive, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return false;
    nodes["/"].folder = true;
    for (size_t at = 0; at + 512 <= bytes.size();) {
        const char* header = bytes.data() + at;
        if (header[0] == '\0') break;
        std::string name(header, strnlen(header, 100));
        const std::string prefix(header + 345, strnlen(header + 345, 155));
        if (!prefix.empty()) name = prefix + "/" + name;
        const size_t size = std::strtoull(std::string(header + 124, 12).c_str(), nullptr, 8);
        const char type = header[156];
        while (name.rfind("./", 0) == 0) name.erase(0, 2);
        while (!name.empty() && name.back() == '/') name.pop_back();
        const std::string path = "/" + name;
        at += 512;
        if (at + size > bytes.size()) return false;
        if (!name.empty() && (type == '0' || type == '\0')) {
            nodes[path].bytes.assign(bytes, at, size);
            addFolders(path);
        } else if (!name.empty() && type == '5') {
            nodes[path].folder = true;
            addFolders(path);
        }
        at += (size + 511) / 512 * 512;
    }
    return true;
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*) {
    const auto it = nodes.find(path);
    if (it == nodes.end()) return -ENOENT;
    *st = {};
    st->st_mode = it->second.folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    st->st_nlink = it->second.folder ? 2 : 1;
    st->st_size = static_cast<off_t>(it->second.bytes.size());
    return 0;
}

int readFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    const auto it = nodes.find(path);
    if (it == nodes.end() || !it->second.folder) return -ENOENT;
    fill(buffer, ".", nullptr, 0, FUSE_FILL_DIR_PLUS);
    fill(buffer, "..", nullptr, 0, FUSE_FILL_DIR_PLUS);
    const std::string parent = std::string(path) == "/" ? "/" : std::string(path) + "/";
    for (const auto& [child, node] : nodes)
        if (child.size() > parent.size() && child.compare(0, parent.size(), parent) == 0 &&
            child.find('/', parent.size()) == std::string::npos)
            fill(buffer, child.c_str() + parent.size(), nullptr, 0, FUSE_FILL_DIR_PLUS);
    return 0;
}

int openFile(const char* path, fuse_file_info* info) {
    const auto it = nodes.find(path);
    if (it == nodes.end() || it->second.folder) return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    return 0;
}

int readFile(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    const auto it = nodes.find(path);
    if (it == nodes.end()) return -ENOENT;
    const std::string& bytes = it->second.bytes;
    if (static_cast<size_t>(offset) >= bytes.size()) return 0;
    const size_t count = std::min(size, bytes.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes.data() + offset, count);
    return static_cast<int>(count);
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = false;
    const char* log = nullptr;
    int at = 1;
    for (; at < argc && argv[at][0] == '-' && argv[at][1] == '-'; ++at) {
        if (std::strcmp(argv[at], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[at], "--log") == 0 && at + 1 < argc) log = argv[++at];
    }
    if (argc - at < 2) {
        std::fprintf(stderr, "usage: %s [--keep] [--log FILE] ARCHIVE MOUNTPOINT [FUSE options]\n", argv[0]);
        return 2;
    }
    const std::string archive = argv[at];
    if (!readArchive(archive)) {
        std::fprintf(stderr, "cannot read %s\n", archive.c_str());
        return 1;
    }
    // Held, not read again: the archive stays open only to be seen open.
    if (keep && ::open(archive.c_str(), O_RDONLY | O_CLOEXEC) < 0) return 1;
    if (log) {
        const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return 1;
        const std::string line = "serving " + archive + "\n";
        if (::write(fd, line.data(), line.size()) < 0) return 1;
    }
    std::vector<char*> arguments{argv[0], argv[at + 1]};
    for (int i = at + 2; i < argc; ++i) arguments.push_back(argv[i]);
    static fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.readdir = readFolder;
    operations.open = openFile;
    operations.read = readFile;
    return fuse_main(static_cast<int>(arguments.size()), arguments.data(), &operations, nullptr);
}
