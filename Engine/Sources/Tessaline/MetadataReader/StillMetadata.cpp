#include "Tessaline/MetadataReader/StillMetadata.hpp"

#include "Tessaline/MetadataReader/MetadataDates.hpp"

#include <exiv2/exiv2.hpp>

namespace tessaline {

namespace {

// Exiv2 image types refused on the still path: none, exv, xmp, eps, riff, mkv, qtime, asf.
bool isRefusedType(int type) {
    switch (type) {
        case 0:   // none
        case 2:   // exv
        case 10:  // xmp sidecar
        case 18:  // eps
        case 20:  // riff (AVI, WAV)
        case 21:  // mkv
        case 22:  // qtime
        case 24:  // asf
            return true;
        default:
            return false;
    }
}

// Length of the UTF-8 blank (tab or a Unicode space separator) ending at `end`, or 0.
size_t blankBefore(const std::string& s, size_t end) {
    auto at = [&](size_t back) { return static_cast<unsigned char>(s[end - back]); };
    if (end >= 1 && (at(1) == ' ' || at(1) == '\t')) return 1;
    if (end >= 2 && at(2) == 0xC2 && at(1) == 0xA0) return 2;  // U+00A0
    if (end >= 3) {
        unsigned a = at(3), b = at(2), c = at(1);
        if (a == 0xE1 && b == 0x9A && c == 0x80) return 3;                 // U+1680
        if (a == 0xE2 && b == 0x80 && (c <= 0x8A || c == 0xAF)) return 3;  // U+2000..200A, U+202F
        if (a == 0xE2 && b == 0x81 && c == 0x9F) return 3;                 // U+205F
        if (a == 0xE3 && b == 0x80 && c == 0x80) return 3;                 // U+3000
    }
    return 0;
}

// Length of the UTF-8 blank starting at `start`, or 0.
size_t blankAfter(const std::string& s, size_t start) {
    for (size_t length = 1; length <= 3 && start + length <= s.size(); ++length)
        if (blankBefore(s, start + length) == length) return length;
    return 0;
}

// Trims tabs and space separators (never line breaks) from both ends; blanks give "".
std::string trimmedBlanks(const std::string& s) {
    size_t start = 0;
    size_t end = s.size();
    while (start < end)
        if (size_t n = blankAfter(s, start); n) start += n; else break;
    while (end > start)
        if (size_t n = blankBefore(s, end); n && end - n >= start) end -= n; else break;
    return s.substr(start, end - start);
}

std::optional<std::string> asciiValue(const Exiv2::ExifData& exif, const char* key) {
    auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->typeId() != Exiv2::asciiString) return std::nullopt;
    return it->toString();  // stops at the first NUL
}

EmbeddedMetadata fromExif(const Exiv2::ExifData& exif) {
    EmbeddedMetadata result;
    if (auto original = asciiValue(exif, "Exif.Photo.DateTimeOriginal")) {
        auto subsec = asciiValue(exif, "Exif.Photo.SubSecTimeOriginal");
        // A capture date that is present but does not parse does not lead on to the TIFF date.
        result.captureDate = parseExifDate(*original, subsec ? std::optional<std::string_view>(*subsec) : std::nullopt);
        if (result.captureDate) result.source = TimestampSource::exifOriginal;
    } else if (auto tiff = asciiValue(exif, "Exif.Image.DateTime")) {
        result.captureDate = parseExifDate(*tiff, std::nullopt);
        if (result.captureDate) result.source = TimestampSource::tiffDateTime;
    }
    if (auto make = asciiValue(exif, "Exif.Image.Make")) result.cameraMake = trimmedBlanks(*make);
    if (auto model = asciiValue(exif, "Exif.Image.Model")) result.cameraModel = trimmedBlanks(*model);
    return result;
}

}  // namespace

std::optional<EmbeddedMetadata> readStillMetadata(const std::filesystem::path& path) {
    try {
        // A FileIo directly, so that no path is ever taken for a URL of another protocol.
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path.native()));
        if (isRefusedType(Exiv2::ImageFactory::getType(*io))) return std::nullopt;
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
        if (image.get() == nullptr || isRefusedType(image->imageType())) return std::nullopt;
        try {
            image->readMetadata();
        } catch (...) {
            return EmbeddedMetadata{};
        }
        EmbeddedMetadata result = fromExif(image->exifData());
        if (int w = image->pixelWidth(); w > 0) result.width = w;
        if (int h = image->pixelHeight(); h > 0) result.height = h;
        return result;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tessaline
