#include "Tessaline/Index/IndexError.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

IndexError::IndexError(Kind kind, int code, const std::string& text)
    : std::runtime_error(text), kind_(kind), code_(code) {}

IndexError IndexError::openFailed(const std::string& path, int code) {
    return IndexError(Kind::openFailed, code,
                      "Cannot open index at " + toDisplayUtf8(std::string_view(path)) + " (sqlite3 rc=" + std::to_string(code) + ")");
}

IndexError IndexError::sqliteError(int code, const std::string& message) {
    return IndexError(Kind::sqliteError, code,
                      "SQLite error " + std::to_string(code) + ": " + (message.empty() ? "unknown" : message));
}

}  // namespace tessaline
