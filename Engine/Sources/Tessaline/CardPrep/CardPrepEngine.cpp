#include "Tessaline/CardPrep/CardPrepEngine.hpp"

#include "Tessaline/CardPrep/CardRootVolume.hpp"
#include "Tessaline/CardPrep/CardTree.hpp"
#include "Tessaline/CardPrep/DangerousLocations.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

struct Validation {
    std::optional<CardPrepEngine::CardRootIssue> issue;
    std::optional<CardRootVolume> volume;
};

Validation validateRoot(const fs::path& cardRoot) {
    using Issue = CardPrepEngine::CardRootIssue;
    Validation v;
    v.volume = CardRootVolume::read(cardRoot);
    if (DangerousLocations::contains(cardRoot) || (v.volume && (v.volume->isRootFileSystem || v.volume->isInternal)))
        v.issue = Issue::dangerousSystemLocation;
    else if (!v.volume)
        v.issue = Issue::notAVolumeRoot;
    else if (v.volume->isInternal)
        v.issue = Issue::internalDisk;
    return v;
}

// The validated root, opened without following a link and checked to be the very folder
// that was validated (not something mounted or renamed in its place since).
UniqueFd openValidatedRoot(const CardRootVolume& volume) {
    UniqueFd fd(open(volume.canonicalPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return fd;
    struct stat st{};
    if (fstat(fd.get(), &st) != 0 || st.st_dev != volume.device || st.st_ino != volume.inode) return UniqueFd();
    return fd;
}

}  // namespace

const std::vector<std::string>& CardPrepEngine::systemItems() {
    // lost+found belongs to ext file systems: mke2fs makes it and fsck expects it.
    static const std::vector<std::string> items = {
        ".Spotlight-V100", ".fseventsd", ".Trashes", ".TemporaryItems", ".DocumentRevisions-V100",
        "System Volume Information", "lost+found",
    };
    return items;
}

std::optional<CardPrepEngine::CardRootIssue> CardPrepEngine::validate(const fs::path& cardRoot) {
    return validateRoot(cardRoot).issue;
}

CardPrepEngine::Summary CardPrepEngine::prepare(const fs::path& cardRoot, const CameraFormatProfile& profile,
                                                const std::function<bool()>& isCancelled,
                                                const std::function<void(const Event&)>& onEvent) {
    auto send = [&](const Event& e) {
        if (onEvent) onEvent(e);
    };
    Validation validation = validateRoot(cardRoot);
    if (validation.issue || !validation.volume) throw PrepError(PrepError::Kind::refusedDangerousRoot, cardRoot);
    UniqueFd rootFd = openValidatedRoot(*validation.volume);
    if (!rootFd) throw PrepError(PrepError::Kind::cannotList, cardRoot);
    // Validated again with the root held open: a mount made over the card meanwhile would
    // show up as another folder here.
    Validation again = validateRoot(cardRoot);
    if (again.issue || !again.volume || again.volume->device != validation.volume->device ||
        again.volume->inode != validation.volume->inode)
        throw PrepError(PrepError::Kind::refusedDangerousRoot, cardRoot);
    CardTree tree(rootFd.get(), validation.volume->device);

    auto listed = tree.topLevelNames();
    if (!listed) throw PrepError(PrepError::Kind::cannotList, cardRoot);
    std::vector<std::string> items;
    const auto& spared = systemItems();
    for (auto& name : *listed)
        if (std::find(spared.begin(), spared.end(), name) == spared.end()) items.push_back(std::move(name));

    int64_t totalBytes = 0;
    for (const auto& name : items) totalBytes += tree.sizeOf(name);
    const int total = static_cast<int>(items.size());
    send(Planned{total, totalBytes});

    Summary summary;
    for (int index = 0; index < total; ++index) {
        if (isCancelled && isCancelled()) {
            summary.cancelled = true;
            break;
        }
        const std::string& name = items[static_cast<size_t>(index)];
        send(Deleting{name, index, total});
        int64_t size = tree.sizeOf(name);
        if (tree.remove(name)) {
            ++summary.itemsDeleted;
            summary.bytesFreed += size;
        } else {
            summary.failures.push_back(name);
        }
    }

    send(CreatingFolders{static_cast<int>(profile.folders.size())});
    for (const auto& folder : profile.folders)
        if (tree.createFolders(folder)) summary.foldersCreated.push_back(folder);
    return summary;
}

}  // namespace tessaline
