// What the card erase costs when it deletes only the files it vouched for: the erase's own work
// on an open card folder (CardTree: the planning measure of every top-level item, which asks a
// run's stop test before each entry, then the removal that asks it too, reads each regular file's status through its folder's
// handle and compares it with its record just before deleting it) on a card of 20,000 files in
// 400 folders, against `rm -rf` of an identical card, in one run on the same file system. The
// card's volume checks are left out: they need a mounted card and cost the same whatever the
// card holds.
//   RATIO erase_card: our time over rm's (lower is better; target at most 2).
// Exits non-zero when the erase leaves anything behind or keeps a file.

#include "BenchSupport.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/CardPrep/CardTree.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr int topLevelFolders = 20;
constexpr int foldersEach = 20;  // 400 folders
constexpr int filesPerFolder = 50;

// A card like a camera's: 20 top-level folders of 20 folders of 50 small files.
void makeCard(const fs::path& card) {
    fs::remove_all(card);
    for (int t = 0; t < topLevelFolders; ++t)
        for (int f = 0; f < foldersEach; ++f) {
            const fs::path folder = card / ("T" + std::to_string(t)) / (std::to_string(100 + f) + "MEDIA");
            fs::create_directories(folder);
            for (int i = 0; i < filesPerFolder; ++i)
                std::ofstream(folder / ("C" + std::to_string(i) + ".MP4"), std::ios::binary)
                    << std::string(size_t(512 + i), 'x');
        }
}

// The erase of `card` as CardPrepEngine::prepare does it with vouched records. False when
// anything stayed.
bool eraseVouched(const fs::path& card, const std::vector<tessaline::CardFileRecord>& vouched) {
    tessaline::UniqueFd root(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!root || ::fstat(root.get(), &st) != 0) return false;
    const tessaline::CardTree tree(root.get(), st.st_dev);
    auto names = tree.topLevelNames();
    if (!names) return false;
    // The stop test as a run gives it: a lock-guarded flag asked before every entry measured
    // and every file and folder removed.
    std::mutex lock;
    bool stopped = false;
    const tessaline::CardTree::StopTest isStopped = [&] {
        const std::lock_guard<std::mutex> guard(lock);
        return stopped;
    };
    int64_t planned = 0;
    for (const auto& name : *names) planned += tree.sizeOf(name, isStopped).value_or(0);
    bool complete = planned > 0;
    for (const auto& name : *names) {
        auto removal = tree.removeVouched(name, vouched, isStopped);
        if (removal.left != tessaline::CardTree::VouchedRemoval::Left::nothing || !removal.kept.empty())
            complete = false;
    }
    return complete && fs::is_empty(card);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = bench::scratchFolder(argc, argv) / "erase_card";
    const fs::path ours = scratch / "ours";
    const fs::path peer = scratch / "peer";
    bool faithful = true;
    double oursBest = 0, peerBest = 0;
    // Each round erases fresh cards; the making is not timed. Interleaved, best of five.
    for (int round = 0; round < 5; ++round) {
        makeCard(ours);
        makeCard(peer);
        const auto vouched = tessaline::CardFileSet::read(ours).files;
        if (vouched.size() != size_t(topLevelFolders * foldersEach * filesPerFolder)) {
            std::fprintf(stderr, "erase_card: the card holds %zu files, not 20,000\n", vouched.size());
            return 1;
        }
        double o = 0, p = 0;
        auto runOurs = [&] { o = bench::secondsOf([&] { faithful = eraseVouched(ours, vouched) && faithful; }); };
        auto runPeer = [&] { p = bench::timeCommand({"rm", "-rf", peer.string()}); };
        if (round % 2 == 0) runOurs(), runPeer();
        else runPeer(), runOurs();
        oursBest = round == 0 ? o : std::min(oursBest, o);
        peerBest = round == 0 ? p : std::min(peerBest, p);
    }
    fs::remove_all(scratch);
    if (!faithful) {
        std::fprintf(stderr, "erase_card: the erase left files or folders behind\n");
        return 1;
    }
    // Lower is better: our time over rm's, the inverse of what printRatio prints.
    std::fprintf(stderr, "erase_card: ours %.4f s, rm %.4f s\n", oursBest, peerBest);
    std::printf("RATIO erase_card %.3f\n", oursBest / peerBest);
    return 0;
}
