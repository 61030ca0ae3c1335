#include "Support/LoopVolumeSet.hpp"

#include <stdexcept>

namespace brindlecove::testing {

using tessaline::testing::LoopVolume;
using tessaline::testing::ScopedMount;

LoopVolumeSet::~LoopVolumeSet() {
    while (!mounts_.empty()) mounts_.pop_back();
    while (!volumes_.empty()) volumes_.pop_back();
}

std::string LoopVolumeSet::unavailableReason() {
    if (!tessaline::testing::runningAsRoot()) return "needs root to attach and mount loop devices; skipped";
    return {};
}

LoopVolume& LoopVolumeSet::add(const std::string& fsType, const std::string& label, int sizeMiB, bool mount) {
    volumes_.push_back(std::make_unique<LoopVolume>(fsType, sizeMiB, label, mount));
    return *volumes_.back();
}

void LoopVolumeSet::mountAt(const LoopVolume& volume, const std::string& fsType, const std::filesystem::path& target) {
    mounts_.push_back(std::make_unique<ScopedMount>(std::vector<std::string>{"-t", fsType, volume.device()}, target));
}

void LoopVolumeSet::bindMount(const std::filesystem::path& source, const std::filesystem::path& target) {
    mounts_.push_back(std::make_unique<ScopedMount>(std::vector<std::string>{"--bind", source.string()}, target));
}

void LoopVolumeSet::unmountLast() {
    if (!mounts_.empty()) mounts_.pop_back();
}

}  // namespace brindlecove::testing
