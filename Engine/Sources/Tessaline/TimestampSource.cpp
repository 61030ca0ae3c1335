#include "Tessaline/TimestampSource.hpp"

#include <array>

namespace tessaline {

namespace {

constexpr std::array<std::string_view, 6> rawValues{
    "EXIF DateTimeOriginal", "TIFF DateTime",         "QuickTime creationDate",
    "QuickTime metadata track", "filesystem date (fallback)", "no timestamp"};

}  // namespace

std::string_view rawValue(TimestampSource source) { return rawValues.at(static_cast<size_t>(source)); }

std::optional<TimestampSource> timestampSourceFromRaw(std::string_view text) {
    for (size_t i = 0; i < rawValues.size(); ++i)
        if (rawValues[i] == text) return static_cast<TimestampSource>(i);
    return std::nullopt;
}

bool isEmbedded(TimestampSource source) {
    switch (source) {
        case TimestampSource::exifOriginal:
        case TimestampSource::tiffDateTime:
        case TimestampSource::quickTimeAtom:
        case TimestampSource::quickTimeMeta:
            return true;
        case TimestampSource::filesystemDate:
        case TimestampSource::none:
            return false;
    }
    return false;
}

}  // namespace tessaline
