#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include "Tessaline/MetadataReader/MediaLibraries.hpp"
#include "Tessaline/MetadataReader/StillMetadata.hpp"
#include "Tessaline/MetadataReader/VideoMetadata.hpp"
#include "Tessaline/Scanner/MediaClassifier.hpp"

namespace tessaline {

NativeMetadataReader::NativeMetadataReader() { initializeMediaLibraries(); }

Fingerprint NativeMetadataReader::degraded(const std::filesystem::path& url, const FileAttributes& attributes) {
    return {.url = url,
            .byteSize = attributes.byteSize,
            .captureDate = attributes.modified,
            .hasCameraTimestamp = false,
            .timestampSource = attributes.modified ? TimestampSource::filesystemDate : TimestampSource::none};
}

Fingerprint NativeMetadataReader::fingerprint(const std::filesystem::path& url) {
    FileAttributes attributes = FileAttributes::of(url);
    // A FIFO would block the open forever and a device would feed a library without end.
    if (!attributes.regularFile) return degraded(url, attributes);

    std::optional<EmbeddedMetadata> embedded;
    try {
        embedded = MediaClassifier::isVideo(url) || MediaClassifier::isAudio(url) ? readVideoMetadata(url)
                                                                                  : readStillMetadata(url);
    } catch (...) {
        embedded.reset();
    }
    if (!embedded) return degraded(url, attributes);

    Fingerprint result{.url = url,
                       .byteSize = attributes.byteSize,
                       .captureDate = embedded->captureDate,
                       .duration = embedded->duration,
                       .cameraMake = std::move(embedded->cameraMake),
                       .cameraModel = std::move(embedded->cameraModel),
                       .codec = std::move(embedded->codec),
                       .width = embedded->width,
                       .height = embedded->height,
                       .hasCameraTimestamp = embedded->captureDate.has_value(),
                       .timestampSource = embedded->captureDate ? embedded->source : TimestampSource::none};
    if (!result.captureDate) {
        result.captureDate = attributes.modified;
        result.timestampSource = attributes.modified ? TimestampSource::filesystemDate : TimestampSource::none;
    }
    return result;
}

}  // namespace tessaline
