#include "Tessaline/Volumes/ImageSignature.hpp"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string_view>

namespace tessaline {

namespace {

using namespace std::string_view_literals;

struct Magic {
    size_t offset;
    std::string_view bytes;
};

// Containers and archives libblkid does not know; file systems and partition tables are its.
constexpr std::array<Magic, 20> magics{{
    {0, "PK\x03\x04"sv},                  // zip (and the formats built on it)
    {0, "PK\x05\x06"sv},                  // zip with no entries
    {257, "ustar\0"sv},                   // tar, POSIX
    {257, "ustar  \0"sv},                 // tar, GNU
    {0, "!<arch>\n"sv},                   // ar
    {0, "7z\xbc\xaf\x27\x1c"sv},          // 7z
    {0, "Rar!\x1a\x07"sv},                // RAR
    {0, "MSCF\0\0\0\0"sv},                // cab
    {0, "xar!\0\x1c"sv},                  // xar
    {0, "MSWIM\0\0\0"sv},                 // wim
    {0, "\x1f\x8b\x08"sv},                // gzip
    {4, "1AY&SY"sv},                      // bzip2 (its first block after "BZh9")
    {0, "\xfd" "7zXZ\0"sv},               // xz
    {0, "\x28\xb5\x2f\xfd"sv},            // zstd
    {0, "\x04\x22\x4d\x18"sv},            // lz4 frame
    {0, "LZIP\x01"sv},                    // lzip
    {0, "QFI\xfb"sv},                     // qcow, qcow2
    {0, "KDMV"sv},                        // VMDK sparse extent
    {0, "vhdxfile"sv},                    // VHDX
    {0x40, "\x7f\x10\xda\xbe"sv},         // VDI
}};

// A cpio header: its magic, then only the digits of its fields (hexadecimal in the new
// formats, octal in the old), so a line of text that starts with the magic is not one.
bool isCpioHeader(std::string_view head) {
    const bool newFormat = head.substr(0, 6) == "070701" || head.substr(0, 6) == "070702";
    const bool oldFormat = head.substr(0, 6) == "070707";
    const size_t length = newFormat ? 110 : oldFormat ? 76 : 0;
    if (length == 0 || head.size() < length) return false;
    for (char c : head.substr(6, length - 6))
        if (!(c >= '0' && c <= '7') && !(newFormat && ((c >= '8' && c <= '9') || (c >= 'a' && c <= 'f') ||
                                                       (c >= 'A' && c <= 'F'))))
            return false;
    return true;
}

// A VHD footer (a dynamic disk also copies it to its start; a fixed one keeps it only at its end).
bool carriesVhdFooter(int fd, const struct stat& st) {
    char cookie[8];
    const off_t end = S_ISREG(st.st_mode) ? st.st_size : 0;
    if (::pread(fd, cookie, sizeof cookie, 0) == sizeof cookie && std::memcmp(cookie, "conectix", 8) == 0) return true;
    return end >= 512 && ::pread(fd, cookie, sizeof cookie, end - 512) == sizeof cookie &&
           std::memcmp(cookie, "conectix", 8) == 0;
}

constexpr size_t headBytes = 512;

bool carriesMagic(int fd) {
    char head[headBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got <= 0) return false;
    const std::string_view read(head, static_cast<size_t>(got));
    for (const Magic& magic : magics)
        if (read.size() >= magic.offset + magic.bytes.size() &&
            read.compare(magic.offset, magic.bytes.size(), magic.bytes) == 0)
            return true;
    return isCpioHeader(read);
}

// A file system or a partition table, by libblkid's probe of the open file.
bool carriesFileSystem(int fd) {
    blkid_probe probe = blkid_new_probe();
    if (!probe) return false;
    bool found = false;
    if (blkid_probe_set_device(probe, fd, 0, 0) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
        blkid_probe_enable_partitions(probe, 1);
        // 0: one found; -2: several claim it, each an image of some kind.
        const int result = blkid_do_safeprobe(probe);
        found = result == 0 || result == -2;
    }
    blkid_free_probe(probe);
    return found;
}

}  // namespace

bool carriesImageSignature(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    const bool openable = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    const bool found = openable && (carriesMagic(fd) || carriesVhdFooter(fd, st) || carriesFileSystem(fd));
    ::close(fd);
    return found;
}

}  // namespace tessaline
