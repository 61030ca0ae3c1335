// What the kernel forgetting FUSE exFAT entries costs a verified copy: the copy of a 1 GiB
// card of mixed files (36 clips of 24 MiB, 300 stills of 384 KiB, 600 small sidecars) to a
// loop-mounted exfat-fuse drive, while `echo 2 > /proc/sys/vm/drop_caches` runs every 300 ms
// (the drive numbers its files afresh each time), against the same copy with nothing
// dropped. Rounds interleave the two, each onto an emptied folder, the card read warm. Then
// the second run: the same card on a loop-mounted exfat-fuse card of its own, copied again
// onto the drive that holds every file (each card file and its copy read and compared), with
// the card and the drive renumbered by the same drops, against that run with nothing dropped.
// Each second run starts with the card's and the drive's entries forgotten, as after the
// card is mounted again.
// Root only: it attaches and mounts loop devices.
//   RATIO copy_renumbered: the first copy's time with drops over the time without (lower is
//   better; target at most 1.3).
//   RATIO copy_renumbered_second_run: the second run's time with drops over the time without
//   (lower is better; target at most 1.3).
// Exits non-zero when a file of a first copy is not copied and verified, or a file of a
// second run is not found already present.

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

// An empty exFAT image of 1400 MiB labelled `label`, made once under `folder`.
fs::path exfatImage(const fs::path& folder, const std::string& label) {
    const fs::path image = folder / "drive.img";
    if (!fs::exists(folder / ".made")) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(image, std::ios::binary).close();
        fs::resize_file(image, uint64_t(1400) << 20);
        bench::commandOutput({"mkfs.exfat", "-L", label, image.string()});
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
    const bench::FuseExfatMount drive(exfatImage(driveFolder, "SHUTTLE"), driveFolder / "mnt");
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

    // The second run, from the card on exFAT (filled once) onto the drive holding its copy.
    const fs::path exfatCardFolder = scratch / "copy_renumbered-exfat-card";
    const bool filled = fs::exists(exfatCardFolder / ".filled");
    const bench::FuseExfatMount exfatCard(exfatImage(exfatCardFolder, "CARD"), exfatCardFolder / "mnt");
    if (!filled) {
        fs::copy(card, exfatCard.root(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        ::sync();
        std::ofstream(exfatCardFolder / ".filled") << "";
    }
    const fs::path again = drive.root() / "Day2";
    fs::remove_all(again);
    int copied = 0;
    for (const auto& outcome : tessaline::CopyEngine()
                                   .copy(exfatCard.root(), again, {}, tessaline::SettleOptions::none(),
                                         [] { return false; })
                                   .outcomes)
        copied += outcome.status.kind == tessaline::CopyEngine::FileStatus::Kind::copiedVerified;
    bool allPresent = copied == 936;
    auto copyAgain = [&] {
        const auto run = tessaline::CopyEngine().copy(exfatCard.root(), again, {}, tessaline::SettleOptions::none(),
                                                      [] { return false; });
        for (const auto& outcome : run.outcomes) {
            if (outcome.status.kind == tessaline::CopyEngine::FileStatus::Kind::skippedAlreadyPresent) continue;
            allPresent = false;
            std::fprintf(stderr, "copy_renumbered: %s not found present: %s\n", outcome.relativePath.c_str(),
                         outcome.status.reason.value_or("").c_str());
        }
        if (!run.changedOnCard.empty()) allPresent = false;
    };
    double quietAgain = 1e300, forgettingAgain = 1e300;
    drops = 0;
    // Each second run starts as a card mounted again does, with its files and the drive's not
    // in the kernel's caches (one drop before it; the loop devices below stay cached).
    auto forgetAll = [] { std::ofstream("/proc/sys/vm/drop_caches") << "2\n"; };
    for (int round = 0; round < 5 && allPresent; ++round) {
        forgetAll();
        quietAgain = std::min(quietAgain, bench::secondsOf(copyAgain));
        forgetAll();
        Forgetting forget;
        forgettingAgain = std::min(forgettingAgain, bench::secondsOf(copyAgain));
        drops += forget.drops.load();
    }
    fs::remove_all(again);
    if (!allPresent) return 1;
    std::fprintf(stderr, "copy_renumbered: %d drops in 5 second runs\n", drops);
    bench::printRatio("copy_renumbered_second_run", quietAgain, forgettingAgain);
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
