#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/Scanner/FileTreeWalker.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace tessaline {

namespace {

CardFileRecord::Time timeOf(const struct timespec& time) {
    return {static_cast<int64_t>(time.tv_sec), static_cast<int64_t>(time.tv_nsec)};
}

// desktop.ini is a short text file; a larger one is a file of its own.
constexpr off_t maxIniBytes = 64 * 1024;

bool startsWith(std::string_view bytes, std::string_view magic) { return bytes.substr(0, magic.size()) == magic; }

// Up to `count` bytes from the start of the file `name` in `folderFd`, read only when it is
// still the regular file `status` describes (same device and inode, never through a link,
// never blocking on a FIFO put in its place); nullopt otherwise.
std::optional<std::string> leadingBytes(int folderFd, std::string_view name, const struct stat& status, size_t count) {
    const std::string entry(name);
    UniqueFd fd(::openat(folderFd, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != status.st_dev ||
        st.st_ino != status.st_ino)
        return std::nullopt;
    std::string bytes(count, '\0');
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd.get(), bytes.data() + got, count - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// The text of an ini file as code points: UTF-8 (with or without its byte order mark), or
// UTF-16 of either byte order with its mark. Nullopt for anything else.
std::optional<std::u32string> iniText(std::string_view bytes) {
    std::u32string text;
    const bool utf16le = startsWith(bytes, "\xFF\xFE"), utf16be = startsWith(bytes, "\xFE\xFF");
    if (utf16le || utf16be) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0) return std::nullopt;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            auto unitAt = [&](size_t at) {
                const auto a = static_cast<unsigned char>(bytes[at]), b = static_cast<unsigned char>(bytes[at + 1]);
                return static_cast<char32_t>(utf16le ? (b << 8 | a) : (a << 8 | b));
            };
            const char32_t unit = unitAt(i);
            if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (i + 3 >= bytes.size()) return std::nullopt;
                const char32_t low = unitAt(i + 2);
                if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
                text.push_back(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
            } else {
                text.push_back(unit);
            }
        }
        return text;
    }
    if (startsWith(bytes, "\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!isValidUtf8(bytes)) return std::nullopt;
    // Only the ASCII structure matters below: every other code point stands as one non-ASCII unit.
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80)
            text.push_back(byte);
        else if ((byte & 0xC0) != 0x80)
            text.push_back(0xFFFD);
    }
    return text;
}

// Whether every non-empty line is a "[section]", a "key=value" or a "; comment".
bool isIniText(const std::u32string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(U"\r\n", start);
        if (end == std::u32string::npos) end = text.size();
        std::u32string_view line(text.data() + start, end - start);
        while (!line.empty() && (line.front() == U' ' || line.front() == U'\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == U' ' || line.back() == U'\t')) line.remove_suffix(1);
        if (!line.empty()) {
            if (line.find(U'\0') != std::u32string_view::npos) return false;
            const bool section = line.front() == U'[' && line.back() == U']' && line.size() > 2;
            const bool comment = line.front() == U';';
            const size_t equals = line.find(U'=');
            const bool keyValue = equals != std::u32string_view::npos && equals > 0;
            if (!section && !comment && !keyValue) return false;
        }
        start = end + 1;
    }
    return true;
}

// The top-level item a relative path lies in.
std::string_view topLevelOf(std::string_view relative) { return relative.substr(0, relative.find('/')); }

bool isSpared(std::string_view relative) {
    const auto& spared = CardPrepEngine::systemItems();
    return std::find(spared.begin(), spared.end(), topLevelOf(relative)) != spared.end();
}

}  // namespace

bool CardFileSet::isLitter(std::string_view name) {
    if (name.size() > 2 && name.substr(0, 2) == "._") return true;
    const std::string lower = asciiLowercased(name);
    return lower == ".ds_store" || lower == "thumbs.db" || lower == "desktop.ini";
}

bool CardFileSet::isLitter(int folderFd, std::string_view name, const struct stat& status) {
    if (!S_ISREG(status.st_mode) || !isLitter(name)) return false;
    const std::string lower = asciiLowercased(name);
    if (lower == "desktop.ini") {
        if (status.st_size > maxIniBytes) return false;
        const auto bytes = leadingBytes(folderFd, name, status, static_cast<size_t>(maxIniBytes) + 1);
        if (!bytes || bytes->size() > static_cast<size_t>(maxIniBytes)) return false;
        const auto text = iniText(*bytes);
        return text && isIniText(*text);
    }
    // The magic each maker writes first: AppleDouble, the Finder's store, a compound file.
    const std::string_view magic = lower == ".ds_store" ? std::string_view("\x00\x00\x00\x01" "Bud1", 8)
                                   : lower == "thumbs.db" ? std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)
                                                          : std::string_view("\x00\x05\x16\x07", 4);
    const auto bytes = leadingBytes(folderFd, name, status, magic.size());
    return bytes && *bytes == magic;
}

CardFileRecord CardFileSet::recordOf(std::string relative, const struct stat& status) {
    return {std::move(relative), static_cast<int64_t>(status.st_size), timeOf(status.st_mtim), timeOf(status.st_ctim),
            static_cast<uint64_t>(status.st_ino)};
}

bool CardFileSet::sameFile(const CardFileRecord& a, const CardFileRecord& b, bool byInode) {
    if (a.byteSize != b.byteSize || !(a.modified == b.modified) || !(a.changed == b.changed)) return false;
    return !byInode || a.inode == 0 || b.inode == 0 || a.inode == b.inode;
}

bool CardFileSet::sameMount(const std::optional<CardFileMount>& a, const std::optional<CardFileMount>& b) {
    return !a || !b || *a == *b;
}

std::optional<CardFileMount> CardFileSet::mountOf(const std::filesystem::path& card) {
    struct statx sx {};
    UniqueFd folder(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder || ::statx(folder.get(), "", AT_EMPTY_PATH, lastingMountIdMask(), &sx) != 0) return std::nullopt;
    const auto id = lastingMountIdIn(sx);
    if (!id) return std::nullopt;
    return CardFileMount{static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor)), *id,
                         CardFileComparison::keepsInodeNumbers(folder.get())};
}

CardFileSet CardFileSet::read(const std::filesystem::path& card) { return read(card, {}); }

CardFileSet CardFileSet::read(const std::filesystem::path& folder, std::string_view placeOnCard) {
    while (!placeOnCard.empty() && placeOnCard.back() == '/') placeOnCard.remove_suffix(1);
    const std::string prefix = placeOnCard.empty() ? std::string() : std::string(placeOnCard) + "/";
    std::string onCard;
    auto spared = [&](std::string_view relative) {
        if (prefix.empty()) return isSpared(relative);
        onCard.assign(prefix).append(relative);
        return isSpared(onCard);
    };
    CardFileSet set;
    const auto mountBefore = mountOf(folder);
    const auto unreadable = FileTreeWalker::walk(folder, {}, [&](const FileTreeWalker::File& file) {
        ++set.allFileCount;
        set.allBytes += static_cast<int64_t>(file.status.st_size);
        if (spared(file.relative)) return;
        ++set.erasedFileCount;
        set.erasedBytes += static_cast<int64_t>(file.status.st_size);
        if (isLitter(file.folder, file.name, file.status)) return;
        set.files.push_back(recordOf(std::string(file.relative), file.status));
    });
    for (const std::string& place : unreadable)
        if (!spared(place)) set.unreadableFolders.push_back(place);
    if (mountBefore && mountBefore == mountOf(folder)) set.mount = mountBefore;
    std::sort(set.files.begin(), set.files.end(),
              [](const CardFileRecord& a, const CardFileRecord& b) { return a.relative < b.relative; });
    std::sort(set.unreadableFolders.begin(), set.unreadableFolders.end());
    return set;
}

std::vector<std::string> CardFileSet::changedSince(const std::filesystem::path& card,
                                                  std::vector<CardFileRecord>& records,
                                                  CardFileComparison::Numbering numbering,
                                                  const CardFileComparison::CancelTest& isCancelled,
                                                  const CardFileComparison::Progress& progress) {
    std::vector<CardFileRecord> now;
    now.reserve(records.size());
    UniqueFd root(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const CardFileRecord& record : records) {
        struct stat st {};
        if (root && ::fstatat(root.get(), record.relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            now.push_back(recordOf(record.relative, st));
    }
    std::vector<std::string> changed =
        CardFileComparison::changedJudgingBytes(card, records, now, numbering, isCancelled, progress);
    // A file its bytes vouched for is recorded under its new number, so it is not read again.
    auto next = changed.begin();
    auto at = now.begin();
    for (CardFileRecord& record : records) {
        while (next != changed.end() && *next < record.relative) ++next;
        while (at != now.end() && at->relative < record.relative) ++at;
        const bool unchanged = next == changed.end() || *next != record.relative;
        if (unchanged && at != now.end() && at->relative == record.relative && !at->digest.empty())
            record.inode = at->inode;
    }
    return changed;
}

std::vector<std::string> CardFileSet::differences(const std::vector<CardFileRecord>& before,
                                                  const std::vector<CardFileRecord>& now, bool byInode) {
    std::vector<std::string> changed;
    auto a = before.begin(), b = now.begin();
    while (a != before.end() || b != now.end()) {
        if (b == now.end() || (a != before.end() && a->relative < b->relative)) {
            changed.push_back((a++)->relative);
        } else if (a == before.end() || b->relative < a->relative) {
            changed.push_back((b++)->relative);
        } else {
            if (!sameFile(*a, *b, byInode)) changed.push_back(a->relative);
            ++a;
            ++b;
        }
    }
    return changed;
}

}  // namespace tessaline
