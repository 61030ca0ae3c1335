// The memory the application keeps between runs: ten scans (ScanViewModel, with the default
// fingerprint cache, the report published and its file list built as the Report section does)
// and ten verified copies (CopyViewModel, each log filed in the log archive), alternating, of
// a card of 2,000 files (400 MB) against a drive folder holding its copy. After each run the
// event loop is drained and the resident memory read (VmRSS). Data and settings live under
// the scratch folder (XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME point there).
// LOWER is better:
//   RATIO idle_memory_growth: resident memory after the tenth scan and copy minus after the
//       first, in MiB (target at most 30).
// Beside it, on standard error, the resident memory after every run and the C library's heap
// (in use and free). Exits non-zero when a
// scan does not confirm every clip or a copy does not verify every file.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/MemoryRelease.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

constexpr int runs = 10;
constexpr int cardFiles = 2000;

int64_t residentBytes() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
    return -1;
}

// Runs the event loop until `done` holds, then half a second more (late posted work).
void waitFor(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

double mib(int64_t bytes) { return double(bytes) / 1048576.0; }

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv)) / "idle_memory";
    const fs::path home = scratch / "home";
    fs::remove_all(home);
    for (const char* name : {"data", "config", "cache"}) fs::create_directories(home / name);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    limitAllocationArenas();  // as the application's main() does
    QCoreApplication app(argc, argv);

    const fs::path card = scratch / "card";
    bench::ensurePatternTree(card, cardFiles, uint64_t{400} << 20);
    const fs::path drive = scratch / "drive";
    fs::remove_all(drive);
    fs::create_directories(drive);
    const fs::path grants = scratch / "grants.json";
    fs::remove(grants);
    tessaline::SecurityScopedBookmarkStore(grants).grant(drive);

    QStringList answers;
    Dialogs dialogs;
    dialogs.chooseFolder = [&](const FolderRequest&) -> std::optional<QString> {
        if (answers.isEmpty()) return std::nullopt;
        return answers.takeFirst();
    };

    CopyViewModel::Dependencies copyDependencies;
    copyDependencies.dialogs = dialogs;
    copyDependencies.settle = tessaline::SettleOptions::none();
    CopyViewModel copier(copyDependencies);
    answers = {QFile::decodeName(card.c_str()), QFile::decodeName(drive.c_str())};
    copier.pickCard();
    copier.pickDestination();

    ScanViewModel::Dependencies scanDependencies;
    scanDependencies.dialogs = dialogs;
    scanDependencies.environment.bookmarkStoreURL = grants;
    ScanViewModel scanner(scanDependencies);
    scanner.setCardPath(QFile::decodeName(card.c_str()));
    ReportFileListModel fileList;
    QObject::connect(&scanner, &ScanViewModel::lastReportChanged, [&] { fileList.setReport(scanner.lastReport()); });

    int64_t afterFirst = 0, last = 0;
    for (int round = 1; round <= runs; ++round) {
        copier.start();
        waitFor([&] { return !copier.isRunning(); });
        const auto* done = std::get_if<CopyViewModel::DonePhase>(&copier.phase());
        if (!done || done->log->verifiedCount() + done->log->skippedCount() != cardFiles) {
            std::fprintf(stderr, "idle_memory: copy %d did not verify every file\n", round);
            return 1;
        }
        const int64_t afterCopy = residentBytes();
        scanner.startScan(false);
        waitFor([&] { return !scanner.isRunning(); });
        const auto report = scanner.lastReport();
        if (!report || report->confirmed().size() + report->duplicates().size() != size_t(cardFiles)) {
            std::fprintf(stderr, "idle_memory: scan %d did not confirm every clip\n", round);
            return 1;
        }
        last = residentBytes();
        if (round == 1) afterFirst = last;
        const struct mallinfo2 heap = ::mallinfo2();
        std::fprintf(stderr, "idle_memory: round %d: %.1f MiB after the copy, %.1f MiB after the scan (heap: %.1f MiB in use, %.1f MiB free)\n", round,
                     mib(afterCopy), mib(last), mib(int64_t(heap.uordblks)), mib(int64_t(heap.fordblks)));
    }
    fs::remove_all(drive);
    std::printf("RATIO idle_memory_growth %.1f\n", mib(last - afterFirst));
    return 0;
}
