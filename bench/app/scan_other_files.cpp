// What proving a card's other files costs a scan: a whole cold scan (empty fingerprint
// cache) through the scan view model's worker (ScanRun) of the 2,000-file card of
// scan_parallel with one more file per clip beside it (the clip's numbered XML file, or a
// support file such as an AVCHD clip-info file, a note), each also on the drive under its own
// name, against the same scan of the media-only card.
//   RATIO scan_other_files: time with the other files over time without (lower is better;
//   target at most 1.3).
// Exits non-zero when a run fails, when the two cards' clips fare differently, or when an
// other file is not proven.

#include "BenchSupport.hpp"
#include "ScanBenchData.hpp"

#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

ReportPtr reportOf(const ScanOutcome& outcome) {
    auto* report = std::get_if<ReportPtr>(&outcome);
    return report ? *report : nullptr;
}

void writeText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A copy of the media-only card and drive (hard links: no bytes copied) with one other file
// per clip on both: the clip's numbered XML file for every other clip, and in between a
// support file or a note named after the clip.
bench::ScanBenchData withOtherFiles(const bench::ScanBenchData& media, const fs::path& root) {
    bench::ScanBenchData data{root / "card", root / "drive"};
    if (fs::exists(root / ".complete")) return data;
    fs::remove_all(root);
    for (const auto& [from, to] : {std::pair{media.card, data.card}, std::pair{media.drive, data.drive}}) {
        for (const auto& entry : fs::recursive_directory_iterator(from)) {
            const fs::path target = to / fs::relative(entry.path(), from);
            if (entry.is_directory()) fs::create_directories(target);
            else if (entry.is_regular_file()) fs::create_hard_link(entry.path(), target);
        }
    }
    int i = 0;
    for (const auto& entry : fs::recursive_directory_iterator(data.card)) {
        if (!entry.is_regular_file()) continue;
        const std::string stem = entry.path().stem().string();
        const std::string name = i % 3 == 0 ? stem + "M01.XML" : i % 3 == 1 ? stem + ".CPI" : stem + ".TXT";
        const std::string text = "<Meta clip=\"" + stem + "\" n=\"" + std::to_string(i) + "\"/>" + std::string(size_t(i % 200), ' ');
        writeText(entry.path().parent_path() / name, text);
        writeText(data.drive / "Shoot/Sidecars" / name, text);
        ++i;
    }
    std::ofstream(root / ".complete") << "";
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv));
    const bench::ScanBenchData media = bench::ensureScanBenchData(scratch / "scan_parallel/media", 2000);
    const bench::ScanBenchData others = withOtherFiles(media, scratch / "scan_other_files/data");
    const fs::path cache = scratch / "scan_other_files/cache.db";

    ScanRun::Environment environment;
    environment.fingerprintThreads = FingerprintStages::defaultThreadCount();
    environment.openCache = [cache] {
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(cache.native() + suffix);
        return std::make_shared<tessaline::FingerprintIndex>(cache);
    };
    // Both drive folders lie on one volume, so their grants would share its label: each scan
    // gets a grants file of its own.
    auto grantsFor = [&](const fs::path& drive, const std::string& name) {
        const fs::path file = scratch / "scan_other_files" / name;
        fs::remove(file);
        tessaline::SecurityScopedBookmarkStore(file).grant(drive);
        return file;
    };
    ScanRun::Environment mediaEnvironment = environment, othersEnvironment = environment;
    mediaEnvironment.bookmarkStoreURL = grantsFor(media.drive, "media-grants.json");
    othersEnvironment.bookmarkStoreURL = grantsFor(others.drive, "others-grants.json");
    const std::string label =
        tessaline::SecurityScopedBookmarkStore(*mediaEnvironment.bookmarkStoreURL).grantedVolumeLabels().front();

    ScanOutcome withOthers, mediaOnly;
    auto [othersSeconds, mediaSeconds] = bench::bestOfInterleaved(
        3, [&] { withOthers = ScanRun::perform({others.card, {label}, false, false}, othersEnvironment, {}, {}); },
        [&] { mediaOnly = ScanRun::perform({media.card, {label}, false, false}, mediaEnvironment, {}, {}); });
    const ReportPtr a = reportOf(withOthers), b = reportOf(mediaOnly);
    if (!a || !b) {
        std::fprintf(stderr, "scan_other_files: a scan failed\n");
        return 1;
    }
    // The clips are the same but for the card's folder name in their paths: compare the
    // standings and counts, and require every other file proven.
    if (a->results.size() != b->results.size() || a->confirmed().size() != b->confirmed().size() ||
        a->otherFiles.size() != 2000 || !a->otherFilesOnlyOnCard().empty() || !a->isSafeToErase() ||
        !b->isSafeToErase()) {
        std::fprintf(stderr, "scan_other_files: unexpected verdicts: %zu/%zu clips, %zu/%zu confirmed, %zu other files, "
                     "%zu only on the card\n",
                     a->results.size(), b->results.size(), a->confirmed().size(), b->confirmed().size(),
                     a->otherFiles.size(), a->otherFilesOnlyOnCard().size());
        return 1;
    }
    std::fprintf(stderr, "scan_other_files: %zu clips, %zu other files proven\n", a->results.size(), a->otherFiles.size());
    // Lower is better: the time with other files over the time without.
    bench::printRatio("scan_other_files", mediaSeconds, othersSeconds);
    return 0;
}
