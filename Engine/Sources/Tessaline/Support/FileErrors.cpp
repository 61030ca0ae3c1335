#include "Tessaline/Support/FileErrors.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <cstring>

namespace tessaline {

std::string errnoText(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in `buffer`.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("error ") + std::to_string(error);
}

FileWriteError::FileWriteError(std::filesystem::path path, int error)
    : std::runtime_error("Couldn't write " + toDisplayUtf8(path) + ": " + errnoText(error) + "."),
      path_(std::move(path)),
      error_(error) {}

FileReadError::FileReadError(std::filesystem::path path, int error)
    : std::runtime_error("Couldn't read " + toDisplayUtf8(path) + ": " + errnoText(error) + "."),
      path_(std::move(path)),
      error_(error) {}

FileReadError::FileReadError(std::filesystem::path path, int error, const std::string& reason)
    : std::runtime_error("Couldn't read " + toDisplayUtf8(path) + ": " + reason + "."),
      path_(std::move(path)),
      error_(error) {}

}  // namespace tessaline
