#include "BrindlecoveApp/Platform/FolderBookmark.hpp"

#include "Tessaline/Bookmarks/Bookmark.hpp"

#include <string_view>
#include <system_error>

namespace brindlecove::FolderBookmark {

std::optional<QByteArray> make(const std::filesystem::path& folder, bool scoped) {
    try {
        return QByteArray::fromStdString(tessaline::Bookmark::create(folder, scoped).data());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Resolved> resolve(const QByteArray& data, bool scoped) {
    try {
        std::optional<tessaline::Bookmark> bookmark =
            tessaline::Bookmark::fromData(std::string_view(data.constData(), static_cast<size_t>(data.size())));
        if (!bookmark) return std::nullopt;
        std::optional<tessaline::BookmarkResolution> resolution = bookmark->resolve(scoped);
        if (!resolution) return std::nullopt;
        return Resolved{resolution->url, resolution->isStale};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool startAccess(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_directory(folder, error);
}

}  // namespace brindlecove::FolderBookmark
