#include "Tessaline/CardPrep/CardPrepEngine.hpp"

#include "Tessaline/CardPrep/CardRootVolume.hpp"
#include "Tessaline/CardPrep/CardTree.hpp"
#include "Tessaline/CardPrep/DangerousLocations.hpp"
#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

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

CardPrepEngine::CardFacts factsOf(const CardRootVolume& volume) {
    return {volume.canonicalPath, volume.device, volume.fileSystemUuid, volume.mountId};
}

// The card as it is at `cardRoot` now, required to be the checked one: refusedDangerousRoot
// for any issue, cardChanged for another volume or another mount at the path.
CardRootVolume requireChecked(const fs::path& cardRoot, const CardPrepEngine::CardFacts& checked) {
    Validation now = validateRoot(cardRoot);
    if (now.issue || !now.volume) throw CardPrepError(CardPrepError::Kind::refusedDangerousRoot, cardRoot);
    if (factsOf(*now.volume) != checked) throw CardPrepError(CardPrepError::Kind::cardChanged, cardRoot);
    return *now.volume;
}

// The checked root, opened without following a link and checked to be the very folder of the
// very mount that was checked (not something mounted or renamed in its place since).
UniqueFd openCheckedRoot(const fs::path& cardRoot, const CardRootVolume& volume, uint64_t mountId) {
    UniqueFd fd(open(volume.canonicalPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) throw CardPrepError(CardPrepError::Kind::cannotList, cardRoot);
    struct stat st{};
    auto reached = lastingMountId(fd.get(), "", AT_EMPTY_PATH);
    if (fstat(fd.get(), &st) != 0 || st.st_dev != volume.device || st.st_ino != volume.inode ||
        (reached && *reached != mountId))
        throw CardPrepError(CardPrepError::Kind::cardChanged, cardRoot);
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

CardPrepEngine::CheckedCard CardPrepEngine::check(const fs::path& cardRoot) {
    Validation validation = validateRoot(cardRoot);
    CheckedCard checked;
    if (validation.issue || !validation.volume)
        checked.issue = validation.issue.value_or(CardRootIssue::notAVolumeRoot);
    else
        checked.card = factsOf(*validation.volume);
    return checked;
}

std::optional<CardPrepEngine::CardRootIssue> CardPrepEngine::validate(const fs::path& cardRoot) {
    return check(cardRoot).issue;
}

CardPrepEngine::Summary CardPrepEngine::prepare(const fs::path& cardRoot, const CardFacts& checked,
                                                const CameraFormatProfile& profile,
                                                const std::function<bool()>& isCancelled,
                                                const std::function<void(const Event&)>& onEvent,
                                                const std::optional<std::vector<CardFileRecord>>& vouched) {
    auto send = [&](const Event& e) {
        if (onEvent) onEvent(e);
    };
    CardRootVolume volume = requireChecked(cardRoot, checked);
    UniqueFd rootFd = openCheckedRoot(cardRoot, volume, checked.mountId);
    // Checked again with the root held open: a mount made over the card meanwhile would show
    // up as another folder or another mount here.
    CardRootVolume again = requireChecked(cardRoot, checked);
    if (again.inode != volume.inode) throw PrepError(PrepError::Kind::cardChanged, cardRoot);
    CardTree tree(rootFd.get(), volume.device);

    auto listed = tree.topLevelNames();
    if (!listed) throw PrepError(PrepError::Kind::cannotList, cardRoot);
    std::vector<std::string> items;
    const auto& spared = systemItems();
    for (auto& name : *listed)
        if (std::find(spared.begin(), spared.end(), name) == spared.end()) items.push_back(std::move(name));

    // The plan measures every item, which on a large card takes seconds: a stop is heard
    // inside it, and a run stopped before anything was removed leaves the card as it was.
    Summary summary;
    auto stoppedUntouched = [&] {
        summary.cancelled = true;
        summary.untouched = true;
        return summary;
    };
    int64_t totalBytes = 0;
    int fileCount = 0;
    for (const auto& name : items) {
        const auto measured = tree.measure(name, isCancelled);
        if (!measured) return stoppedUntouched();
        totalBytes += measured->bytes;
        fileCount += measured->files;
    }
    const int total = static_cast<int>(items.size());
    send(Planned{total, totalBytes, fileCount});
    int filesDeleted = 0;
    const CardTree::FileRemoved fileRemoved = [&] { send(FilesDeleted{++filesDeleted, fileCount}); };

    // The records in path order, for lookups while removing.
    std::vector<CardFileRecord> records;
    if (vouched) {
        records = *vouched;
        auto byPath = [](const CardFileRecord& a, const CardFileRecord& b) { return a.relative < b.relative; };
        if (!std::is_sorted(records.begin(), records.end(), byPath)) std::sort(records.begin(), records.end(), byPath);
    }
    bool removedAny = false;
    auto removeVouched = [&](const std::string& name) {
        CardTree::VouchedRemoval removal = tree.removeVouched(name, records, isCancelled, fileRemoved);
        removedAny = removedAny || removal.removedAny;
        summary.bytesFreed += removal.bytesRemoved;
        summary.filesDeleted += removal.filesRemoved;
        summary.kept.insert(summary.kept.end(), removal.kept.begin(), removal.kept.end());
        if (removal.left == CardTree::VouchedRemoval::Left::failed)
            summary.failures.push_back(name);
        else if (removal.left == CardTree::VouchedRemoval::Left::nothing && !removal.stopped)
            ++summary.itemsDeleted;
        if (removal.stopped) summary.cancelled = true;
    };
    for (int index = 0; index < total && !summary.cancelled; ++index) {
        if (isCancelled && isCancelled()) {
            summary.cancelled = true;
            break;
        }
        const std::string& name = items[static_cast<size_t>(index)];
        send(Deleting{name, index, total});
        if (vouched) {
            removeVouched(name);
            continue;
        }
        const CardTree::Removal removal = tree.remove(name, isCancelled, fileRemoved);
        removedAny = removedAny || removal.removedAny;
        summary.filesDeleted += removal.filesRemoved;
        if (removal.complete) {
            ++summary.itemsDeleted;
            summary.bytesFreed += removal.bytesRemoved;
        } else if (removal.stopped) {
            summary.bytesFreed += removal.bytesRemoved;
            summary.cancelled = true;
        } else {
            summary.failures.push_back(name);
        }
    }
    // Items made at the top level meanwhile: what they hold was never vouched for, so it is
    // kept and named, unless it is litter or no regular file at all.
    if (vouched && !summary.cancelled) {
        if (auto now = tree.topLevelNames()) {
            std::sort(items.begin(), items.end());
            for (const auto& name : *now)
                if (std::find(spared.begin(), spared.end(), name) == spared.end() &&
                    !std::binary_search(items.begin(), items.end(), name))
                    removeVouched(name);
        }
    }

    // Stopped before anything was removed: the card stays as it was, without the camera's
    // folders too (the user stopped the erase; its layout would be the only change).
    if (summary.cancelled && !removedAny) return stoppedUntouched();

    send(CreatingFolders{static_cast<int>(profile.folders.size())});
    for (const auto& folder : profile.folders) {
        bool made = false;
        if (!tree.createFolders(folder, &made)) continue;
        summary.foldersCreated.push_back(folder);
        if (made) summary.foldersMade.push_back(folder);
    }
    return summary;
}

}  // namespace tessaline
