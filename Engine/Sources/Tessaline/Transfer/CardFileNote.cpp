#include "Tessaline/Transfer/CardFileNote.hpp"

#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>

namespace tessaline {

namespace fs = std::filesystem;

const char* CardFileNote::changedText = "changed on the card during the copy — copy again";
const char* CardFileNote::addedText = "added to the card during the copy — copy again";

std::string CardFileNote::unprovenHeading(const std::vector<CardFileNote>& unproven) {
    const auto count = static_cast<int64_t>(unproven.size());
    const bool onlyOnCard = std::all_of(unproven.begin(), unproven.end(),
                                        [](const CardFileNote& note) { return note.kind == Kind::onlyOnCard; });
    if (onlyOnCard) return "The card still holds " + countText(count, "file", "files") + " found nowhere else";
    return countText(count, "file on the card is", "files on the card are") + " not proven by this copy";
}

bool CardFileNote::scanFindsUnderAnyName(std::string_view relativePath) {
    static const FolderScanner scanner;
    const fs::path path{std::string(relativePath)};
    const std::string name = lastComponent(path);
    for (const auto& part : path.parent_path()) {
        const std::string folder = part.native();
        if (folder.empty() || folder == "/") continue;
        if (folder.front() == '.' || scanner.junkDirectories().count(folder)) return false;
    }
    if (name.empty() || name.front() == '.') return false;
    const std::string extension = asciiLowercased(pathExtension(path));
    if (scanner.junkExtensions().count(extension) || scanner.junkFilenames().count(asciiLowercased(name))) return false;
    return FolderScanner::mediaExtensions().count(extension) > 0;
}

std::vector<CardFileNote> CardFileNote::storedUnderOtherNames(const std::vector<CopyEngine::FileOutcome>& outcomes,
                                                              const fs::path& destination, bool preserveStructure) {
    std::vector<CardFileNote> notes;
    for (const auto& outcome : outcomes) {
        if (!outcome.status.landedSafely()) continue;
        // A scan compares names with ASCII case ignored, so a copy differing only in case
        // still counts as one of the file's own name.
        if (asciiLowercased(lastComponent(outcome.destinationURL)) == asciiLowercased(lastComponent(outcome.sourceURL)))
            continue;
        const std::string storedAs =
            toDisplayUtf8(std::string_view(CopyEngine::relativePath(outcome.destinationURL, destination)));
        CardFileNote note;
        note.relativePath = outcome.relativePath;
        note.storedAs = storedAs;
        if (scanFindsUnderAnyName(outcome.relativePath)) {
            note.kind = Kind::storedUnderOtherName;
            note.reason = "stored as " + storedAs + ", as its name held another file";
        } else {
            note.kind = Kind::storedWhereScanMissesIt;
            note.reason = "stored as " + storedAs +
                          ", as its name held another file; a scan proves this file only under its own name — copy "
                          "into an empty folder" +
                          (preserveStructure ? "" : ", keeping the card's folder structure");
        }
        notes.push_back(std::move(note));
    }
    return notes;
}

}  // namespace tessaline
