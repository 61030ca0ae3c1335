// The previews play through the FFmpeg media backend, as the application chooses in its
// main(); it must be chosen before the first player is made.
#include <QByteArray>
#include <QtGlobal>

namespace {
const bool mediaBackendChosen = [] {
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    return true;
}();
}  // namespace
