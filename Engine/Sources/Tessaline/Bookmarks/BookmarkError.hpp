#pragma once
// The error of the access-grant store. what() is the user-facing sentence.

#include <stdexcept>
#include <string>

namespace tessaline {

class BookmarkError : public std::runtime_error {
public:
    enum class Kind {
        // No grant under the label, or the grant leads nowhere now (volume not mounted,
        // folder gone or unreadable).
        notGranted,
    };

    static BookmarkError notGranted(std::string label);

    Kind kind() const { return kind_; }
    const std::string& label() const { return label_; }

private:
    BookmarkError(Kind kind, std::string label, const std::string& sentence);
    Kind kind_;
    std::string label_;
};

}  // namespace tessaline
