#pragma once
// The small picture of one media file for the report list: stills through Qt's image readers
// at reduced size (EXIF orientation honoured), camera RAW and HEIF through their embedded
// previews, video through one decoded frame. Audio and anything else has no picture (the
// list keeps the file-type icon). Reads the file: never call it on the GUI thread. Any
// thread; nothing shared between calls.

#include <QImage>
#include <QSize>
#include <QString>

namespace brindlecove::ThumbnailMaker {

// A picture covering `size` (aspect ratio kept, so one side may be longer), or a null image
// when the file has none that can be made.
QImage make(const QString& path, QSize size);

}  // namespace brindlecove::ThumbnailMaker
