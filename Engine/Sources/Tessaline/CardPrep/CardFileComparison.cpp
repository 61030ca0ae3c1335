#include "Tessaline/CardPrep/CardFileComparison.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// f_type values of the file systems that number files afresh (linux/magic.h).
constexpr long msdosMagic = 0x4d44;
constexpr long exfatMagic = 0x2011BAB0;
constexpr long fuseMagic = 0x65735546;

bool sameFacts(const CardFileRecord& a, const CardFileRecord& b) {
    return a.byteSize == b.byteSize && a.modified == b.modified && a.changed == b.changed;
}

bool sameFacts(const struct stat& st, const CardFileRecord& record) {
    return static_cast<int64_t>(st.st_size) == record.byteSize &&
           CardFileRecord::Time{st.st_mtim.tv_sec, st.st_mtim.tv_nsec} == record.modified &&
           CardFileRecord::Time{st.st_ctim.tv_sec, st.st_ctim.tv_nsec} == record.changed;
}

bool sameStatus(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Opens `relative` below the open card root for reading: no link on the way or at the end,
// nothing outside the root, no other mount. Without openat2 (before Linux 5.6) only the last
// component is guarded.
UniqueFd openBeneath(int rootFd, const std::string& relative) {
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_NOATIME;
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct open_how how {};
        how.flags = static_cast<uint64_t>(flags);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
        long fd = ::syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
        if (fd < 0 && errno == ENOSYS) fd = ::openat(rootFd, relative.c_str(), flags);
        if (fd >= 0) return UniqueFd(static_cast<int>(fd));
        if (errno != EPERM || !(flags & O_NOATIME)) break;
        flags &= ~O_NOATIME;  // only the owner or root may ask for it
    }
    return UniqueFd();
}

const CardFileRecord* recordAt(const std::vector<CardFileRecord>& records, const std::string& relative) {
    auto it = std::lower_bound(records.begin(), records.end(), relative,
                               [](const CardFileRecord& r, const std::string& p) { return r.relative < p; });
    return it != records.end() && it->relative == relative ? &*it : nullptr;
}

}  // namespace

CardFileComparison::Numbering CardFileComparison::between(const std::optional<CardFileMount>& before,
                                                          const std::optional<CardFileMount>& now) {
    if (!CardFileSet::sameMount(before, now)) return Numbering::ignored;
    const bool kept = (!before || before->keepsInodeNumbers) && (!now || now->keepsInodeNumbers);
    return kept ? Numbering::identity : Numbering::renumbering;
}

bool CardFileComparison::keepsInodeNumbers(int fd) {
    struct statfs fsInfo {};
    if (::fstatfs(fd, &fsInfo) != 0) return true;
    const long type = static_cast<long>(fsInfo.f_type);
    return type != msdosMagic && type != exfatMagic && type != fuseMagic;
}

CardFileComparison::Likeness CardFileComparison::likeness(const CardFileRecord& recorded, const CardFileRecord& now,
                                                          Numbering numbering) {
    if (!sameFacts(recorded, now)) return Likeness::changed;
    if (!recorded.digest.empty() && !now.digest.empty() && recorded.digest != now.digest) return Likeness::changed;
    if (numbering == Numbering::ignored || recorded.inode == 0 || now.inode == 0 || recorded.inode == now.inode)
        return Likeness::same;
    if (numbering == Numbering::identity || recorded.digest.empty()) return Likeness::changed;
    return now.digest.empty() ? Likeness::renumbered : Likeness::same;  // equal digests, seen above
}

CardFileComparison::Differences CardFileComparison::compare(const std::vector<CardFileRecord>& before,
                                                            const std::vector<CardFileRecord>& now,
                                                            Numbering numbering) {
    Differences differences;
    auto a = before.begin(), b = now.begin();
    while (a != before.end() || b != now.end()) {
        if (b == now.end() || (a != before.end() && a->relative < b->relative)) {
            differences.changed.push_back((a++)->relative);
        } else if (a == before.end() || b->relative < a->relative) {
            differences.changed.push_back((b++)->relative);
        } else {
            switch (likeness(*a, *b, numbering)) {
                case Likeness::same: break;
                case Likeness::changed: differences.changed.push_back(a->relative); break;
                case Likeness::renumbered: differences.renumbered.push_back(a->relative); break;
            }
            ++a;
            ++b;
        }
    }
    return differences;
}

void CardFileComparison::readAgain(const fs::path& card, std::vector<CardFileRecord>& now,
                                   const std::vector<std::string>& paths, const CancelTest& isCancelled,
                                   const Progress& progress) {
    const int total = static_cast<int>(paths.size());
    if (progress) progress(0, total);
    UniqueFd root(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const ChecksumEngine checksum;
    int done = 0;
    for (const std::string& relative : paths) {
        if (isCancelled && isCancelled()) return;
        auto it = std::lower_bound(now.begin(), now.end(), relative,
                                   [](const CardFileRecord& r, const std::string& p) { return r.relative < p; });
        if (it != now.end() && it->relative == relative && root) {
            CardFileRecord& record = *it;
            record.digest.clear();
            UniqueFd fd = openBeneath(root.get(), relative);
            struct stat opened {};
            if (fd && ::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode) && sameFacts(opened, record)) {
                try {
                    std::string digest = checksum.hashOpen(fd.get(), card / relative, isCancelled);
                    struct stat closed {};
                    if (::fstat(fd.get(), &closed) == 0 && sameStatus(opened, closed)) {
                        record.inode = static_cast<uint64_t>(opened.st_ino);
                        record.digest = std::move(digest);
                    }
                } catch (const ChecksumCancelledError&) {
                    return;
                } catch (const std::exception&) {
                    // Unreadable: no digest, so the file is not vouched for.
                }
            }
        }
        ++done;
        if (progress) progress(done, total);
    }
}

std::vector<std::string> CardFileComparison::changedJudgingBytes(const fs::path& card,
                                                                 const std::vector<CardFileRecord>& before,
                                                                 std::vector<CardFileRecord>& now, Numbering numbering,
                                                                 const CancelTest& isCancelled,
                                                                 const Progress& progress) {
    Differences differences = compare(before, now, numbering);
    if (differences.renumbered.empty()) return std::move(differences.changed);
    readAgain(card, now, differences.renumbered, isCancelled, progress);
    std::vector<std::string> changed = std::move(differences.changed);
    for (const std::string& relative : differences.renumbered) {
        const CardFileRecord* recorded = recordAt(before, relative);
        const CardFileRecord* read = recordAt(now, relative);
        if (!recorded || !read || likeness(*recorded, *read, numbering) != Likeness::same) changed.push_back(relative);
    }
    std::sort(changed.begin(), changed.end());
    return changed;
}

void CardFileComparison::takeDigests(std::vector<CardFileRecord>& now, const std::vector<CardFileRecord>& before,
                                     Numbering numbering) {
    for (CardFileRecord& record : now) {
        const CardFileRecord* recorded = recordAt(before, record.relative);
        if (recorded && likeness(*recorded, record, numbering) == Likeness::same) record.digest = recorded->digest;
    }
}

}  // namespace tessaline
