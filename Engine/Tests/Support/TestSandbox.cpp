#include "Support/TestSandbox.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <grp.h>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessaline::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tessaline-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writePatternFile(const fs::path& path, size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 generator(seed);
    for (size_t i = 0; i < size; i += 4) {
        uint32_t v = generator();
        for (size_t k = 0; k < 4 && i + k < size; ++k) bytes[i + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    }
    writeFile(path, bytes);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

dev_t deviceOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_dev;
}

CommandResult runCommand(const std::vector<std::string>& argv) {
    // Made before the fork: the child of a process with other threads (a volume watcher) may
    // not allocate, since another thread may have held the allocator's lock at the fork.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CommandResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) result.output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveProgram(const std::string& program) {
    const char* pathEnv = std::getenv("PATH");
    std::string paths = pathEnv ? pathEnv : "/usr/bin:/bin";
    paths += ":/usr/sbin:/sbin";
    std::stringstream stream(paths);
    std::string dir;
    while (std::getline(stream, dir, ':'))
        if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

void fillVolume(const std::filesystem::path& folder) {
    const std::string chunk(1 << 16, 'f');
    int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("can't create the filler file");
    while (::write(fd, chunk.data(), chunk.size()) > 0) {
    }
    ::fsync(fd);
    ::close(fd);
    // The last partial blocks: small files until even they fail.
    for (int i = 0; i < 10'000; ++i) {
        int small = ::open((folder / ("filler-" + std::to_string(i))).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (small < 0) break;
        const bool wrote = ::write(small, chunk.data(), 1024) == 1024 && ::fsync(small) == 0;
        ::close(small);
        if (!wrote) break;
    }
}

const char* specialFileName(SpecialFile kind) {
    switch (kind) {
        case SpecialFile::fifo: return "FIFO";
        case SpecialFile::socket: return "socket";
        case SpecialFile::folder: return "folder";
        case SpecialFile::device: return "device";
    }
    return "";
}

void makeSpecialFile(SpecialFile kind, const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    auto fail = [&](const char* what) {
        throw std::runtime_error(std::string(what) + " " + path.string() + ": " + std::strerror(errno));
    };
    switch (kind) {
        case SpecialFile::fifo:
            if (::mkfifo(path.c_str(), 0644) != 0) fail("mkfifo");
            break;
        case SpecialFile::socket: {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (path.native().size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
            std::strcpy(address.sun_path, path.c_str());
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) fail("socket");
            const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::close(fd);  // the socket file stays
            if (bound != 0) fail("bind");
            break;
        }
        case SpecialFile::folder: std::filesystem::create_directories(path); break;
        case SpecialFile::device: std::filesystem::create_symlink("/dev/zero", path); break;
    }
}

bool runningAsRoot() { return geteuid() == 0; }

std::string runUnprivileged(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(pipeFds[0]);
        auto send = [&](const std::string& text, int code) {
            size_t done = 0;
            while (done < text.size()) {
                ssize_t n = write(pipeFds[1], text.data() + done, text.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            _exit(code);
        };
        if (geteuid() == 0) {
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                setresuid(nobody, nobody, nobody) != 0)
                send("cannot switch to user nobody", 3);
        }
        try {
            send(body(), 0);
        } catch (const std::exception& e) {
            send(e.what(), 2);
        }
        send("unknown exception", 2);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("unprivileged child failed: " + output);
    return output;
}

bool sanitizedBuild() {
#if defined(TESSALINE_SANITIZED) || defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

namespace {

void mustRun(const std::vector<std::string>& argv) {
    CommandResult r = runCommand(argv);
    if (r.exitCode != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        throw std::runtime_error(line + "failed (" + std::to_string(r.exitCode) + "): " + r.output);
    }
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

LoopVolume::LoopVolume(const std::string& fsType, int sizeMiB, const std::string& label, bool mount,
                       const fs::path& image)
    : fsType_(fsType) {
    image_ = image.empty() ? folder_.path() / "volume.img" : image;
    mountPoint_ = folder_.path() / "mnt";
    fs::create_directories(mountPoint_);
    mustRun({"truncate", "-s", std::to_string(sizeMiB) + "M", image_.string()});
    CommandResult attach = runCommand({"losetup", "--find", "--show", image_.string()});
    if (attach.exitCode != 0) throw std::runtime_error("losetup failed: " + attach.output);
    device_ = trimmed(attach.output);
    // A failure after the attach must not leave the loop device behind (the destructor of a
    // half-made object does not run).
    try {
        if (fsType == "ext4")
            mustRun({"mkfs.ext4", "-q", "-F", "-L", label, device_});
        else if (fsType == "xfs")
            mustRun({"mkfs.xfs", "-q", "-f", "-L", label, device_});
        else if (fsType == "btrfs")
            mustRun({"mkfs.btrfs", "-q", "-f", "-L", label, device_});
        else if (fsType == "vfat")
            mustRun({"mkfs.vfat", "-F", "32", "-n", label, device_});
        else if (fsType == "exfat")
            mustRun({"mkfs.exfat", "-L", label, device_});
        else
            throw std::runtime_error("unknown file system " + fsType);
        if (mount) remount();
    } catch (...) {
        runCommand({"losetup", "-d", device_});
        throw;
    }
}

void LoopVolume::remount() {
    if (mounted_) return;
    if (fsType_ == "exfat")
        mustRun({"mount.exfat-fuse", device_, mountPoint_.string()});
    else
        mustRun({"mount", "-t", fsType_, device_, mountPoint_.string()});
    mounted_ = true;
}

void LoopVolume::unmount() {
    if (!mounted_) return;
    mustRun({"umount", mountPoint_.string()});
    mounted_ = false;
}

void LoopVolume::unmountLazily() {
    if (!mounted_) return;
    mustRun({"umount", "-l", mountPoint_.string()});
    mounted_ = false;
}

void LoopVolume::dropCaches() {
    sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

LoopVolume::~LoopVolume() {
    if (mounted_) {
        if (runCommand({"umount", mountPoint_.string()}).exitCode != 0)
            runCommand({"umount", "-l", mountPoint_.string()});
    }
    if (!device_.empty()) runCommand({"losetup", "-d", device_});
}

}  // namespace tessaline::testing

namespace tessaline::testing {

std::string pdfText(const std::filesystem::path& pdf) {
    std::filesystem::path out = pdf;
    out += ".txt";
    CommandResult r = runCommand({"pdftotext", "-q", "-layout", pdf.string(), out.string()});
    if (r.exitCode != 0) throw std::runtime_error("pdftotext failed: " + r.output);
    std::string text = readFile(out);
    std::filesystem::remove(out);
    return text;
}

PdfInfo pdfInfo(const std::filesystem::path& pdf) {
    CommandResult r = runCommand({"pdfinfo", pdf.string()});
    if (r.exitCode != 0) throw std::runtime_error("pdfinfo failed: " + r.output);
    PdfInfo info;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Pages:", 0) == 0) info.pages = std::stoi(line.substr(6));
        if (line.rfind("Page size:", 0) == 0) {
            std::istringstream size(line.substr(10));
            std::string x;
            size >> info.width >> x >> info.height;
        }
    }
    return info;
}

std::vector<PdfWord> pdfWords(const std::filesystem::path& pdf) {
    std::filesystem::path out = pdf;
    out += ".html";
    CommandResult r = runCommand({"pdftotext", "-q", "-bbox", pdf.string(), out.string()});
    if (r.exitCode != 0) throw std::runtime_error("pdftotext -bbox failed: " + r.output);
    const std::string html = readFile(out);
    std::filesystem::remove(out);
    auto number = [&](size_t from, const std::string& key) {
        return std::stod(html.substr(html.find(key + "=\"", from) + key.size() + 2));
    };
    std::vector<PdfWord> words;
    int page = 0;
    for (size_t at = 0; (at = html.find('<', at)) != std::string::npos; ++at) {
        if (html.compare(at, 6, "<page ") == 0) ++page;
        if (html.compare(at, 6, "<word ") != 0) continue;
        size_t open = html.find('>', at) + 1;
        words.push_back({page, number(at, "xMin"), number(at, "yMin"), number(at, "xMax"),
                         html.substr(open, html.find("</word>", open) - open)});
    }
    return words;
}

}  // namespace tessaline::testing

namespace tessaline::testing {

ScopedMount::ScopedMount(const std::vector<std::string>& arguments, const std::filesystem::path& target)
    : target_(target) {
    std::filesystem::create_directories(target_);
    std::vector<std::string> argv = {"mount"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(target_.string());
    CommandResult r = runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error("mount failed: " + r.output);
    mounted_ = true;
}

void ScopedMount::unmount() {
    if (!mounted_) return;
    if (runCommand({"umount", target_.string()}).exitCode != 0) runCommand({"umount", "-l", target_.string()});
    mounted_ = false;
}

ScopedMount::~ScopedMount() { unmount(); }

SwapDiskVolume::SwapDiskVolume(const std::string& label) {
    auto image = folder_.path() / "disk.img";
    mountPoint_ = folder_.path() / "mnt";
    std::filesystem::create_directories(mountPoint_);
    CommandResult r = runCommand({"truncate", "-s", "96M", image.string()});
    if (r.exitCode != 0) throw std::runtime_error("truncate failed: " + r.output);
    r = runCommand({"sh", "-c", "printf 'label: dos\\n,16M,S\\n,,L\\n' | sfdisk -q \"$0\"", image.string()});
    if (r.exitCode != 0) throw std::runtime_error("sfdisk failed: " + r.output);
    r = runCommand({"losetup", "--find", "--show", "--partscan", image.string()});
    if (r.exitCode != 0) throw std::runtime_error("losetup failed: " + r.output);
    device_ = r.output;
    while (!device_.empty() && (device_.back() == '\n' || device_.back() == ' ')) device_.pop_back();
    swapPartition_ = device_ + "p1";
    dataPartition_ = device_ + "p2";
    try {
        attachPartitions(label);
    } catch (...) {
        release();
        throw;
    }
}

void SwapDiskVolume::attachPartitions(const std::string& label) {
    // Without udev the partition nodes may be missing until the table is read again.
    if (access(dataPartition_.c_str(), F_OK) != 0) runCommand({"partx", "-a", device_});
    for (int i = 0; i < 20 && access(dataPartition_.c_str(), F_OK) != 0; ++i) usleep(50000);
    if (access(dataPartition_.c_str(), F_OK) != 0) throw std::runtime_error("no partition nodes for " + device_);
    mustRun({"mkswap", swapPartition_});
    mustRun({"swapon", swapPartition_});
    swapOn_ = true;
    mustRun({"mkfs.ext4", "-q", "-F", "-L", label, dataPartition_});
    mustRun({"mount", "-t", "ext4", dataPartition_, mountPoint_.string()});
    mounted_ = true;
}

SwapDiskVolume::~SwapDiskVolume() { release(); }

void SwapDiskVolume::release() {
    if (mounted_ && runCommand({"umount", mountPoint_.string()}).exitCode != 0)
        runCommand({"umount", "-l", mountPoint_.string()});
    mounted_ = false;
    if (swapOn_) runCommand({"swapoff", swapPartition_});
    swapOn_ = false;
    if (!device_.empty()) runCommand({"losetup", "-d", device_});
    device_.clear();
}

std::filesystem::path mhlSchemaFile() {
    return std::filesystem::path(TESSALINE_TEST_DATA_DIR) / "Transfer" / "Data" / "hashlist-subset.xsd";
}

}  // namespace tessaline::testing
