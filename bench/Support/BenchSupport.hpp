#pragma once
// Helpers shared by the benchmark programs in bench/: scratch data that survives between
// runs, wall-clock timing with interleaved rounds, peer programs run without a shell, and
// the one output format bench/run promises ("RATIO <name> <value>").

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// The scratch folder passed by bench/run as argv[1] (created if missing). Large inputs are
// kept there between runs, so make them once and reuse them when they are complete.
std::filesystem::path scratchFolder(int argc, char** argv);

// Wall-clock seconds of one call.
double secondsOf(const std::function<void()>& work);

// Runs `ours` and `peer` alternately `rounds` times (so both see the same machine state) and
// returns the best time of each: {ours, peer}.
std::pair<double, double> bestOfInterleaved(int rounds, const std::function<void()>& ours,
                                            const std::function<void()>& peer);

// Runs argv (PATH lookup, no shell) with stdout and stderr sent to /dev/null and returns
// its wall-clock seconds; throws std::runtime_error when it fails.
double timeCommand(const std::vector<std::string>& argv);
// Runs argv and returns its standard output; throws when it fails.
std::string commandOutput(const std::vector<std::string>& argv);

// Prints "RATIO <name> <value>" with three decimals, and the two times on stderr.
void printRatio(const std::string& name, double oursSeconds, double peerSeconds);

// Writes `size` bytes of repeatable pseudo-random data to `file` unless it already has that size.
void ensurePatternFile(const std::filesystem::path& file, uint64_t size);

// Reads a whole file once so its pages are in the cache.
void warmCache(const std::filesystem::path& file);

// A large frame that costs little room: `header` (a real image's start), a hole, and eight
// bytes of `number` at the end of its `size` bytes; modified at `when` (seconds since 1970).
// Throws std::runtime_error when it can't be written.
void writeSparseFrame(const std::string& header, const std::filesystem::path& file, uint64_t number, int64_t size,
                      double when);

// The bytes this process read() so far (page cache hits included), from /proc/self/io.
int64_t processBytesRead();

}  // namespace bench

namespace bench {

// The copy benchmarks' card: `count` pattern files of about `totalBytes` in all (sizes differ
// by one byte each, so contents differ), in folders of 50, made once under `root`.
struct TreeFile {
    std::filesystem::path path;
    uint64_t size;
};
std::vector<TreeFile> ensurePatternTree(const std::filesystem::path& root, int count, uint64_t totalBytes);

// Writes dirty pages back and drops the page cache (root only; silently nothing otherwise),
// so a run reads its source cold, as from a freshly inserted card.
void dropCaches();

// A disk image attached to a loop device and mounted through exfat-fuse at `mountPoint`
// (created when missing) until destroyed (root only). Throws std::runtime_error on failure.
class FuseExfatMount {
public:
    FuseExfatMount(const std::filesystem::path& image, std::filesystem::path mountPoint);
    ~FuseExfatMount();
    FuseExfatMount(const FuseExfatMount&) = delete;
    FuseExfatMount& operator=(const FuseExfatMount&) = delete;
    const std::filesystem::path& root() const { return mount_; }

private:
    std::filesystem::path mount_;
    std::string device_;
};

}  // namespace bench
