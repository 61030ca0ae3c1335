// The verified copy of the same 2 GiB tree of 200 files against what the device allows for
// the same proof: per file, `dd bs=8M conv=fsync` writes it durably and
// `dd iflag=direct bs=4M` reads it back past the page cache (no hashing at all). Both start
// with the page cache dropped. RATIO is limit time over ours; the target is at least 0.8.

#include "BenchSupport.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <cstdio>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const fs::path scratch = bench::scratchFolder(argc, argv);
    const fs::path source = scratch / "copy-tree";
    const fs::path ours = scratch / "limit-ours";
    const fs::path limit = scratch / "limit-dd";
    std::vector<tessaline::MediaFile> files;
    for (const auto& file : bench::ensurePatternTree(source, 200, uint64_t{2} << 30))
        files.push_back({file.path, tessaline::MediaFile::Kind::media, static_cast<int64_t>(file.size)});

    const std::string limitScript =
        "mkdir -p \"$2\" && for f in \"$1\"/*/*; do o=\"$2/${f##*/}\"; "
        "dd if=\"$f\" of=\"$o\" bs=8M conv=fsync status=none && "
        "dd if=\"$o\" of=/dev/null iflag=direct bs=4M status=none || exit 1; done";

    double bestOurs = 1e300, bestLimit = 1e300;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(ours);
        bench::dropCaches();
        tessaline::CopyEngine::CopyRun run;
        bestOurs = std::min(bestOurs, bench::secondsOf([&] {
            run = tessaline::CopyEngine().copy(files, source, ours, {true, true, true, 8 * 1024 * 1024},
                                               [] { return false; });
        }));
        for (const auto& outcome : run.outcomes) {
            if (outcome.status.kind != tessaline::CopyEngine::FileStatus::Kind::copiedVerified) {
                std::fprintf(stderr, "copy_vs_limit: %s not verified\n", outcome.relativePath.c_str());
                return 1;
            }
        }
        fs::remove_all(limit);
        bench::dropCaches();
        bestLimit = std::min(bestLimit, bench::timeCommand({"bash", "-c", limitScript, "limit", source, limit}));
    }
    fs::remove_all(ours);
    fs::remove_all(limit);
    bench::printRatio("copy_vs_limit", bestOurs, bestLimit);
    return 0;
}
