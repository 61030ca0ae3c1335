#include "Tessaline/Volumes/VolumeDetector.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <set>
#include <string>

namespace tessaline {

namespace {

// Pseudo file systems that libmount's own list does not name.
bool isExtraPseudo(const std::string& fsType) {
    return fsType == "squashfs" || fsType == "fuse.portal" || fsType == "fuse.gvfsd-fuse" ||
           fsType == "fuse.lxcfs";
}

bool isSystemTree(const std::filesystem::path& mountPoint) {
    if (isSameOrBelow(mountPoint, "/run/media")) return false;
    for (const char* tree : {"/proc", "/sys", "/dev", "/run", "/snap", "/var/lib/snapd", "/boot"})
        if (isSameOrBelow(mountPoint, tree)) return true;
    return false;
}

}  // namespace

std::vector<MountEntry> VolumeDetector::visibleMounts(const std::vector<MountEntry>& mounts) {
    std::vector<MountEntry> visible;
    std::set<dev_t> seenDevices;
    for (const MountEntry& entry : mounts) {
        if (entry.isPseudo || isExtraPseudo(entry.fsType)) continue;
        if (isSystemTree(entry.mountPoint)) continue;
        if (!entry.isBlockBacked() && !entry.isNetwork) continue;
        // A second mount of the same file system is a bind mount: show the volume once.
        if (!seenDevices.insert(entry.deviceNumber).second) continue;
        visible.push_back(entry);
    }
    return visible;
}

std::vector<VolumeInfo> VolumeDetector::listMountedVolumes() {
    std::vector<VolumeInfo> volumes;
    for (const MountEntry& entry : visibleMounts(MountTable::current().entries())) {
        const auto own = ownVolumeLabel(entry);
        auto name = own ? own : volumeName(entry);
        if (!name) continue;
        VolumeClass volumeClass = VolumeClassifier::classifyMount(entry);
        volumes.push_back(VolumeInfo{entry.mountPoint, *name, volumeClass.isRemovable, volumeClass.isEjectable,
                                     volumeClass.isInternal, own.has_value()});
    }
    return volumes;
}

std::vector<VolumeInfo> VolumeDetector::listCandidateVolumes() {
    std::vector<VolumeInfo> candidates;
    for (VolumeInfo& volume : listMountedVolumes())
        if (volume.isCandidateCardOrDrive()) candidates.push_back(std::move(volume));
    return candidates;
}

}  // namespace tessaline
