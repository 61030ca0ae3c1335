// ChecksumEngine::hash of a 1 GiB file held in the page cache against `xxhsum -H1` of the
// same file. RATIO is our speed over xxhsum's; the target is at least 0.9.

#include "BenchSupport.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"

#include <cstdio>

int main(int argc, char** argv) {
    auto file = bench::scratchFolder(argc, argv) / "checksum-1GiB.bin";
    bench::ensurePatternFile(file, uint64_t{1} << 30);
    bench::warmCache(file);

    tessaline::ChecksumEngine engine;
    std::string ours;
    auto [oursSeconds, peerSeconds] = bench::bestOfInterleaved(
        5, [&] { ours = engine.hash(file); }, [&] { bench::timeCommand({"xxhsum", "-q", "-H1", file.string()}); });
    std::string peer = bench::commandOutput({"xxhsum", "-q", "-H1", file.string()}).substr(0, 16);
    if (ours != peer) {
        std::fprintf(stderr, "checksum_file_cached: digests differ (%s, %s)\n", ours.c_str(), peer.c_str());
        return 1;
    }
    bench::printRatio("checksum_file_cached", oursSeconds, peerSeconds);
    return 0;
}
