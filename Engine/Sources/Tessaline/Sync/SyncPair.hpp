#pragma once
// One standing drive-to-drive rule: when the volume named `sourceVolumeLabel` is present,
// copy it (or one folder inside it) into `destinationPath` with verification.
// Plain value; safe on any thread.

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Support/Uuid.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct SyncPair {
    Uuid id;
    std::string name;
    std::string sourceVolumeLabel;
    std::optional<std::string> sourceSubpath;  // none: the volume root
    std::string destinationPath;
    bool preserveStructure = true;
    bool verifyAfterCopy = true;
    bool enabled = true;

    // The copy options of a sync run: the pair's layout and verification, an identical file
    // already at the destination counts as copied, 8 MiB chunks.
    CopyEngine::Options copyOptions() const;

    // The folder to copy under a mounted source root: the root itself, or the subpath below
    // it. nullopt when the subpath would leave the root (absolute, "." or ".." components,
    // NUL bytes), so a stored pair can never copy "/etc" or "../../home". This reads the
    // names only; whether the folder really lies on the card is SourceOnCard's question.
    std::optional<std::filesystem::path> sourceFolder(const std::filesystem::path& sourceRoot) const;
    // The subpath's folders below the source root ("DCIM/100CANON"; empty for the root), or
    // nullopt when it would leave the root, as above.
    std::optional<std::filesystem::path> sourceRelativeFolder() const;

    // The pair as a JSON object; "sourceSubpath" is left out when there is none.
    nlohmann::json toJson() const;
    // Strict reading: every key but "sourceSubpath" required with its JSON type, the id a
    // UUID; unknown keys ignored. Throws std::invalid_argument naming the fault.
    static SyncPair fromJson(const nlohmann::json& object);

    friend bool operator==(const SyncPair&, const SyncPair&) = default;
};

}  // namespace tessaline
