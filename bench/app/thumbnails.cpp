// Thumbnails of the report list: our service (its own pool of two threads; one decoded
// frame per video, reduced-size decoding for stills) against ffmpegthumbnailer at the same
// size (-s 112), run once per file with the same parallelism (two at a time).
// Inputs, made once in the scratch folder: 200 H.264 videos (1080p, 4 s, half MP4, half
// MOV) and 200 JPEGs of 24 MP. Copies of a few distinct files are hard links, so both
// sides read the same cached pages.
// RATIO thumbnails: peer time over ours (higher is better). Exits non-zero when either side
// fails to make a picture of a file.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QApplication>
#include <QFile>
#include <QSet>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using brindlecove::ThumbnailService;

namespace {

void run(const std::vector<std::string>& argv) { bench::timeCommand(argv); }

// `count` files named <stem>NNNN.<ext> made from `distinct` originals by hard links.
std::vector<fs::path> ensureSet(const fs::path& folder, const std::string& stem, const std::string& ext, int count,
                                int distinct, const std::function<void(const fs::path&, int)>& make) {
    fs::create_directories(folder);
    std::vector<fs::path> originals;
    for (int i = 0; i < distinct; ++i) {
        fs::path original = folder / ("original-" + stem + std::to_string(i) + "." + ext);
        if (!fs::exists(original)) {
            fs::path partial = folder / ("partial." + ext);
            make(partial, i);
            fs::rename(partial, original);
        }
        originals.push_back(original);
    }
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%04d.%s", stem.c_str(), i, ext.c_str());
        fs::path file = folder / name;
        if (!fs::exists(file)) fs::create_hard_link(originals[static_cast<size_t>(i % distinct)], file);
        files.push_back(file);
    }
    return files;
}

void makeVideo(const fs::path& out, int variant) {
    static const char* sources[] = {"testsrc2=size=1920x1080:rate=25", "smptehdbars=size=1920x1080:rate=25",
                                    "mandelbrot=size=1920x1080:rate=25", "cellauto=size=1920x1080:rate=25:rule=30"};
    run({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", sources[variant % 4], "-t", "4", "-c:v", "libx264",
         "-preset", "veryfast", "-g", "50", "-pix_fmt", "yuv420p", out.string()});
}

void makeStill(const fs::path& out, int variant) {
    run({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         "gradients=size=6000x4000:seed=" + std::to_string(variant * 7 + 1), "-frames:v", "1", "-q:v", "3",
         out.string()});
}

// Our service, fresh (empty cache): asks for every file the way painting does (asked again
// while not yet made, as a list repaints) and waits for all of them.
double timeOurs(const std::vector<fs::path>& files, int& made) {
    return bench::secondsOf([&] {
        ThumbnailService service(QSize(112, 80));
        QSet<QString> done;
        made = 0;
        QStringList paths;
        for (const auto& file : files) paths << QFile::decodeName(file.c_str());
        auto askRemaining = [&] {
            for (const QString& path : paths)
                if (!done.contains(path)) service.thumbnail(path);
        };
        QObject::connect(&service, &ThumbnailService::thumbnailReady, [&](const QString& path) {
            done.insert(path);
            if (!service.hasFailed(path)) ++made;
        });
        askRemaining();
        while (done.size() < paths.size()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            askRemaining();
        }
    });
}

double timePeer(const std::vector<fs::path>& files, const fs::path& out, int& made) {
    std::atomic<size_t> next{0};
    std::atomic<int> ok{0};
    double seconds = bench::secondsOf([&] {
        auto worker = [&](int id) {
            for (size_t i; (i = next.fetch_add(1)) < files.size();) {
                fs::path png = out / ("peer-" + std::to_string(id) + "-" + std::to_string(i) + ".png");
                try {
                    run({"ffmpegthumbnailer", "-s", "112", "-i", files[i].string(), "-o", png.string()});
                    if (fs::file_size(png) > 0) ++ok;
                } catch (const std::exception&) {
                }
            }
        };
        std::thread a(worker, 0), b(worker, 1);
        a.join();
        b.join();
    });
    made = ok.load();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path scratch = bench::scratchFolder(argc, argv) / "thumbnails";
    QApplication app(argc, argv);
    std::vector<fs::path> files = ensureSet(scratch / "mp4", "C", "MP4", 100, 4, makeVideo);
    for (auto& f : ensureSet(scratch / "mov", "M", "MOV", 100, 4, makeVideo)) files.push_back(f);
    for (auto& f : ensureSet(scratch / "jpg", "IMG_", "JPG", 200, 8, makeStill)) files.push_back(f);
    fs::path out = scratch / "peer-out";
    fs::create_directories(out);
    for (const auto& file : files) bench::warmCache(file);

    int oursMade = 0, peerMade = 0;
    double bestOurs = 1e9, bestPeer = 1e9;
    for (int round = 0; round < 2; ++round) {
        bestOurs = std::min(bestOurs, timeOurs(files, oursMade));
        bestPeer = std::min(bestPeer, timePeer(files, out, peerMade));
    }
    std::fprintf(stderr, "files %zu: ours made %d, peer made %d\n", files.size(), oursMade, peerMade);
    bench::printRatio("thumbnails", bestOurs, bestPeer);
    return oursMade == static_cast<int>(files.size()) && peerMade == static_cast<int>(files.size()) ? 0 : 1;
}
