#include "Tessaline/Bookmarks/BookmarkError.hpp"

#include "Tessaline/Support/PathText.hpp"

namespace tessaline {

BookmarkError::BookmarkError(Kind kind, std::string label, const std::string& sentence)
    : std::runtime_error(sentence), kind_(kind), label_(std::move(label)) {}

BookmarkError BookmarkError::notGranted(std::string label) {
    std::string sentence = "No granted access for volume \"" + toDisplayUtf8(std::string_view(label)) + "\" \u2014 grant it first.";
    return BookmarkError(Kind::notGranted, std::move(label), sentence);
}

}  // namespace tessaline
