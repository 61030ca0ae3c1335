#pragma once
// The preview pictures that cameras embed in RAW and HEIF files (and JPEG/TIFF thumbnails),
// read through Exiv2, turned upright by the main image's EXIF orientation: embedded
// previews are stored unrotated. Any thread; nothing shared between calls.

#include <QImage>
#include <QSize>
#include <QString>

namespace brindlecove::EmbeddedPreview {

// The smallest embedded preview that covers `atLeast` (the largest when none does; the
// largest of all for an empty size), upright. A null image when the file has none or
// cannot be read.
QImage read(const QString& path, QSize atLeast = QSize());

// Whether the file's extension is one whose pictures come from embedded previews (camera
// RAW formats, HEIF).
bool handles(const QString& path);

}  // namespace brindlecove::EmbeddedPreview
