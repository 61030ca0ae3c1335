#include "Support/MediaFixtures.hpp"

#include "Support/TestSandbox.hpp"

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>

namespace tessaline::testing {

namespace fs = std::filesystem;

namespace {

void run(std::vector<std::string> argv) {
    CommandResult result = runCommand(argv);
    if (result.exitCode != 0) throw std::runtime_error(argv[0] + " failed: " + result.output);
}

std::string firstValue(const std::string& output) {
    std::string line = output.substr(0, output.find('\n'));
    size_t eq = line.find('=');
    return eq == std::string::npos ? "" : line.substr(eq + 1);
}

}  // namespace

void ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    run(argv);
}

void exiftool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"exiftool", "-q", "-q", "-overwrite_original"};
    argv.insert(argv.end(), args.begin(), args.end());
    run(argv);
}

void makeJpeg(const fs::path& path, const std::vector<std::string>& tags) {
    fs::create_directories(path.parent_path());
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1", "-f", "image2", path.string()});
    if (tags.empty()) return;
    std::vector<std::string> args = tags;
    args.push_back(path.string());
    exiftool(args);
}

void makeVideo(const fs::path& path, const std::vector<std::string>& extra, const std::string& size) {
    fs::create_directories(path.parent_path());
    std::vector<std::string> args{"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25", "-t", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(path.string());
    ffmpeg(args);
}

void makeAudio(const fs::path& path, const std::vector<std::string>& extra) {
    fs::create_directories(path.parent_path());
    std::vector<std::string> args{"-f", "lavfi", "-i", "sine=frequency=440:duration=1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(path.string());
    ffmpeg(args);
}

void patchBytes(const fs::path& path, const std::string& from, const std::string& to) {
    if (from.size() != to.size()) throw std::invalid_argument("patch must keep the length");
    std::string bytes = readFile(path);
    size_t at = bytes.find(from);
    if (at == std::string::npos || bytes.find(from, at + 1) != std::string::npos)
        throw std::runtime_error("patch target not found exactly once in " + path.string());
    bytes.replace(at, from.size(), to);
    writeFile(path, bytes);
}

void truncateTo(const fs::path& path, size_t bytes) { fs::resize_file(path, bytes); }

void setModificationTime(const fs::path& path, EpochSeconds when) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(when);
    times[1].tv_nsec = static_cast<long>((when - static_cast<double>(times[1].tv_sec)) * 1e9);
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed");
}

std::string ffprobeFormatTag(const fs::path& path, const std::string& tag) {
    return firstValue(runCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=" + tag, "-of",
                                  "default=noprint_wrappers=1", path.string()})
                          .output);
}

std::string ffprobeVideoEntry(const fs::path& path, const std::string& entry) {
    return firstValue(runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                  "stream=" + entry, "-of", "default=noprint_wrappers=1", path.string()})
                          .output);
}

std::string exiftoolValue(const fs::path& path, const std::string& tag, bool numeric) {
    std::vector<std::string> argv{"exiftool", "-s3"};
    if (numeric) argv.push_back("-n");
    argv.push_back("-" + tag);
    argv.push_back(path.string());
    std::string out = runCommand(argv).output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

namespace atoms {

std::string be32(uint32_t v) {
    return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}
std::string be64(uint64_t v) { return be32(uint32_t(v >> 32)) + be32(uint32_t(v)); }
std::string box(const std::string& type, const std::string& payload) {
    return be32(uint32_t(8 + payload.size())) + type + payload;
}
std::string largeBox(const std::string& type, const std::string& payload) {
    return be32(1) + type + be64(16 + payload.size()) + payload;
}
std::string mvhd(uint64_t creation, int version) {
    std::string payload = version == 1 ? std::string(1, '\1') + std::string(3, '\0') + be64(creation) + be64(creation)
                                       : std::string(4, '\0') + be32(uint32_t(creation)) + be32(uint32_t(creation));
    payload += be32(600) + (version == 1 ? be64(600) : be32(600)) + std::string(80, '\0');
    return box("mvhd", payload);
}
std::string hdlr(const std::string& handler) {
    return box("hdlr", std::string(4, '\0') + std::string(4, '\0') + handler + std::string(12, '\0') + '\0');
}
std::string keys(const std::vector<std::string>& names, const std::string& space) {
    std::string payload = std::string(4, '\0') + be32(uint32_t(names.size()));
    for (const auto& name : names) payload += be32(uint32_t(8 + name.size())) + space + name;
    return box("keys", payload);
}
std::string data(uint32_t type, const std::string& value) { return box("data", be32(type) + be32(0) + value); }
std::string item(uint32_t keyIndex, const std::vector<std::string>& dataAtoms) {
    std::string payload;
    for (const auto& d : dataAtoms) payload += d;
    return be32(uint32_t(8 + payload.size())) + be32(keyIndex) + payload;
}
std::string meta(const std::string& children, bool isoFullBox) {
    return box("meta", (isoFullBox ? std::string(4, '\0') : std::string()) + children);
}
std::string utf16be(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += {char(c >> 8), char(c & 0xFF)};
    return out;
}

}  // namespace atoms

void appendToMovie(const fs::path& path, const std::string& child) {
    std::string bytes = readFile(path);
    size_t pos = 0;
    while (pos + 8 <= bytes.size()) {
        uint32_t size = uint32_t(uint8_t(bytes[pos])) << 24 | uint32_t(uint8_t(bytes[pos + 1])) << 16 |
                        uint32_t(uint8_t(bytes[pos + 2])) << 8 | uint8_t(bytes[pos + 3]);
        if (bytes.compare(pos + 4, 4, "moov") == 0) {
            if (pos + size != bytes.size()) throw std::runtime_error("moov is not the last box");
            bytes.replace(pos, 4, atoms::be32(uint32_t(size + child.size())));
            bytes += child;
            writeFile(path, bytes);
            return;
        }
        if (size < 8) break;
        pos += size;
    }
    throw std::runtime_error("no moov in " + path.string());
}

}  // namespace tessaline::testing
