#pragma once

#include <filesystem>
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
    static CopyError destinationInsideSource(const std::filesystem::path& card);
    // The destination lies where a drive would be mounted, but none is:
    // "The destination folder <path> isn't available — is the drive connected?"
    static CopyError destinationNotConnected(const std::filesystem::path& card, const std::filesystem::path& destination);

    Kind kind() const { return kind_; }
    const std::filesystem::path& card() const { return card_; }
    // Set for destinationNotConnected.
    const std::filesystem::path& destination() const { return destination_; }

    static const char* destinationInsideSourceText;
    static std::string destinationNotConnectedText(const std::filesystem::path& destination);

private:
    CopyError(Kind kind, std::filesystem::path card, std::filesystem::path destination, const std::string& message);
    Kind kind_;
    std::filesystem::path card_;
    std::filesystem::path destination_;
};

}  // namespace tessaline
