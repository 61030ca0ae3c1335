// What the kernel forgetting a FUSE exFAT drive's entries costs a verified copy onto it: the
// copy of a 1 GiB card of mixed files (36 clips of 24 MiB, 300 stills of 384 KiB, 600 small
// sidecars) to a loop-mounted exfat-fuse drive, while `echo 2 > /proc/sys/vm/drop_caches`
// runs every 300 ms (the drive numbers its files afresh each time), against the same copy
// with nothing dropped. Rounds interleave the two, each onto an emptied folder, the card read
// warm. Root only: it attaches and mounts a loop device.
//   RATIO copy_renumbered: the time with drops over the time without (lower is better;
//   target at most 1.3).
// Exits non-zero when a file of either copy is not copied and verified.

#include "BenchSupport.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The drive's image, made once under `folder`.
fs::path driveImage(const fs::path& folder) {
    const fs::path image = folder / "drive.img";
    if (!fs::exists(folder / ".made")) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(image, std::ios::binary).close();
        fs::resize_file(image, uint64_t(1400) << 20);
        bench::commandOutput({"mkfs.exfat", "-L", "SHUTTLE", image.string()});
        std::ofstream(folder / ".made") << "";
    }
    return image;
}

// Drops dentries and inodes every 300 ms until destroyed.
class Forgetting {
public:
    Forgetting() {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            while (!stop_) {
                std::ofstream("/proc/sys/vm/drop_caches") << "2\n";
                ++drops;
                wake_.wait_for(lock, std::chrono::milliseconds(300), [this] { return stop_; });
            }
        });
    }
    ~Forgetting() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    std::atomic<int> drops{0};

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

fs::path makeCard(const fs::path& card) {
    fs::create_directories(card / "PRIVATE/M4ROOT/CLIP");
    fs::create_directories(card / "DCIM/100MEDIA");
    for (int i = 0; i < 36; ++i)
        bench::ensurePatternFile(card / "PRIVATE/M4ROOT/CLIP" / ("C" + std::to_string(1000 + i) + ".MP4"),
                                 (uint64_t(24) << 20) + uint64_t(i));
    for (int i = 0; i < 300; ++i)
        bench::ensurePatternFile(card / "DCIM/100MEDIA" / ("DSC" + std::to_string(1000 + i) + ".ARW"),
                                 (uint64_t(384) << 10) + uint64_t(i));
    for (int i = 0; i < 600; ++i)
        bench::ensurePatternFile(card / "DCIM/100MEDIA" / ("DSC" + std::to_string(1000 + i) + ".XML"),
                                 uint64_t(2048 + 13 * i));
    return card;
}

int run(int argc, char** argv) {
    if (::geteuid() != 0) {
        std::fprintf(stderr, "copy_renumbered: needs root (a loop-mounted FUSE exFAT drive)\n");
        return 1;
    }
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv));
    const fs::path card = makeCard(scratch / "copy_renumbered-card");
    const fs::path driveFolder = scratch / "copy_renumbered-drive";
    const bench::FuseExfatMount drive(driveImage(driveFolder), driveFolder / "mnt");
    const fs::path destination = drive.root() / "Day1";

    bool allVerified = true;
    auto copy = [&] {
        const auto run = tessaline::CopyEngine().copy(card, destination, {}, tessaline::SettleOptions::none(),
                                                      [] { return false; });
        for (const auto& outcome : run.outcomes) {
            if (outcome.status.kind == tessaline::CopyEngine::FileStatus::Kind::copiedVerified) continue;
            allVerified = false;
            std::fprintf(stderr, "copy_renumbered: %s not verified: %s\n", outcome.relativePath.c_str(),
                         outcome.status.reason.value_or("").c_str());
        }
    };
    double quiet = 1e300, forgetting = 1e300;
    int drops = 0;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(destination);
        ::sync();
        quiet = std::min(quiet, bench::secondsOf(copy));
        fs::remove_all(destination);
        ::sync();
        {
            Forgetting forget;
            forgetting = std::min(forgetting, bench::secondsOf(copy));
            drops += forget.drops.load();
        }
        if (!allVerified) return 1;
    }
    fs::remove_all(destination);
    std::fprintf(stderr, "copy_renumbered: %d drops in 3 copies\n", drops);
    bench::printRatio("copy_renumbered", quiet, forgetting);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "copy_renumbered: %s\n", error.what());
        return 1;
    }
}
