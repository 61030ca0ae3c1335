#include "Tessaline/Volumes/FuseServer.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

const dev_t fuseDevice = makedev(10, 229);  // /dev/fuse

bool isNumber(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The connection shown for an open /dev/fuse, nullopt where the kernel shows none.
std::optional<unsigned long> connectionIn(const fs::path& fdinfo) {
    std::ifstream in(fdinfo);
    static constexpr std::string_view key = "fuse_connection:";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        char* end = nullptr;
        const unsigned long value = std::strtoul(line.c_str() + key.size(), &end, 10);
        if (end != line.c_str() + key.size()) return value;
    }
    return std::nullopt;
}

// The subtype of a FUSE mount ("sshfs" of "fuse.sshfs"), else its source's last word.
std::string fuseName(const MountEntry& entry) {
    if (entry.fsType.rfind("fuse.", 0) == 0) return entry.fsType.substr(5);
    return fs::path(entry.source).filename().string();
}

}  // namespace

std::optional<FuseServerFiles> fuseServerFiles(unsigned connection) {
    std::error_code ec;
    std::optional<FuseServerFiles> found;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        if (!isNumber(proc->path().filename().string())) continue;
        const fs::path fds = proc->path() / "fd";
        // First whether this process serves the connection, then what it holds.
        bool serves = false;
        std::vector<fs::path> held;
        std::error_code fdError;
        for (fs::directory_iterator fd(fds, fdError), fdEnd; !fdError && fd != fdEnd; fd.increment(fdError)) {
            // The link's text first: sockets, pipes and the like are never followed, and no
            // file is asked of its file system before the process is known to be the server.
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd->path(), linkError);
            if (linkError || target.empty() || target.native().front() != '/') continue;
            if (target == "/dev/fuse") {
                struct stat st {};
                const auto shown = connectionIn(proc->path() / "fdinfo" / fd->path().filename());
                if (::stat(fd->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == fuseDevice && shown &&
                    *shown == connection)
                    serves = true;
            } else {
                held.push_back(fd->path());
            }
        }
        if (!serves) continue;
        if (!found) found.emplace();
        for (const fs::path& file : held) {
            struct stat st {};
            if (::stat(file.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
                found->files.push_back(file);
        }
    }
    return found;
}

bool isPassThroughFuse(const MountEntry& entry) {
    if (entry.isNetwork) return true;
    static const std::array<std::string_view, 34> names{
        "sshfs",    "rclone",     "s3fs",        "gcsfuse",      "goofys",        "blobfuse",     "blobfuse2",
        "curlftpfs", "httpfs2",   "bindfs",      "mergerfs",     "unionfs",       "unionfs-fuse", "mhddfs",
        "gvfsd-fuse", "lxcfs",    "portal",      "doc",          "encfs",         "gocryptfs",    "cryfs",
        "securefs", "jmtpfs",     "simple-mtpfs", "go-mtpfs",    "kio-fuse",      "vmhgfs-fuse",  "passthrough",
        "passthrough_ll", "passthrough_fh", "passthrough_hp", "ciopfs", "disorderfs", "rewritefs"};
    const std::string name = fuseName(entry);
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isFuseOverlay(const MountEntry& entry) { return fuseName(entry) == "fuse-overlayfs"; }

}  // namespace tessaline
