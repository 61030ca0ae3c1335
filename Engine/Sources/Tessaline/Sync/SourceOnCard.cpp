#include "Tessaline/Sync/SourceOnCard.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::string refusalText(const fs::path& folder, const char* why) {
    return "The source folder " + toDisplayUtf8(folder) + " " + why + ", so nothing was copied.";
}

}  // namespace

std::string sourceOutsideCardText(const fs::path& folder) { return refusalText(folder, "lies outside the card"); }

std::optional<std::string> sourceOffCardReason(const fs::path& cardRoot, const fs::path& relativeFolder) {
    // The root is the mount point the system reported, not a name on the card.
    UniqueFd folder(::open(cardRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat root{};
    if (!folder || ::fstat(folder.get(), &root) != 0) return std::nullopt;
    for (const fs::path& part : relativeFolder) {
        const std::string name = part.native();
        if (name.empty() || name == "/") continue;
        UniqueFd next(::openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            struct stat entry{};
            if (::fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode))
                return refusalText(cardRoot / relativeFolder, "leads off the card through a link");
            return std::nullopt;
        }
        struct stat st{};
        if (::fstat(next.get(), &st) != 0) return std::nullopt;
        if (st.st_dev != root.st_dev) return refusalText(cardRoot / relativeFolder, "is on another drive than the card");
        folder = std::move(next);
    }
    return std::nullopt;
}

}  // namespace tessaline
