#include "Tessaline/MetadataReader/QuickTimeItems.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

namespace {

constexpr uint64_t maxMetaBytes = 16ull << 20;
constexpr int maxTopLevelBoxes = 65536;  // real files have a handful: ftyp, wide, mdat, moov, free
constexpr int maxMovieChildren = 4096;
constexpr int maxMetaChildren = 65536;
// Seconds from 1904-01-01 (the QuickTime epoch) to 1970-01-01.
constexpr int64_t quickTimeEpochOffset = 2082844800;

constexpr uint32_t fourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
           uint32_t(uint8_t(s[3]));
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

// Random access to the bytes of a file or of a buffer. read() is all-or-nothing.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    virtual bool read(uint64_t offset, size_t length, uint8_t* out) const = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    bool read(uint64_t offset, size_t length, uint8_t* out) const override {
        if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
        if (length) std::memcpy(out, bytes_.data() + offset, length);
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
};

class FileSource final : public ByteSource {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, size_t length, uint8_t* out) const override {
        if (offset > size_ || length > size_ - offset) return false;
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

struct Box {
    uint32_t type = 0;
    uint64_t payload = 0;      // offset of the payload
    uint64_t payloadSize = 0;  // bytes of payload
};

enum class Step { box, end, malformed };

// Reads the box header at `pos` inside [pos, end) and advances `pos` past the box.
Step nextBox(const ByteSource& source, uint64_t& pos, uint64_t end, Box& box) {
    if (pos >= end) return Step::end;
    uint64_t room = end - pos;
    uint8_t header[16];
    if (room < 8 || !source.read(pos, 8, header)) return Step::malformed;
    uint64_t size = be32(header);
    uint64_t headerSize = 8;
    if (size == 1) {
        if (room < 16 || !source.read(pos + 8, 8, header + 8)) return Step::malformed;
        size = be64(header + 8);
        headerSize = 16;
    } else if (size == 0) {
        size = room;  // extends to the end of the enclosing box
    }
    if (size < headerSize || size > room) return Step::malformed;
    box.type = be32(header + 4);
    box.payload = pos + headerSize;
    box.payloadSize = size - headerSize;
    pos += size;
    return Step::box;
}

std::string utf8FromUtf16BE(const uint8_t* p, size_t bytes) {
    std::string out;
    auto put = [&out](uint32_t c) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    };
    size_t units = bytes / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = uint32_t(p[2 * i]) << 8 | p[2 * i + 1];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t low = uint32_t(p[2 * i + 2]) << 8 | p[2 * i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        put(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    return out;
}

// The value of one "data" atom: 4-byte type indicator, 4-byte locale, payload.
std::optional<std::string> dataValue(std::span<const uint8_t> meta, const Box& data) {
    if (data.payloadSize < 8) return std::nullopt;
    const uint8_t* p = meta.data() + data.payload;
    uint32_t indicator = be32(p);
    const uint8_t* value = p + 8;
    size_t length = data.payloadSize - 8;
    if (indicator >> 24 != 0) return std::nullopt;  // not the well-known type set
    switch (indicator & 0xFFFFFF) {
        case 1:
        case 4:
            return std::string(reinterpret_cast<const char*>(value), length);
        case 2:
        case 5:
            return utf8FromUtf16BE(value, length);
        default:
            return std::nullopt;
    }
}

// Parses the payload of a moov/meta box held in memory. Any malformed part gives no items.
std::vector<QuickTimeItem> metaItems(std::span<const uint8_t> meta) {
    SpanSource source(meta);
    // QuickTime's meta has no version bytes, ISO's does: the handler box comes first either way.
    uint64_t start;
    if (meta.size() >= 8 && be32(meta.data() + 4) == fourCC("hdlr"))
        start = 0;
    else if (meta.size() >= 12 && be32(meta.data() + 8) == fourCC("hdlr"))
        start = 4;
    else
        return {};

    bool mdtaHandler = false;
    std::vector<std::string> keys;
    bool haveKeys = false;
    std::optional<Box> ilst;
    uint64_t pos = start;
    Box box;
    int count = 0;
    for (Step step; (step = nextBox(source, pos, meta.size(), box)) != Step::end;) {
        if (step == Step::malformed || ++count > maxMetaChildren) return {};
        const uint8_t* p = meta.data() + box.payload;
        if (box.type == fourCC("hdlr")) {
            // version/flags, component type, then the handler type.
            if (box.payloadSize < 12) return {};
            mdtaHandler = be32(p + 8) == fourCC("mdta");
        } else if (box.type == fourCC("keys") && !haveKeys) {
            if (box.payloadSize < 8) return {};
            uint32_t entries = be32(p + 4);
            uint64_t offset = 8;
            for (uint32_t i = 0; i < entries; ++i) {
                if (box.payloadSize - offset < 8) return {};
                uint32_t keySize = be32(p + offset);
                if (keySize < 8 || keySize > box.payloadSize - offset) return {};
                uint32_t space = be32(p + offset + 4);
                std::string identifier(reinterpret_cast<const char*>(p + offset + 4), 4);
                if (space == 0) identifier.clear();
                identifier += '/';
                identifier.append(reinterpret_cast<const char*>(p + offset + 8), keySize - 8);
                keys.push_back(std::move(identifier));
                offset += keySize;
            }
            haveKeys = true;
        } else if (box.type == fourCC("ilst") && !ilst) {
            ilst = box;
        }
    }
    if (!mdtaHandler || !ilst) return {};

    std::vector<QuickTimeItem> items;
    uint64_t itemPos = ilst->payload;
    uint64_t ilstEnd = ilst->payload + ilst->payloadSize;
    Box item;
    count = 0;
    for (Step step; (step = nextBox(source, itemPos, ilstEnd, item)) != Step::end;) {
        if (step == Step::malformed || ++count > maxMetaChildren) return {};
        uint32_t index = item.type;  // 1-based index into the keys table
        if (index == 0 || index > keys.size()) continue;
        uint64_t dataPos = item.payload;
        uint64_t itemEnd = item.payload + item.payloadSize;
        Box data;
        int dataCount = 0;
        for (Step inner; (inner = nextBox(source, dataPos, itemEnd, data)) != Step::end;) {
            if (inner == Step::malformed || ++dataCount > maxMetaChildren) return {};
            if (data.type != fourCC("data")) continue;
            items.push_back({keys[index - 1], dataValue(meta, data)});
        }
    }
    return items;
}

// The movie header's creation time, converted the way FFmpeg does so that both agree:
// 0 means unset, and a value below the 1904-to-1970 offset is taken as already Unix time.
std::optional<EpochSeconds> movieHeaderDate(const ByteSource& source, const Box& mvhd) {
    uint8_t header[12];
    if (mvhd.payloadSize < 8 || !source.read(mvhd.payload, 8, header)) return std::nullopt;
    int64_t time;
    if (header[0] == 1) {
        if (mvhd.payloadSize < 12 || !source.read(mvhd.payload, 12, header)) return std::nullopt;
        time = static_cast<int64_t>(be64(header + 4));
    } else {
        time = be32(header + 4);
    }
    if (time == 0) return std::nullopt;
    if (time >= quickTimeEpochOffset) time -= quickTimeEpochOffset;
    constexpr int64_t limit = INT64_MAX / 1000000;  // FFmpeg drops what microseconds cannot hold
    if (time > limit || time < -limit) return std::nullopt;
    return static_cast<EpochSeconds>(time);
}

QuickTimeMovieMetadata readMovie(const ByteSource& source) {
    QuickTimeMovieMetadata result;
    uint64_t pos = 0;
    Box box;
    std::optional<Box> moov;
    for (int i = 0; i < maxTopLevelBoxes && nextBox(source, pos, source.size(), box) == Step::box; ++i) {
        if (box.type == fourCC("moov")) {
            moov = box;
            break;
        }
    }
    if (!moov) return result;
    result.movieFound = true;

    // Items of every "mdta" meta box of the movie, in file order: Apple writes moov/meta,
    // FFmpeg and others moov/udta/meta.
    auto readMeta = [&](const Box& metaBox) {
        if (metaBox.payloadSize > maxMetaBytes) return;
        std::vector<uint8_t> bytes(static_cast<size_t>(metaBox.payloadSize));
        if (!source.read(metaBox.payload, bytes.size(), bytes.data())) return;
        std::vector<QuickTimeItem> items = metaItems(bytes);
        for (auto& item : items) result.items.push_back(std::move(item));
    };
    uint64_t childPos = moov->payload;
    uint64_t moovEnd = moov->payload + moov->payloadSize;
    bool haveHeader = false;
    Box child;
    for (int i = 0; i < maxMovieChildren && nextBox(source, childPos, moovEnd, child) == Step::box; ++i) {
        if (child.type == fourCC("mvhd") && !haveHeader) {
            haveHeader = true;
            result.creationDate = movieHeaderDate(source, child);
        } else if (child.type == fourCC("meta")) {
            readMeta(child);
        } else if (child.type == fourCC("udta")) {
            uint64_t userPos = child.payload;
            uint64_t userEnd = child.payload + child.payloadSize;
            Box user;
            for (int k = 0; k < maxMovieChildren && nextBox(source, userPos, userEnd, user) == Step::box; ++k)
                if (user.type == fourCC("meta")) readMeta(user);
        }
    }
    return result;
}

}  // namespace

QuickTimeMovieMetadata readQuickTimeMetadata(std::span<const uint8_t> file) { return readMovie(SpanSource(file)); }

QuickTimeMovieMetadata readQuickTimeMetadata(const std::filesystem::path& path) {
    // O_NONBLOCK: a FIFO put in the file's place must not hang the reader.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return {};
    return readMovie(FileSource(fd.get(), static_cast<uint64_t>(st.st_size)));
}

}  // namespace tessaline
