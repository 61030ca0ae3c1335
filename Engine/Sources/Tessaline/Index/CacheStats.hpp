#pragma once
// What the fingerprint cache holds, per volume label, for the Settings section.

#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct CacheStats {
    struct VolumeStat {
        std::string label;
        int fileCount = 0;
        std::optional<EpochSeconds> lastScanned;  // latest write of this label's rows
    };

    std::vector<VolumeStat> volumes;  // labels in byte order
    int totalRows = 0;
    int64_t databaseBytes = 0;  // the main database file alone; 0 when unreadable
};

}  // namespace tessaline
