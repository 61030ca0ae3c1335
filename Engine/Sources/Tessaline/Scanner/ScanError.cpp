#include "Tessaline/Scanner/ScanError.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

ScanError::ScanError(std::filesystem::path root, const std::string& message)
    : std::runtime_error(message), root_(std::move(root)) {}

ScanError ScanError::cannotEnumerate(const std::filesystem::path& root) {
    return ScanError(root, "Cannot enumerate folder: " + toDisplayUtf8(std::string_view(withoutTrailingSlash(root.native()))));
}

}  // namespace tessaline
