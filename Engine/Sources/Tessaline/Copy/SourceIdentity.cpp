#include "Tessaline/Copy/SourceIdentity.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tessaline {

namespace {

std::optional<SourceIdentity> identityOf(int dirfd, const char* path, int flags) {
    struct statx sx{};
    if (::statx(dirfd, path, flags, STATX_BASIC_STATS, &sx) != 0) return std::nullopt;
    SourceIdentity identity;
    identity.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    identity.inode = sx.stx_ino;
    identity.size = static_cast<int64_t>(sx.stx_size);
    identity.modifiedSeconds = sx.stx_mtime.tv_sec;
    identity.modifiedNanoseconds = sx.stx_mtime.tv_nsec;
    identity.changedSeconds = sx.stx_ctime.tv_sec;
    identity.changedNanoseconds = sx.stx_ctime.tv_nsec;
    return identity;
}

}  // namespace

const char* SourceIdentity::changedText = "The card file changed while it was copied.";

std::optional<SourceIdentity> SourceIdentity::ofDescriptor(int fd) { return identityOf(fd, "", AT_EMPTY_PATH); }

std::optional<SourceIdentity> SourceIdentity::ofPath(const std::filesystem::path& path) {
    return identityOf(AT_FDCWD, path.c_str(), 0);
}

}  // namespace tessaline
