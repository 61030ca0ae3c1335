#include "BrindlecoveApp/Views/ThumbnailMaker.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Views/EmbeddedPreview.hpp"
#include "BrindlecoveApp/Views/VideoFrameReader.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"

#include <QImageReader>

namespace brindlecove::ThumbnailMaker {

namespace {

QImage covering(QImage image, QSize size) {
    if (image.isNull()) return image;
    if (image.width() <= size.width() * 2 && image.height() <= size.height() * 2) return image;
    return image.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
}

QImage still(const QString& path, QSize size) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize stored = reader.size();
    if (stored.isValid() && !stored.isEmpty()) {
        QSize upright = size;
        // The reader scales before it turns the picture upright.
        if (reader.transformation() & QImageIOHandler::TransformationRotate90) upright.transpose();
        QSize scaled = stored.scaled(upright, Qt::KeepAspectRatioByExpanding);
        if (scaled.width() < stored.width() && scaled.height() < stored.height()) reader.setScaledSize(scaled);
    }
    QImage image = reader.read();
    return covering(std::move(image), size);
}

}  // namespace

QImage make(const QString& path, QSize size) {
    if (path.isEmpty() || size.isEmpty()) return {};
    const auto file = fsPath(path);
    if (EmbeddedPreview::handles(path)) return covering(EmbeddedPreview::read(path, size), size);
    if (tessaline::MediaClassifier::isVideo(file)) return VideoFrameReader::frame(path, size);
    if (tessaline::MediaClassifier::isAudio(file)) return {};
    return still(path, size);
}

}  // namespace brindlecove::ThumbnailMaker
