// What the erase gate's count of a card costs: CardPrepBackend::countContents (one walk that
// counts every file and records the files an erase deletes, CardFileSet) of a card of 20,000
// files in 400 folders, half of them in hidden and junk-named folders, against
// `find CARD -type f -printf '%s %T@\n'` over the same card, in one run.
//   RATIO gate_count: our time over find's (lower is better; target at most 1.5).
// Exits non-zero when the two count different files or the count misses a file. Beside it,
// on standard error, the copy's closing look at the same card (CardChangeCheck) and the count.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Copy/CardChangeCheck.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int folderCount = 400;
constexpr int filesPerFolder = 50;

// 400 folders of 50 small files: every other folder hidden or named like a junk folder.
fs::path ensureCard(const fs::path& root) {
    const fs::path card = root / "card";
    if (fs::exists(root / ".complete")) return card;
    fs::remove_all(root);
    const char* junk[] = {".pending", "MISC", "THMBNL", ".cache", "CANONMSC"};
    for (int f = 0; f < folderCount; ++f) {
        const std::string name = f % 2 == 0 ? "DCIM/" + std::to_string(100 + f / 2) + "MEDIA"
                                            : "DCIM/" + std::to_string(100 + f / 2) + "MEDIA/" + junk[f % 5];
        const fs::path folder = card / name;
        fs::create_directories(folder);
        for (int i = 0; i < filesPerFolder; ++i) {
            const std::string file = "C" + std::to_string(f * filesPerFolder + i) + (i % 3 ? ".MP4" : ".XML");
            std::ofstream(folder / file, std::ios::binary) << std::string(size_t(64 + i), 'x');
        }
    }
    std::ofstream(root / ".complete") << "";
    return card;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv));
    const fs::path card = ensureCard(scratch / "gate_count");
    const int expected = folderCount * filesPerFolder;

    const std::string listed = bench::commandOutput({"find", card.string(), "-type", "f", "-printf", "%s %T@\n"});
    const int findCount = static_cast<int>(std::count(listed.begin(), listed.end(), '\n'));
    brindlecove::CardContents contents;
    auto [oursSeconds, findSeconds] = bench::bestOfInterleaved(
        5, [&] { contents = brindlecove::CardPrepBackend::countContents(card); },
        [&] { bench::timeCommand({"find", card.string(), "-type", "f", "-printf", "%s %T@\n"}); });
    if (contents.fileCount != expected || findCount != expected || !contents.files ||
        static_cast<int>(contents.files->size()) != expected) {
        std::fprintf(stderr, "gate_count: counted %d files (%zu recorded), find %d, expected %d\n", contents.fileCount,
                     contents.files ? contents.files->size() : size_t(0), findCount, expected);
        return 1;
    }
    std::fprintf(stderr, "gate_count: %d files recorded\n", expected);
    // The copy's closing look at a card (the same walk, then a compare with the copied set)
    // must cost no more than the count: timed on the same card, reported beside it.
    const auto copied = tessaline::CardFileSet::read(card);
    std::vector<std::string> changed;
    auto [closingSeconds, countSeconds] = bench::bestOfInterleaved(
        5, [&] { changed = tessaline::CardChangeCheck::changedSince(copied, card, {}); },
        [&] { contents = brindlecove::CardPrepBackend::countContents(card); });
    if (!changed.empty()) {
        std::fprintf(stderr, "gate_count: the closing look found %zu changes on a card left alone\n", changed.size());
        return 1;
    }
    std::fprintf(stderr, "gate_count: a copy's closing look %.4f s, the count %.4f s\n", closingSeconds, countSeconds);
    // Lower is better: our time over find's, the inverse of what printRatio prints.
    std::fprintf(stderr, "gate_count: ours %.4f s, find %.4f s\n", oursSeconds, findSeconds);
    std::printf("RATIO gate_count %.3f\n", oursSeconds / findSeconds);
    return 0;
}
