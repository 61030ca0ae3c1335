// The verified copy of a 2 GiB tree of 200 files against the shell way of doing the same
// proof: `cp -r`, `sync`, then `xxhsum -H1` of every source file and of every copy read
// back with `dd iflag=direct bs=4M`. Both start with the page cache dropped (a card is read
// cold), and the copies' digests must equal the sources'. RATIO is peer time over ours;
// the target is at least 1.25.

#include "BenchSupport.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <cstdio>

namespace fs = std::filesystem;

namespace {

std::vector<tessaline::MediaFile> mediaFiles(const std::vector<bench::TreeFile>& tree) {
    std::vector<tessaline::MediaFile> files;
    for (const auto& file : tree)
        files.push_back({file.path, tessaline::MediaFile::Kind::media, static_cast<int64_t>(file.size)});
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = bench::scratchFolder(argc, argv);
    const fs::path source = scratch / "copy-tree";
    const fs::path ours = scratch / "copy-ours";
    const fs::path peer = scratch / "copy-peer";
    const auto files = mediaFiles(bench::ensurePatternTree(source, 200, uint64_t{2} << 30));

    const std::string peerScript =
        "cp -r \"$1\" \"$2\" && sync && "
        "find \"$1\" -type f -print0 | sort -z | xargs -0 xxhsum -H1 > /dev/null && "
        "find \"$2\" -type f | sort | while read -r f; do "
        "dd if=\"$f\" iflag=direct bs=4M status=none | xxhsum -H1 - > /dev/null || exit 1; done";

    double bestOurs = 1e300, bestPeer = 1e300;
    tessaline::CopyEngine::CopyRun run;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(ours);
        bench::dropCaches();
        bestOurs = std::min(bestOurs, bench::secondsOf([&] {
            run = tessaline::CopyEngine().copy(files, source, ours, {true, true, true, 8 * 1024 * 1024},
                                               [] { return false; });
        }));
        for (const auto& outcome : run.outcomes) {
            if (outcome.status.kind != tessaline::CopyEngine::FileStatus::Kind::copiedVerified) {
                std::fprintf(stderr, "verified_copy: %s not verified: %s\n", outcome.relativePath.c_str(),
                             outcome.status.reason.value_or("").c_str());
                return 1;
            }
        }
        fs::remove_all(peer);
        bench::dropCaches();
        bestPeer = std::min(bestPeer, bench::timeCommand({"bash", "-c", peerScript, "peer", source, peer}));
    }
    // The two copies must agree byte for byte with the source.
    for (const auto& file : files) {
        auto rel = fs::relative(file.url, source);
        std::string a = bench::commandOutput({"xxhsum", "-q", "-H1", (ours / rel).string()}).substr(0, 16);
        // `cp -r source peer` makes `peer` the copy of `source` when `peer` does not exist.
        std::string b = bench::commandOutput({"xxhsum", "-q", "-H1", (peer / rel).string()}).substr(0, 16);
        if (a != b) {
            std::fprintf(stderr, "verified_copy: copies differ for %s\n", rel.c_str());
            return 1;
        }
    }
    fs::remove_all(ours);
    fs::remove_all(peer);
    bench::printRatio("verified_copy", bestOurs, bestPeer);
    return 0;
}
