#include "BrindlecoveApp/Views/EmbeddedPreview.hpp"

#include "Tessaline/MetadataReader/MediaLibraries.hpp"

#include <QFileInfo>
#include <QSet>
#include <QTransform>

#include <exiv2/exiv2.hpp>

#include <exception>

namespace brindlecove::EmbeddedPreview {

namespace {

// EXIF orientation 1..8 as the transform that shows the picture upright.
QImage upright(QImage image, long orientation) {
    QTransform turn;
    switch (orientation) {
        case 2: return image.mirrored(true, false);
        case 3: turn.rotate(180); break;
        case 4: return image.mirrored(false, true);
        case 5: image = image.mirrored(true, false); turn.rotate(270); break;
        case 6: turn.rotate(90); break;
        case 7: image = image.mirrored(true, false); turn.rotate(90); break;
        case 8: turn.rotate(270); break;
        default: return image;
    }
    return image.transformed(turn);
}

}  // namespace

bool handles(const QString& path) {
    static const QSet<QString> extensions{
        QStringLiteral("cr2"), QStringLiteral("cr3"), QStringLiteral("crw"), QStringLiteral("nef"),
        QStringLiteral("nrw"), QStringLiteral("arw"), QStringLiteral("srf"), QStringLiteral("sr2"),
        QStringLiteral("dng"), QStringLiteral("raf"), QStringLiteral("orf"), QStringLiteral("rw2"),
        QStringLiteral("pef"), QStringLiteral("srw"), QStringLiteral("x3f"), QStringLiteral("3fr"),
        QStringLiteral("iiq"), QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("hif"),
        QStringLiteral("avif")};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

QImage read(const QString& path, QSize atLeast) {
    tessaline::initializeMediaLibraries();  // XMP set-up for threads, BMFF for CR3 and HEIF
    try {
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        if (!image.get()) return {};
        image->readMetadata();
        Exiv2::PreviewManager manager(*image);
        Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();  // smallest first
        if (list.empty()) return {};
        const Exiv2::PreviewProperties* chosen = &list.back();
        if (!atLeast.isEmpty()) {
            for (const auto& properties : list) {
                if (static_cast<int>(properties.width_) >= atLeast.width() &&
                    static_cast<int>(properties.height_) >= atLeast.height()) {
                    chosen = &properties;
                    break;
                }
            }
        }
        Exiv2::PreviewImage preview = manager.getPreviewImage(*chosen);
        QImage picture;
        if (!picture.loadFromData(preview.pData(), static_cast<int>(preview.size()))) return {};
        long orientation = 1;
        const Exiv2::ExifData& exif = image->exifData();
        auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (found != exif.end() && found->count() > 0) orientation = found->toLong();
        return upright(std::move(picture), orientation);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace brindlecove::EmbeddedPreview
