// Dates read from files (report JSON, meta.json, sync history, QuickTime values) go through
// the ISO-8601 parser. It must never crash, and what it accepts must format and parse back.

#include "Tessaline/Support/DateText.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = tessaline::parseIso8601(text);
    auto whole = tessaline::parseIso8601WholeSeconds(text);
    if (whole && (!parsed || *whole != *parsed)) std::abort();
    if (parsed) {
        if (!std::isfinite(*parsed)) std::abort();
        std::string formatted = tessaline::formatIso8601(*parsed);
        auto again = tessaline::parseIso8601(formatted);
        if (again && *again != std::floor(*parsed)) std::abort();
    }
    return 0;
}
