// Our one-shot XXH64 against libxxhash's XXH64 on the same 256 MiB buffer in memory.
// RATIO is our speed over libxxhash's; the target is at least 0.95.

#include "BenchSupport.hpp"
#include "Tessaline/Checksum/XXHash64.hpp"

#include <xxhash.h>

#include <cstdio>
#include <random>
#include <vector>

int main() {
    std::vector<uint64_t> words((256u << 20) / 8);
    std::mt19937_64 generator(1);
    for (auto& w : words) w = generator();
    const void* data = words.data();
    const size_t size = words.size() * 8;

    uint64_t ours = 0, peer = 0;
    auto [oursSeconds, peerSeconds] = bench::bestOfInterleaved(
        7, [&] { ours = tessaline::XXHash64::hash(data, size, 0); }, [&] { peer = XXH64(data, size, 0); });
    if (ours != peer) {
        std::fprintf(stderr, "xxh64_memory: digests differ\n");
        return 1;
    }
    bench::printRatio("xxh64_memory", oursSeconds, peerSeconds);
    return 0;
}
