#pragma once
// The MetadataReader that opens a file and reads what the camera embedded in it: stills
// through Exiv2, video and audio through FFmpeg plus our QuickTime item reader. Whatever
// is not embedded falls back to the file's modification time; any failure gives the
// degraded fingerprint, so one bad file never stops a scan.
//
// Stateless and reentrant: any number of threads may call fingerprint() at once. Files on
// a card are untrusted input: anything that is not a regular file is never opened.

#include "Tessaline/MetadataReader/FileAttributes.hpp"
#include "Tessaline/MetadataReader/MetadataReader.hpp"

namespace tessaline {

class NativeMetadataReader final : public MetadataReader {
public:
    // Sets up the media libraries once per process.
    NativeMetadataReader();

    // Never throws.
    Fingerprint fingerprint(const std::filesystem::path& url) override;

    // Size and file-system date (or none) from `attributes`, nothing else.
    static Fingerprint degraded(const std::filesystem::path& url, const FileAttributes& attributes);
};

}  // namespace tessaline
