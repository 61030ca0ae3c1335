#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

// Where a capture date came from. The raw values are the display texts and the values
// stored in the cache's "ts_source" column.
enum class TimestampSource { exifOriginal, tiffDateTime, quickTimeAtom, quickTimeMeta, filesystemDate, none };

// "EXIF DateTimeOriginal", "TIFF DateTime", "QuickTime creationDate",
// "QuickTime metadata track", "filesystem date (fallback)", "no timestamp".
std::string_view rawValue(TimestampSource source);
// The case whose raw value equals `text` exactly (case-sensitive); nullopt otherwise.
std::optional<TimestampSource> timestampSourceFromRaw(std::string_view text);
// True for the four sources embedded in the file by the camera.
bool isEmbedded(TimestampSource source);

}  // namespace tessaline
