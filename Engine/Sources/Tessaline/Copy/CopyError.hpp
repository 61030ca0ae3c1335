#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tessaline {

// A card copy that could not start. what() is the user-facing sentence.
class CopyError : public std::runtime_error {
public:
    enum class Kind { cannotScanSource, destinationInsideSource };

    // "Couldn't read the card at <path>: <underlying>"
    static CopyError cannotScanSource(const std::filesystem::path& card, const std::string& underlying);
    // The destination is the card or lies inside it: copying would prove the card by itself.
    static CopyError destinationInsideSource(const std::filesystem::path& card);

    Kind kind() const { return kind_; }
    const std::filesystem::path& card() const { return card_; }

    static const char* destinationInsideSourceText;

private:
    CopyError(Kind kind, std::filesystem::path card, const std::string& message);
    Kind kind_;
    std::filesystem::path card_;
};

}  // namespace tessaline
