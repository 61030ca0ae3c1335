#include "Tessaline/Support/NoReplaceRename.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace tessaline {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The kernel answers EINVAL for a rename flag the file system does not take; some FUSE
// daemons and network file systems answer ENOSYS or ENOTSUP.
bool flagUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }
// FAT and exFAT have no hard links: EPERM from the kernel drivers, ENOSYS from FUSE daemons.
bool linksUnsupported(int error) { return error == EPERM || error == ENOSYS || error == ENOTSUP; }

}  // namespace

// Three ways, the first the file system supports:
// 1. renameat2 with RENAME_NOREPLACE: the kernel checks and moves in one step (ext4, XFS,
//    btrfs, tmpfs, and the kernel's vfat and exfat drivers).
// 2. link() to the final name, which fails with EEXIST when it is taken, then unlink() of the
//    temporary name (file systems with links but no rename flags: older NFS, some FUSE).
// 3. Neither (FUSE exFAT, whose daemon takes no rename flags and has no links): the final
//    name is claimed by an exclusive create of an empty file, and only that empty file, still
//    found under the name just before the move, is replaced by rename(). Every copy run and
//    every new-file write creates names exclusively and never replaces one, so no file of ours can stand
//    there in between. The claim is held (see below) from its creation to the move, so its
//    number stays its own. While the claim stands (microseconds) another run sees an empty file,
//    which it never counts as a copy of a non-empty file; only the copy of an empty file
//    could match it, and that copy is what the move then puts there.
int renameNoReplace(FileCalls& io, const std::filesystem::path& from, const std::filesystem::path& to) {
    if (io.rename(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (!flagUnsupported(errno)) return errno;

    struct stat source{};
    const bool sourceKnown = ::lstat(from.c_str(), &source) == 0;
    // NFS may answer a retransmitted link() with an error although the first one succeeded:
    // the final name leading to the copy itself is success.
    auto linked = [&] {
        struct stat now{};
        return sourceKnown && ::lstat(to.c_str(), &now) == 0 && sameFile(now, source);
    };
    const int linkError = io.link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (linkError == 0 || (linkError != EEXIST && !linksUnsupported(linkError) && linked())) {
        // A failure here leaves a second, hidden name for the copy: litter, never a loss.
        io.unlink(from.c_str());
        return 0;
    }
    if (!linksUnsupported(linkError)) return linkError;

    int claim = io.open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (claim < 0) return errno;
    struct stat claimed{};
    const bool known = ::fstat(claim, &claimed) == 0;
    // The claim is held by a path-only descriptor (taken while it is still open, so the name
    // surely leads to it) until the move is done: FUSE exFAT gives a file the kernel forgets
    // a new number, and a closed claim forgotten before the check below would look like
    // another file's, be left behind empty and send the copy to the next free name. A held
    // file is never forgotten. The descriptor reaches nothing of the file system's own.
    UniqueFd held(::open(to.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat now{};
    if (!known || !held || ::fstat(held.get(), &now) != 0 || !sameFile(now, claimed)) {
        const int error = known && !held ? errno : EEXIST;
        if (known && ::lstat(to.c_str(), &now) == 0 && sameFile(now, claimed)) io.unlink(to.c_str());
        io.close(claim);
        return error;
    }
    io.close(claim);
    if (::lstat(to.c_str(), &now) != 0 || !sameFile(now, claimed)) return EEXIST;
    if (io.rename(from.c_str(), to.c_str(), 0) == 0) return 0;
    const int error = errno;
    if (::lstat(to.c_str(), &now) == 0 && sameFile(now, claimed)) io.unlink(to.c_str());
    return error;
}

}  // namespace tessaline
