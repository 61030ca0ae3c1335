#pragma once
// Erases a camera card's top level and rebuilds the folder layout a camera expects, like an
// in-camera format but without touching the file system. Only the root of an external
// volume is ever erased: prepare() runs the full validate() itself and refuses any issue.
// Removal never follows a symbolic link and never enters another mount below the card.
// No state; prepare() blocks its caller and calls onEvent synchronously on that thread.

#include "Tessaline/CardPrep/CameraFormatProfile.hpp"
#include "Tessaline/CardPrep/CardPrepError.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessaline {

class CardPrepEngine {
public:
    using PrepError = CardPrepError;

    struct Summary {
        int itemsDeleted = 0;
        int64_t bytesFreed = 0;                   // logical sizes of the removed files
        std::vector<std::string> foldersCreated;  // the profile's folders that exist afterwards
        std::vector<std::string> failures;        // top-level names whose removal failed
        bool cancelled = false;

        bool isClean() const { return failures.empty() && !cancelled; }
        friend bool operator==(const Summary&, const Summary&) = default;
    };

    struct Planned {
        int itemCount = 0;
        int64_t totalBytes = 0;
        friend bool operator==(const Planned&, const Planned&) = default;
    };
    struct Deleting {
        std::string name;  // the item's raw file name (may not be UTF-8)
        int index = 0;     // 0-based
        int total = 0;
        friend bool operator==(const Deleting&, const Deleting&) = default;
    };
    struct CreatingFolders {
        int count = 0;
        friend bool operator==(const CreatingFolders&, const CreatingFolders&) = default;
    };
    using Event = std::variant<Planned, Deleting, CreatingFolders>;

    enum class CardRootIssue { dangerousSystemLocation, notAVolumeRoot, internalDisk };

    // Top-level names that are never deleted (compared exactly, case included).
    static const std::vector<std::string>& systemItems();

    // Whether `cardRoot` may be erased; nullopt when it is the root of an external volume.
    // dangerousSystemLocation: a dangerous folder, the root file system or an internal
    // volume; notAVolumeRoot: not the root of a volume with a block device behind it (a
    // folder inside a card, a tmpfs); internalDisk: internal by the volume classifier.
    static std::optional<CardRootIssue> validate(const std::filesystem::path& cardRoot);

    // Erases every top-level item but the system items, then creates the profile's folders
    // (also after a cancellation). Throws PrepError: refusedDangerousRoot when validate()
    // finds any issue (or the root changes under it), cannotList when the top level cannot
    // be read; nothing is deleted then. Items that cannot be removed are listed in
    // Summary::failures and the run goes on. `isCancelled` (may be empty) is asked before
    // each top-level item.
    static Summary prepare(const std::filesystem::path& cardRoot, const CameraFormatProfile& profile,
                           const std::function<bool()>& isCancelled,
                           const std::function<void(const Event&)>& onEvent = {});

    CardPrepEngine() = delete;
};

}  // namespace tessaline
