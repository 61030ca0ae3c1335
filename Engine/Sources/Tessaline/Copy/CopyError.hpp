#pragma once

#include "Tessaline/Volumes/ProofGround.hpp"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace tessaline {

// A card copy that could not start. what() is the user-facing sentence.
class CopyError : public std::runtime_error {
public:
    enum class Kind { cannotScanSource, destinationInsideSource, destinationNotConnected };

    // "Couldn't read the card at <path>: <underlying>"
    static CopyError cannotScanSource(const std::filesystem::path& card, const std::string& underlying);
    // The destination is the card or lies inside it: copying would prove the card by itself.
    // With a doubt, the destination lies where the card's bytes may show (a view of the card,
    // an image kept on it, what can't be followed), and the sentence says which.
    static CopyError destinationInsideSource(const std::filesystem::path& card,
                                             std::optional<ProofGround::Doubt> doubt = std::nullopt);
    // The destination lies where a drive would be mounted, but none is:
    // "The destination folder <path> isn't available — is the drive connected?"
    static CopyError destinationNotConnected(const std::filesystem::path& card, const std::filesystem::path& destination);

    Kind kind() const { return kind_; }
    const std::filesystem::path& card() const { return card_; }
    // Set for destinationNotConnected.
    const std::filesystem::path& destination() const { return destination_; }

    static const char* destinationInsideSourceText;
    // destinationInsideSourceText without a doubt, else "The destination folder is <reason> —
    // choose a folder on another drive."
    static std::string destinationOnCardText(std::optional<ProofGround::Doubt> doubt);
    static std::string destinationNotConnectedText(const std::filesystem::path& destination);

private:
    CopyError(Kind kind, std::filesystem::path card, std::filesystem::path destination, const std::string& message);
    Kind kind_;
    std::filesystem::path card_;
    std::filesystem::path destination_;
};

}  // namespace tessaline
