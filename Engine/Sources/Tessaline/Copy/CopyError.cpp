#include "Tessaline/Copy/CopyError.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

const char* CopyError::destinationInsideSourceText =
    "The destination folder is inside the card being copied — choose a folder on another drive.";

CopyError::CopyError(Kind kind, std::filesystem::path card, std::filesystem::path destination,
                     const std::string& message)
    : std::runtime_error(message), kind_(kind), card_(std::move(card)), destination_(std::move(destination)) {}

CopyError CopyError::cannotScanSource(const std::filesystem::path& card, const std::string& underlying) {
    return CopyError(Kind::cannotScanSource, card, {}, "Couldn't read the card at " + toDisplayUtf8(card) + ": " + underlying);
}

std::string CopyError::destinationOnCardText(std::optional<ProofGround::Doubt> doubt) {
    if (!doubt) return destinationInsideSourceText;
    return "The destination folder is " + ProofGround::reasonText(*doubt) + " — choose a folder on another drive.";
}

CopyError CopyError::destinationInsideSource(const std::filesystem::path& card, std::optional<ProofGround::Doubt> doubt) {
    return CopyError(Kind::destinationInsideSource, card, {}, destinationOnCardText(doubt));
}

std::string CopyError::destinationNotConnectedText(const std::filesystem::path& destination) {
    return "The destination folder " + toDisplayUtf8(destination) + " isn't available — is the drive connected?";
}

CopyError CopyError::destinationNotConnected(const std::filesystem::path& card, const std::filesystem::path& destination) {
    return CopyError(Kind::destinationNotConnected, card, destination, destinationNotConnectedText(destination));
}

}  // namespace tessaline
