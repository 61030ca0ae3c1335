#pragma once
// The matcher's verdict on one card clip, later narrowed by the byte proof. Plain value.

#include <filesystem>
#include <vector>

namespace tessaline {

class MatchStatus {
public:
    enum class Kind {
        confirmed,                  // one drive file holds the clip
        nameMatchMetadataMismatch,  // no drive file fits, but one has the same name (case ignored)
        possibleDuplicate,          // several drive files fit, none uniquely nearest in time
        missing,                    // no drive file fits and none has the same name
    };

    static MatchStatus confirmed(std::filesystem::path at) { return {Kind::confirmed, {std::move(at)}}; }
    static MatchStatus nameMatchMetadataMismatch(std::filesystem::path candidate) {
        return {Kind::nameMatchMetadataMismatch, {std::move(candidate)}};
    }
    static MatchStatus possibleDuplicate(std::vector<std::filesystem::path> locations) {
        return {Kind::possibleDuplicate, std::move(locations)};
    }
    static MatchStatus missing() { return {Kind::missing, {}}; }

    Kind kind() const { return kind_; }
    // The drive file of `confirmed`, or the candidate of `nameMatchMetadataMismatch`.
    const std::filesystem::path& path() const { return paths_.front(); }
    // The drive files of `possibleDuplicate` (one entry for confirmed and mismatch, none for missing).
    const std::vector<std::filesystem::path>& locations() const { return paths_; }

    bool operator==(const MatchStatus&) const = default;

private:
    MatchStatus(Kind kind, std::vector<std::filesystem::path> paths) : kind_(kind), paths_(std::move(paths)) {}
    Kind kind_;
    std::vector<std::filesystem::path> paths_;
};

}  // namespace tessaline
