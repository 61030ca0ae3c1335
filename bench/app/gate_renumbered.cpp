// What the erase gate's count of a card costs once the card's file system numbered every file
// afresh (the kernel forgot them): CardPrepBackend::countContents and then
// CardPrepBackend::checkRenumbered, which reads every renumbered file again and compares its
// XXH64 with the digest the scan proved, on a FUSE exFAT card of 1 GiB (60 clips of 16 MiB and
// 240 small files), against `xxhsum -H1` of the same files, each run after the kernel was made
// to forget them (`echo 2 > /proc/sys/vm/drop_caches`: the files are renumbered and their
// cached pages go with them, so both read through the FUSE daemon; the loop device's own
// cache stays). Root only: it attaches and mounts a loop device.
//   RATIO gate_renumbered: our time over xxhsum's (lower is better; target at most 1.5).
// Exits non-zero when a file was not renumbered, the check calls any file changed, or the two
// disagree on a digest.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr int clipCount = 60;
constexpr uint64_t clipBytes = 16ull << 20;
constexpr int smallCount = 240;

void forget() {
    ::sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "2\n";
}

// The card's image, made and filled once; mounted through exfat-fuse for the run and
// detached at its end.
class Card {
public:
    explicit Card(const fs::path& folder)
        : folder_(folder), complete_(made(folder)), mounted_(folder / "card.img", folder / "mnt"),
          mount_(mounted_.root()) {}
    const fs::path& root() const { return mount_; }

    // Fills a new card once.
    void fill() const {
        if (!complete_) {
            for (int i = 0; i < clipCount; ++i) {
                const fs::path clip = mount_ / "PRIVATE/M4ROOT/CLIP" / ("C" + std::to_string(1000 + i) + ".MP4");
                fs::create_directories(clip.parent_path());
                bench::ensurePatternFile(clip, clipBytes + uint64_t(i));
            }
            fs::create_directories(mount_ / "DCIM/100MEDIA");
            for (int i = 0; i < smallCount; ++i)
                bench::ensurePatternFile(mount_ / "DCIM/100MEDIA" / ("C" + std::to_string(1000 + i) + ".XML"),
                                         uint64_t(4096 + 97 * i));
            ::sync();
            std::ofstream(folder_ / ".complete") << "";
        }
    }

private:
    // Makes the image once (filled by fill()); whether it was filled already.
    static bool made(const fs::path& folder) {
        if (fs::exists(folder / ".complete")) return true;
        fs::remove_all(folder);
        fs::create_directories(folder);
        const fs::path image = folder / "card.img";
        std::ofstream(image, std::ios::binary).close();
        fs::resize_file(image, uint64_t(1200) << 20);
        bench::commandOutput({"mkfs.exfat", "-L", "RENUMBER", image.string()});
        return false;
    }
    fs::path folder_;
    bool complete_ = false;
    bench::FuseExfatMount mounted_;
    fs::path mount_;
};

}  // namespace

int run(int argc, char** argv);

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gate_renumbered: %s\n", error.what());
        return 1;
    }
}

int run(int argc, char** argv) {
    if (::geteuid() != 0) {
        std::fprintf(stderr, "gate_renumbered: needs root (a loop-mounted FUSE exFAT card)\n");
        return 1;
    }
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv));
    const Card card(scratch / "gate_renumbered");
    card.fill();
    const fs::path root = card.root();

    // The scan's records: every file with the digest its proof read.
    tessaline::CardFileSet scanned = tessaline::CardFileSet::read(root);
    std::vector<std::string> all;
    for (const auto& record : scanned.files) all.push_back(record.relative);
    tessaline::CardFileComparison::readAgain(root, scanned.files, all);
    const tessaline::VerificationReport report(root, {}, 0, {}, std::nullopt, {}, {}, scanned.files, scanned.mount);
    std::vector<std::string> argvPeer{"xxhsum", "-H1"};
    for (const auto& relative : all) argvPeer.push_back((root / relative).string());

    double ours = 1e9, peer = 1e9;
    std::string listed;
    for (int round = 0; round < 3; ++round) {
        forget();
        brindlecove::CardContents contents;
        int reread = 0;
        ours = std::min(ours, bench::secondsOf([&] {
            contents = brindlecove::CardPrepBackend::countContents(root);
            if (contents.files)
                brindlecove::CardPrepBackend::checkRenumbered(root, *contents.files, contents.filesMount, report, {},
                                                              [&](int, int total) { reread = total; });
        }));
        if (!contents.files || reread != static_cast<int>(all.size())) {
            std::fprintf(stderr, "gate_renumbered: %d of %zu files read again\n", reread, all.size());
            return 1;
        }
        using tessaline::CardFileComparison;
        const auto differences = CardFileComparison::compare(
            scanned.files, *contents.files, CardFileComparison::between(scanned.mount, contents.filesMount));
        if (!differences.none()) {
            std::fprintf(stderr, "gate_renumbered: %zu files called changed\n",
                         differences.changed.size() + differences.renumbered.size());
            return 1;
        }
        forget();
        peer = std::min(peer, bench::secondsOf([&] { listed = bench::commandOutput(argvPeer); }));
    }
    // xxhsum prints "<digest>  <path>" per file: each must be the scan's.
    std::map<std::string, std::string> digests;
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) {
        const size_t gap = line.find("  ");
        if (gap != std::string::npos) digests[line.substr(gap + 2)] = line.substr(0, gap);
    }
    for (const auto& record : scanned.files) {
        if (digests[(root / record.relative).string()] != record.digest) {
            std::fprintf(stderr, "gate_renumbered: xxhsum disagrees on %s\n", record.relative.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "gate_renumbered: %zu files, ours %.3f s, xxhsum %.3f s\n", all.size(), ours, peer);
    std::printf("RATIO gate_renumbered %.3f\n", ours / peer);
    return 0;
}
