#include "BenchSupport.hpp"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace bench {

namespace fs = std::filesystem;

fs::path scratchFolder(int argc, char** argv) {
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "brindlecove-bench";
    fs::create_directories(folder);
    return folder;
}

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::pair<double, double> bestOfInterleaved(int rounds, const std::function<void()>& ours,
                                            const std::function<void()>& peer) {
    double bestOurs = 1e300, bestPeer = 1e300;
    for (int i = 0; i < rounds; ++i) {
        bestOurs = std::min(bestOurs, secondsOf(ours));
        bestPeer = std::min(bestPeer, secondsOf(peer));
    }
    return {bestOurs, bestPeer};
}

namespace {

int run(const std::vector<std::string>& argv, int outputFd) {
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(outputFd >= 0 ? outputFd : devnull, 1);
        dup2(devnull, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

double timeCommand(const std::vector<std::string>& argv) {
    int code = 0;
    double seconds = secondsOf([&] { code = run(argv, -1); });
    if (code != 0) throw std::runtime_error(argv[0] + " failed with " + std::to_string(code));
    return seconds;
}

std::string commandOutput(const std::vector<std::string>& argv) {
    FILE* capture = std::tmpfile();
    if (!capture) throw std::runtime_error("tmpfile failed");
    int code = run(argv, fileno(capture));
    std::string output;
    std::rewind(capture);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, capture)) > 0) output.append(buffer, n);
    std::fclose(capture);
    if (code != 0) throw std::runtime_error(argv[0] + " failed with " + std::to_string(code));
    return output;
}

void printRatio(const std::string& name, double oursSeconds, double peerSeconds) {
    std::fprintf(stderr, "%s: ours %.4f s, peer %.4f s\n", name.c_str(), oursSeconds, peerSeconds);
    std::printf("RATIO %s %.3f\n", name.c_str(), peerSeconds / oursSeconds);
    std::fflush(stdout);
}

void ensurePatternFile(const fs::path& file, uint64_t size) {
    std::error_code ec;
    if (fs::file_size(file, ec) == size && !ec) return;
    fs::path partial = file.string() + ".partial";
    FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) throw std::runtime_error("cannot create " + partial.string());
    std::mt19937_64 generator(size);
    std::vector<uint64_t> block(1 << 17);
    for (uint64_t done = 0; done < size;) {
        for (auto& v : block) v = generator();
        size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, block.size() * 8));
        if (std::fwrite(block.data(), 1, n, out) != n) throw std::runtime_error("write failed");
        done += n;
    }
    if (std::fclose(out) != 0) throw std::runtime_error("close failed");
    fs::rename(partial, file);
}

void warmCache(const fs::path& file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file.string());
    std::vector<char> buffer(1 << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

void writeSparseFrame(const std::string& header, const fs::path& file, uint64_t number, int64_t size, double when) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + file.string());
    const uint64_t tail = number * 0x9e3779b97f4a7c15ull + 1;
    const bool written = ::write(fd, header.data(), header.size()) == ssize_t(header.size()) &&
                         ::pwrite(fd, &tail, sizeof tail, size - off_t(sizeof tail)) == ssize_t(sizeof tail);
    ::close(fd);
    if (!written) throw std::runtime_error("cannot write " + file.string());
    const timeval times[2] = {{time_t(when), 0}, {time_t(when), 0}};
    ::utimes(file.c_str(), times);
}

int64_t processBytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        int64_t value = 0;
        io >> value;
        if (key == "rchar:") return value;
    }
    return -1;
}

}  // namespace bench

namespace bench {

std::vector<TreeFile> ensurePatternTree(const std::filesystem::path& root, int count, uint64_t totalBytes) {
    std::vector<TreeFile> files;
    const uint64_t size = totalBytes / static_cast<uint64_t>(count);
    for (int i = 0; i < count; ++i) {
        std::filesystem::path file = root / ("CLIP" + std::to_string(i / 50)) / ("A" + std::to_string(1000 + i) + ".MOV");
        std::filesystem::create_directories(file.parent_path());
        ensurePatternFile(file, size + static_cast<uint64_t>(i));
        files.push_back({file, size + static_cast<uint64_t>(i)});
    }
    return files;
}

void dropCaches() {
    ::sync();
    if (FILE* out = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3\n", out);
        std::fclose(out);
    }
}

}  // namespace bench

namespace bench {

FuseExfatMount::FuseExfatMount(const std::filesystem::path& image, std::filesystem::path mountPoint)
    : mount_(std::move(mountPoint)) {
    std::filesystem::create_directories(mount_);
    device_ = commandOutput({"losetup", "-f", "--show", image.string()});
    device_.erase(device_.find_last_not_of('\n') + 1);
    try {
        commandOutput({"mount.exfat-fuse", device_, mount_.string()});
    } catch (...) {
        commandOutput({"losetup", "-d", device_});
        throw;
    }
}

FuseExfatMount::~FuseExfatMount() {
    try {
        commandOutput({"umount", mount_.string()});
        commandOutput({"losetup", "-d", device_});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

}  // namespace bench
