// A small mutation fuzzer that drives one LLVMFuzzerTestOneInput target, built with the
// project's own compiler (libFuzzer needs clang for the whole engine, and mixing clang's and
// GCC's sanitizer runtimes in one program does not work). It has no coverage feedback: it
// replays the seeds, then stacks random mutations on them (bit flips, interesting integers
// in both byte orders, size-field nudges, inserted and deleted ranges, splices, and tokens
// taken from the seeds, such as box types) for a time budget. The sanitizers find the faults;
// the driver saves the input that was running when the process died.
//
//   tessaline_fuzz_<Name> [--seconds=N] [--runs=N] [--seed=N] [--max-len=N]
//                         [--timeout=N] [--artifact=PATH] [CORPUS_DIR | FILE]...
// With --seconds=0 (the default) and no --runs it only replays the given seeds and files,
// which is also how a saved crash input is reproduced.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The input being run, for the crash handlers. Written only by the main thread between runs.
const uint8_t* currentData = nullptr;
size_t currentSize = 0;
char artifactPath[4096] = "fuzz-crash";
std::atomic<int64_t> runStartedMs{0};

// Async-signal-safe: open, write and close only.
void writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n <= 0) return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void saveCurrentInput() {
    static std::atomic<bool> saved{false};
    if (saved.exchange(true) || !currentData) return;
    int fd = ::open(artifactPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        writeAll(fd, currentData, currentSize);
        ::close(fd);
    }
    const char note[] = "\n== fuzz: the failing input was saved to ";
    writeAll(2, note, sizeof note - 1);
    writeAll(2, artifactPath, std::strlen(artifactPath));
    writeAll(2, "\n", 1);
}

void onSignal(int signal) {
    saveCurrentInput();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Options {
    double seconds = 0;
    long runs = -1;
    uint64_t seed = 0;
    bool seedGiven = false;
    size_t maxLen = 0;
    int timeoutSeconds = 20;
    std::vector<fs::path> inputs;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* key) -> const char* {
            size_t n = std::strlen(key);
            return a.compare(0, n, key) == 0 ? a.c_str() + n : nullptr;
        };
        if (const char* v = value("--seconds="))
            o.seconds = std::atof(v);
        else if (const char* v = value("--runs="))
            o.runs = std::atol(v);
        else if (const char* v = value("--seed="))
            o.seed = std::strtoull(v, nullptr, 10), o.seedGiven = true;
        else if (const char* v = value("--max-len="))
            o.maxLen = static_cast<size_t>(std::atol(v));
        else if (const char* v = value("--timeout="))
            o.timeoutSeconds = std::atoi(v);
        else if (const char* v = value("--artifact="))
            std::snprintf(artifactPath, sizeof artifactPath, "%s", v);
        else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            std::exit(2);
        } else
            o.inputs.emplace_back(a);
    }
    return o;
}

Bytes readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<Bytes> loadInputs(const std::vector<fs::path>& inputs) {
    std::vector<fs::path> files;
    for (const auto& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            for (const auto& entry : fs::directory_iterator(input, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (fs::is_regular_file(input, ec)) {
            files.push_back(input);
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<Bytes> loaded;
    for (const auto& f : files) loaded.push_back(readWhole(f));
    return loaded;
}

// Runs of four or more printable bytes in the seeds (box types, keys, date shapes).
std::vector<Bytes> tokensOf(const std::vector<Bytes>& seeds) {
    std::vector<Bytes> tokens;
    for (const auto& s : seeds) {
        size_t start = 0;
        for (size_t i = 0; i <= s.size(); ++i) {
            bool printable = i < s.size() && s[i] >= 0x20 && s[i] < 0x7f;
            if (printable) continue;
            if (i - start >= 4) {
                for (size_t k = start; k + 4 <= i && tokens.size() < 4096; k += 4)
                    tokens.emplace_back(s.begin() + static_cast<long>(k),
                                        s.begin() + static_cast<long>(std::min(i, k + 16)));
            }
            start = i + 1;
        }
    }
    for (const char* t : {"\x00\x00\x00\x00", "\xff\xff\xff\xff", "\x00\x00\x00\x01", "\x7f\xff\xff\xff"})
        tokens.emplace_back(t, t + 4);
    return tokens;
}

class Mutator {
public:
    Mutator(uint64_t seed, size_t maxLen, const std::vector<Bytes>& pool, const std::vector<Bytes>& tokens)
        : random_(seed), maxLen_(maxLen), pool_(pool), tokens_(tokens) {}

    void mutate(Bytes& d) {
        int count = 1 + static_cast<int>(below(8));
        for (int i = 0; i < count; ++i) once(d);
        if (d.size() > maxLen_) d.resize(maxLen_);
    }

private:
    size_t below(size_t n) { return n ? static_cast<size_t>(random_() % n) : 0; }

    uint64_t interesting(size_t size) {
        static const uint64_t values[] = {0, 1, 2, 7, 8, 15, 16, 31, 32, 64, 127, 128, 255, 256, 4095, 4096,
                                          0x7fff, 0x8000, 0xffff, 0x10000, 0x7fffffff, 0x80000000, 0xffffffff,
                                          0x100000000ull, 0x7fffffffffffffffull, 0xffffffffffffffffull};
        switch (below(3)) {
            case 0: return values[below(std::size(values))];
            case 1: return size + below(16) - 8;
            default: return below(size + 1);
        }
    }

    void put(Bytes& d, size_t at, uint64_t v, size_t width, bool bigEndian) {
        for (size_t k = 0; k < width && at + k < d.size(); ++k) {
            size_t shift = bigEndian ? 8 * (width - 1 - k) : 8 * k;
            d[at + k] = static_cast<uint8_t>(v >> shift);
        }
    }

    void once(Bytes& d) {
        switch (below(d.empty() ? 2 : 12)) {
            case 0: {  // insert random bytes
                size_t n = 1 + below(16), at = below(d.size() + 1);
                Bytes bytes(n);
                for (auto& b : bytes) b = static_cast<uint8_t>(random_());
                d.insert(d.begin() + static_cast<long>(at), bytes.begin(), bytes.end());
                break;
            }
            case 1: {  // insert or overwrite a token
                const Bytes& t = tokens_[below(tokens_.size())];
                size_t at = below(d.size() + 1);
                if (below(2) || at + t.size() > d.size())
                    d.insert(d.begin() + static_cast<long>(at), t.begin(), t.end());
                else
                    std::copy(t.begin(), t.end(), d.begin() + static_cast<long>(at));
                break;
            }
            case 2: d[below(d.size())] ^= static_cast<uint8_t>(1u << below(8)); break;
            case 3: d[below(d.size())] = static_cast<uint8_t>(random_()); break;
            case 4:
            case 5: {  // an interesting integer, 1 to 8 bytes, either byte order
                static const size_t widths[] = {1, 2, 4, 8};
                put(d, below(d.size()), interesting(d.size()), widths[below(4)], below(2) == 0);
                break;
            }
            case 6: {  // nudge a big-endian 32-bit word (box sizes)
                size_t at = below(d.size());
                if (at + 4 > d.size()) break;
                uint32_t v = (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
                v += static_cast<uint32_t>(static_cast<int>(below(33)) - 16);
                put(d, at, v, 4, true);
                break;
            }
            case 7: {  // delete a range
                size_t at = below(d.size()), n = 1 + below(std::min<size_t>(d.size() - at, 64));
                d.erase(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + n));
                break;
            }
            case 8: {  // copy a range elsewhere
                size_t from = below(d.size()), n = 1 + below(std::min<size_t>(d.size() - from, 64));
                Bytes piece(d.begin() + static_cast<long>(from), d.begin() + static_cast<long>(from + n));
                size_t at = below(d.size() + 1);
                d.insert(d.begin() + static_cast<long>(at), piece.begin(), piece.end());
                break;
            }
            case 9: {  // splice with another input
                const Bytes& other = pool_[below(pool_.size())];
                if (other.empty()) break;
                size_t cut = below(d.size() + 1), from = below(other.size());
                d.resize(cut);
                d.insert(d.end(), other.begin() + static_cast<long>(from), other.end());
                break;
            }
            case 10: d.resize(below(d.size() + 1)); break;  // truncate
            default: {  // swap two bytes
                std::swap(d[below(d.size())], d[below(d.size())]);
                break;
            }
        }
    }

    std::mt19937_64 random_;
    size_t maxLen_;
    const std::vector<Bytes>& pool_;
    const std::vector<Bytes>& tokens_;
};

void runOne(const Bytes& input) {
    // A copy of exactly the input's size, so reading one byte past it is caught.
    Bytes exact(input);
    currentData = exact.data();
    currentSize = exact.size();
    runStartedMs.store(nowMs());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    runStartedMs.store(0);
    currentData = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(saveCurrentInput);
#endif
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(s, onSignal);
    std::set_terminate([] {
        std::fputs("== fuzz: the target let an exception escape\n", stderr);
        saveCurrentInput();
        std::_Exit(70);
    });

    std::vector<Bytes> pool = loadInputs(options.inputs);
    const size_t seedCount = pool.size();
    size_t largest = 0;
    for (const auto& b : pool) largest = std::max(largest, b.size());
    if (options.maxLen == 0) options.maxLen = std::max<size_t>(4096, 2 * largest);

    for (const auto& seed : pool) runOne(seed);
    const bool fuzzing = options.seconds > 0 || options.runs > 0;
    if (!fuzzing) {
        std::printf("fuzz: replayed %zu inputs\n", seedCount);
        return 0;
    }

    // A hang is a fault too: save the input and stop when one run takes too long.
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        while (!finished.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            int64_t started = runStartedMs.load();
            if (started && nowMs() - started > int64_t{options.timeoutSeconds} * 1000) {
                std::fprintf(stderr, "== fuzz: one input ran longer than %d s\n", options.timeoutSeconds);
                saveCurrentInput();
                std::_Exit(71);
            }
        }
    });

    if (pool.empty()) pool.push_back({});
    pool.push_back({0});
    std::vector<Bytes> tokens = tokensOf(pool);
    uint64_t seed = options.seedGiven ? options.seed : std::random_device{}();
    Mutator mutator(seed, options.maxLen, pool, tokens);
    std::mt19937_64 pick(seed ^ 0x9E3779B97F4A7C15ull);
    const size_t basePool = pool.size();

    const int64_t deadline = nowMs() + static_cast<int64_t>(options.seconds * 1000);
    long runs = 0;
    while ((options.runs < 0 || runs < options.runs) && (options.seconds <= 0 || nowMs() < deadline)) {
        Bytes input = pool[static_cast<size_t>(pick() % pool.size())];
        mutator.mutate(input);
        runOne(input);
        ++runs;
        // Without coverage, keep a few mutants at random so that mutations can build on each other.
        if (pick() % 64 == 0) {
            if (pool.size() < basePool + 512)
                pool.push_back(std::move(input));
            else
                pool[basePool + static_cast<size_t>(pick() % 512)] = std::move(input);
        }
    }
    finished.store(true);
    watchdog.join();
    std::printf("fuzz: %zu seeds, %ld mutated runs, seed %llu, max length %zu\n", seedCount, runs,
                static_cast<unsigned long long>(seed), options.maxLen);
    return 0;
}
