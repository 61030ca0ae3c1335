#pragma once

#include "Tessaline/Fingerprint.hpp"

#include <filesystem>

namespace tessaline {

// The one interface through which every fingerprint is obtained. fingerprint() never
// throws: a file that cannot be read yields a degraded fingerprint (size, file-system date
// or none, nothing else). Implementations must be safe to call from several threads at once.
class MetadataReader {
public:
    virtual ~MetadataReader() = default;
    virtual Fingerprint fingerprint(const std::filesystem::path& url) = 0;
};

}  // namespace tessaline
