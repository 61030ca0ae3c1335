#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"

#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

#include <sys/stat.h>

#include <system_error>

namespace brindlecove {

namespace fs = std::filesystem;

CardPrepBackend CardPrepBackend::standard() {
    CardPrepBackend backend;
    backend.validate = [](const Path& card) { return Engine::check(card); };
    backend.readIdentity = [](const Path& card) { return tessaline::VolumeIdentity::read(card); };
    backend.isMounted = [](const Path& card) { return tessaline::isMountPoint(card); };
    backend.computePreview = [](const Path& card) { return countContents(card); };
    backend.prepare = [](const Path& card, const Engine::CardFacts& facts, const tessaline::CameraFormatProfile& profile,
                         const std::function<bool()>& isCancelled,
                         const std::function<void(const Engine::Event&)>& onEvent) {
        return Engine::prepare(card, facts, profile, isCancelled, onEvent);
    };
    backend.scanMediaForFreshness = [](const Path& card) { return mediaSnapshot(card); };
    backend.deviceOf = [](const Path& path) -> std::optional<dev_t> {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        return st.st_dev;
    };
    return backend;
}

CardContents CardPrepBackend::countContents(const Path& card) {
    CardContents contents;
    std::error_code ec;
    for (fs::directory_iterator it(card, ec), end; !ec && it != end; it.increment(ec)) ++contents.itemCount;
    if (ec) contents.itemCount = 0;

    ec.clear();
    fs::recursive_directory_iterator walk(card, fs::directory_options::skip_permission_denied, ec);
    for (fs::recursive_directory_iterator end; !ec && walk != end; walk.increment(ec)) {
        std::error_code entryError;
        // Links are neither counted nor followed: the erase removes the link, not its target.
        if (!fs::is_regular_file(walk->symlink_status(entryError)) || entryError) continue;
        ++contents.fileCount;
        std::error_code sizeError;
        const auto size = walk->file_size(sizeError);
        if (!sizeError) contents.totalBytes += static_cast<int64_t>(size);
    }
    contents.media = mediaSnapshot(card);
    return contents;
}

std::optional<CardMediaSnapshot> CardPrepBackend::mediaSnapshot(const Path& card) {
    try {
        const auto result = tessaline::FolderScanner().scan(card, false);
        if (!result.unreadableFolders.empty()) return std::nullopt;
        const fs::path root = EraseGate::standardised(card);
        // Every file the erase would delete: media, sidecars and files of no listed type.
        CardMediaSnapshot snapshot;
        for (const auto* list : {&result.mediaFiles, &result.sidecarFiles, &result.otherFiles})
            for (const auto& file : *list)
                snapshot.sizes.emplace(EraseGate::standardised(file.url).lexically_relative(root).string(), file.byteSize);
        return snapshot;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace brindlecove
