#include "Tessaline/Fingerprint.hpp"

#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <vector>

namespace tessaline {

std::string Fingerprint::description() const {
    std::vector<std::string> parts;
    parts.push_back(lastComponent(url));
    parts.push_back(fixedText(static_cast<double>(byteSize) / 1'000'000.0, 1) + " MB");
    if (captureDate) {
        parts.push_back(formatIso8601(*captureDate));
        parts.push_back("(" + std::string(rawValue(timestampSource)) + ")");
    } else {
        parts.push_back("[" + std::string(rawValue(timestampSource)) + "]");
    }
    if (duration) parts.push_back(fixedText(*duration, 1) + "s");
    // An empty make or model is present data and keeps its (empty) part.
    if (cameraMake) parts.push_back(*cameraMake);
    if (cameraModel) parts.push_back(*cameraModel);
    if (width && height) parts.push_back(std::to_string(*width) + "\u00D7" + std::to_string(*height));
    if (codec) parts.push_back(*codec);

    std::string line;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) line += "  ";
        line += parts[i];
    }
    return line;
}

}  // namespace tessaline
