#pragma once
// Loop-mounted cards and drives for application tests (root only): labelled ext4 and FUSE
// exFAT volumes, extra mounts of them (a card swapped in at another card's mount point, a
// bind mount), all undone in reverse order when the set dies: every extra mount is
// unmounted, then every volume is unmounted and its loop device detached.

#include "Support/TestSandbox.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindlecove::testing {

class LoopVolumeSet {
public:
    LoopVolumeSet() = default;
    ~LoopVolumeSet();
    LoopVolumeSet(const LoopVolumeSet&) = delete;
    LoopVolumeSet& operator=(const LoopVolumeSet&) = delete;

    // Why loop volumes cannot be made here ("" when they can): they need root.
    static std::string unavailableReason();

    // A new volume, formatted ("ext4" or "exfat") with `label` and mounted (unless `mount` is
    // false) at its own folder. Throws std::runtime_error when a tool fails.
    tessaline::testing::LoopVolume& add(const std::string& fsType, const std::string& label, int sizeMiB = 64,
                                        bool mount = true);
    // Mounts `volume`'s device (a kernel file system: "ext4") at `target` (created when
    // missing), e.g. in place of another card.
    void mountAt(const tessaline::testing::LoopVolume& volume, const std::string& fsType,
                 const std::filesystem::path& target);
    // Bind-mounts `source` at `target`.
    void bindMount(const std::filesystem::path& source, const std::filesystem::path& target);
    // Unmounts the newest extra mount now.
    void unmountLast();

private:
    std::vector<std::unique_ptr<tessaline::testing::LoopVolume>> volumes_;
    std::vector<std::unique_ptr<tessaline::testing::ScopedMount>> mounts_;  // destroyed first
};

// Skips the current test with the reason unless loop volumes can be made.
#define BRINDLECOVE_REQUIRE_LOOP_VOLUMES()                                                       \
    do {                                                                                         \
        if (auto reason = ::brindlecove::testing::LoopVolumeSet::unavailableReason(); !reason.empty()) \
            GTEST_SKIP() << reason;                                                              \
    } while (0)

}  // namespace brindlecove::testing
