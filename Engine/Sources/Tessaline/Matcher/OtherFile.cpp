#include "Tessaline/Matcher/OtherFile.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace tessaline {

std::vector<OtherFile> OtherFile::toProve(const ScanResult& cardScan, const std::vector<MatchResult>& results) {
    std::unordered_map<std::string, int64_t> sidecarSizes;
    sidecarSizes.reserve(cardScan.sidecarFiles.size());
    for (const MediaFile& sidecar : cardScan.sidecarFiles) sidecarSizes.emplace(sidecar.url.native(), sidecar.byteSize);

    std::unordered_set<std::string> joined, listed;
    std::vector<OtherFile> files;
    for (const MatchResult& result : results) {
        const auto kind = result.status.kind();
        const bool backedUp = kind == MatchStatus::Kind::confirmed || kind == MatchStatus::Kind::possibleDuplicate;
        for (const auto& sidecar : result.group.sidecars) {
            joined.insert(sidecar.native());
            if (!backedUp || !listed.insert(sidecar.native()).second) continue;
            auto size = sidecarSizes.find(sidecar.native());
            files.push_back({sidecar, size == sidecarSizes.end() ? 0 : size->second, Role::sidecar, std::nullopt});
        }
    }
    for (const MediaFile& sidecar : cardScan.sidecarFiles)
        if (!joined.count(sidecar.url.native())) files.push_back({sidecar.url, sidecar.byteSize, Role::other, std::nullopt});
    for (const MediaFile& other : cardScan.otherFiles) files.push_back({other.url, other.byteSize, Role::other, std::nullopt});
    std::sort(files.begin(), files.end(),
              [](const OtherFile& a, const OtherFile& b) { return a.url.native() < b.url.native(); });
    return files;
}

}  // namespace tessaline
