#include "Tessaline/Copy/DestinationInsideCard.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The real path of the nearest existing folder of `path` (`path` itself when it exists), and
// the missing rest below it ("" when `path` exists).
struct ResolvedAncestor {
    fs::path existing;
    fs::path rest;
};

ResolvedAncestor resolvedAncestor(const fs::path& path) {
    fs::path probe = normalizedPath(path);
    fs::path rest;
    for (;;) {
        if (auto real = canonicalExistingPath(probe)) return {*real, rest};
        if (!probe.has_relative_path()) return {probe, rest};
        rest = rest.empty() ? probe.filename() : probe.filename() / rest;
        probe = probe.parent_path();
    }
}

}  // namespace

std::optional<DestinationOnCard> destinationOnCard(const fs::path& destination, const fs::path& card) {
    constexpr DestinationOnCard inside{};
    struct stat cardStat{};
    if (::stat(card.c_str(), &cardStat) != 0) return std::nullopt;
    const ResolvedAncestor cardReal = resolvedAncestor(card);
    const ResolvedAncestor target = resolvedAncestor(destination);
    const fs::path targetReal = target.rest.empty() ? target.existing : target.existing / target.rest;
    if (isSameOrBelow(targetReal, cardReal.existing)) return inside;

    // The missing folders below the nearest existing one cannot lead anywhere else: nothing
    // is mounted on a folder that does not exist.
    FileSystemPlaces places;
    auto cardPlace = places.ofCanonical(cardReal.existing);
    auto targetPlace = places.ofCanonical(target.existing);
    ProofGround ground;
    if (cardPlace && targetPlace && targetPlace->isSameOrBelow(*cardPlace)) {
        if (targetPlace->device == cardPlace->device) return inside;
        // The same UUID on another device: the card's unless the kernel's links show two file
        // systems apart (a clone of the card, or a UUID read from a stale record).
        if (const auto doubt = ground.doubtOf(target.existing, cardStat.st_dev)) return DestinationOnCard{doubt};
    }
    // A card that is a whole file system: a file system that shows its bytes (a second view
    // of its device, a disk image kept on it, an overlay, what can't be followed) is the card,
    // as the scan's proofs and the erase gate judge it. (A folder of a larger file system is
    // not judged so: an image kept elsewhere on that file system lies beside it.)
    if (!cardPlace || cardPlace->path == "/")
        if (const auto doubt = ground.doubtOf(target.existing, cardStat.st_dev)) return DestinationOnCard{doubt};

    for (fs::path probe = target.existing;; probe = probe.parent_path()) {
        struct stat st{};
        if (::stat(probe.c_str(), &st) == 0 && st.st_dev == cardStat.st_dev && st.st_ino == cardStat.st_ino)
            return inside;
        if (!probe.has_relative_path()) return std::nullopt;
    }
}

bool isDestinationInsideCard(const fs::path& destination, const fs::path& card) {
    return destinationOnCard(destination, card).has_value();
}

}  // namespace tessaline
