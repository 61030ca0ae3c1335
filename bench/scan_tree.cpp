// FolderScanner::scan of a warm 100,000-file tree against `find ROOT -type f -printf '%s\n'`
// (which also reads every file's size). RATIO is our speed over find's; the target is at
// least 0.5.

#include "BenchSupport.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// 200 camera folders of 500 files: stills with sidecars, some clips, some junk.
void ensureTree(const fs::path& root) {
    fs::path done = root / ".complete";
    if (fs::exists(done)) return;
    fs::remove_all(root);
    const char* extensions[] = {"JPG", "CR3", "XMP", "MOV", "THM"};
    for (int folder = 0; folder < 200; ++folder) {
        fs::path dir = root / "DCIM" / (std::to_string(100 + folder) + "CANON");
        fs::create_directories(dir);
        for (int i = 0; i < 500; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.%s", i / 5, extensions[i % 5]);
            std::ofstream(dir / name) << std::string(static_cast<size_t>(i % 7), 'x');
        }
    }
    std::ofstream(done) << "";
}

}  // namespace

int main(int argc, char** argv) {
    fs::path root = bench::scratchFolder(argc, argv) / "scan-tree-100k";
    ensureTree(root);

    tessaline::FolderScanner scanner;
    size_t found = 0;
    auto [oursSeconds, peerSeconds] = bench::bestOfInterleaved(
        7, [&] { found = scanner.scan(root, true).totalCount(); },
        [&] { bench::timeCommand({"find", root.string(), "-type", "f", "-printf", "%s\\n"}); });
    if (found != 100000) {
        std::fprintf(stderr, "scan_tree: found %zu files instead of 100000\n", found);
        return 1;
    }
    bench::printRatio("scan_tree", oursSeconds, peerSeconds);
    return 0;
}
