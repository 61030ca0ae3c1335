#pragma once
// Embedded metadata of a still image through Exiv2: the EXIF capture date (with
// sub-seconds), else the TIFF date; make and model; the pixel size of the main image.
// Requires initializeMediaLibraries(). Safe on several threads at once (each call has its
// own Exiv2 image).

#include "Tessaline/MetadataReader/EmbeddedMetadata.hpp"

#include <filesystem>
#include <optional>

namespace tessaline {

// nullopt when the file cannot be opened as an image: unknown type, an exception from
// Exiv2, or one of Exiv2's video and container types, which the still path refuses (their
// parsers have a long record of crashes on hostile files, and this path also receives
// renamed and unlisted files). A file that opens but whose metadata does not read gives an
// empty record.
std::optional<EmbeddedMetadata> readStillMetadata(const std::filesystem::path& path);

}  // namespace tessaline
