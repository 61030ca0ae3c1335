#pragma once
// Errors of the fingerprint cache. what() is the user-facing sentence.

#include <stdexcept>
#include <string>

namespace tessaline {

class IndexError : public std::runtime_error {
public:
    enum class Kind { openFailed, sqliteError };

    // "Cannot open index at <path> (sqlite3 rc=<code>)"
    static IndexError openFailed(const std::string& path, int code);
    // "SQLite error <code>: <message>"; message "unknown" when empty.
    static IndexError sqliteError(int code, const std::string& message);

    Kind kind() const { return kind_; }
    int code() const { return code_; }

private:
    IndexError(Kind kind, int code, const std::string& text);
    Kind kind_;
    int code_;
};

}  // namespace tessaline
