// File names on a card are arbitrary bytes. Every text made from them must be valid UTF-8,
// and the name helpers (extension, last component, case folding) must take any bytes.

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string display = tessaline::toDisplayUtf8(std::string_view(bytes));
    if (!tessaline::isValidUtf8(display)) std::abort();
    if (tessaline::isValidUtf8(bytes) && display != bytes) std::abort();

    std::filesystem::path path(bytes);
    std::string name = tessaline::lastComponent(path);
    std::string extension = tessaline::pathExtension(path);
    std::string stem = tessaline::stemOf(path);
    if (extension.size() > name.size() || stem.size() > name.size()) std::abort();
    (void)tessaline::withoutTrailingSlash(bytes);

    std::string lower = tessaline::lowercased(bytes);
    if (tessaline::isValidUtf8(bytes) != tessaline::isValidUtf8(lower)) std::abort();
    (void)tessaline::asciiLowercased(bytes);
    (void)tessaline::nfcNormalized(bytes);
    (void)tessaline::trimmedWhitespace(bytes);
    size_t half = size / 2;
    (void)tessaline::equalsIgnoringCase(std::string_view(bytes).substr(0, half), std::string_view(bytes).substr(half));
    return 0;
}
