#pragma once
// What identifies one volume across mounts, so the card in the reader can be told apart
// from the card that was scanned. Plain value; read() is cheap and safe on any thread.

#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct VolumeIdentity {
    std::optional<std::string> uuid;
    std::optional<std::string> name;
    std::optional<EpochSeconds> creationDate;
    std::optional<int64_t> totalCapacity;

    bool isEmpty() const { return !uuid && !name && !creationDate && !totalCapacity; }
    // Whether both describe the same volume: equal UUIDs when both have one; otherwise name,
    // creation date and capacity all present and equal. Empty identities never match.
    bool matches(const VolumeIdentity& other) const;

    // The identity of the mounted volume holding `path` (never a parent's volume when the
    // path does not exist); nullopt when nothing can be read.
    static std::optional<VolumeIdentity> read(const std::filesystem::path& path);

    friend bool operator==(const VolumeIdentity&, const VolumeIdentity&) = default;
};

}  // namespace tessaline
