#include "Tessaline/Bookmarks/BookmarkStoreFile.hpp"

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/Base64.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Support/RenameAside.hpp"

#include <cerrno>

namespace tessaline {

BookmarkFileContents loadBookmarkFile(const std::filesystem::path& file) {
    BookmarkFileContents contents;
    if (file.empty()) return contents;
    std::string text;
    try {
        text = readWholeFile(file);
    } catch (const FileReadError& error) {
        contents.damaged = error.error() != ENOENT;
        return contents;
    }
    nlohmann::json array = nlohmann::json::parse(text, nullptr, false);
    if (array.is_discarded() || !array.is_array()) {
        contents.damaged = true;
        return contents;
    }
    for (const auto& element : array) {
        if (!element.is_object()) {
            contents.damaged = true;
            continue;
        }
        auto label = element.find("label");
        auto bookmark = element.find("bookmark");
        std::optional<std::string> data;
        if (label != element.end() && label->is_string() && bookmark != element.end() && bookmark->is_string())
            data = base64Decoded(bookmark->get<std::string>());
        if (!data) {
            contents.damaged = true;
            continue;
        }
        contents.entries.push_back(BookmarkEntry{label->get<std::string>(), std::move(*data)});
    }
    return contents;
}

void saveBookmarkFile(const std::filesystem::path& file, const std::vector<BookmarkEntry>& entries, bool damaged) {
    if (file.empty()) throw FileWriteError("bookmarks.json", ENOENT);
    createFolders(file.parent_path(), 0700);
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const BookmarkEntry& entry : entries) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        object["label"] = entry.label;
        object["bookmark"] = base64Encoded(entry.bookmark);
        array.push_back(std::move(object));
    }
    // In compact JSON a "/" can only stand inside a string, where "\/" means the same.
    std::string compact = jsonText(array, -1);
    std::string text;
    text.reserve(compact.size() + compact.size() / 8);
    for (char c : compact) {
        if (c == '/') text += '\\';
        text += c;
    }
    if (damaged) renameAsideUnreadable(file);
    writeFileAtomically(file, text);
}

}  // namespace tessaline
