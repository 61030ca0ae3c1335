#include "Tessaline/Grouping/ClipGroup.hpp"

#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

int64_t ClipGroup::totalByteSize() const {
    int64_t total = 0;
    for (const Fingerprint& file : primaryFiles) total += file.byteSize;
    return total;
}

std::optional<EpochSeconds> ClipGroup::captureDate() const {
    for (const Fingerprint& file : primaryFiles)
        if (file.hasCameraTimestamp && file.captureDate) return file.captureDate;
    return std::nullopt;
}

std::string ClipGroup::description() const {
    std::string text;
    for (size_t i = 0; i < primaryFiles.size(); ++i) {
        if (i) text += " + ";
        text += toDisplayUtf8(primaryFiles[i].url.filename());
    }
    auto date = captureDate();
    text += "  " + (date ? formatIso8601(*date) : std::string("no date"));
    text += "  " + fixedText(static_cast<double>(totalByteSize()) / 1'000'000.0, 1) + " MB";
    if (!sidecars.empty()) text += "  [" + std::to_string(sidecars.size()) + " sidecars]";
    return text;
}

}  // namespace tessaline
