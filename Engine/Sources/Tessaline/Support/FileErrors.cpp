#include "Tessaline/Support/FileErrors.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <clocale>
#include <cstring>
#include <locale.h>

namespace tessaline {

std::string errnoText(int error) {
    // The C locale's text, whatever language the process was set to: one wording in every
    // log, and the same words the tests compare.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    if (cLocale) {
        if (const char* text = ::strerror_l(error, cLocale)) return text;
    }
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
