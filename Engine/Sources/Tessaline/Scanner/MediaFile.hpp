#pragma once

#include "Tessaline/Support/PathString.hpp"

#include <cstdint>

namespace tessaline {

// One file found by a folder walk.
struct MediaFile {
    // other: a file of no listed type (neither media nor sidecar by its extension).
    enum class Kind { media, sidecar, other };

    PathString url;  // as the walk found it: the root joined with the relative names
    Kind kind = Kind::media;
    int64_t byteSize = 0;       // 0 when the size could not be read
};

}  // namespace tessaline
