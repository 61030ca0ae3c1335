#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/Scanner/FileTreeWalker.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>

#include <algorithm>

namespace tessaline {

namespace {

int64_t nanoseconds(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + static_cast<int64_t>(time.tv_nsec);
}

// The top-level item a relative path lies in.
std::string_view topLevelOf(std::string_view relative) { return relative.substr(0, relative.find('/')); }

bool isSpared(std::string_view relative) {
    const auto& spared = CardPrepEngine::systemItems();
    return std::find(spared.begin(), spared.end(), topLevelOf(relative)) != spared.end();
}

}  // namespace

bool CardFileSet::isLitter(std::string_view name) {
    if (name.size() > 2 && name.substr(0, 2) == "._") return true;
    const std::string lower = asciiLowercased(name);
    return lower == ".ds_store" || lower == "thumbs.db" || lower == "desktop.ini";
}

bool CardFileSet::isLitter(int /*folderFd*/, std::string_view name, const struct stat& status) {
    return S_ISREG(status.st_mode) && isLitter(name);
}

CardFileRecord CardFileSet::recordOf(std::string relative, const struct stat& status) {
    return {std::move(relative), static_cast<int64_t>(status.st_size), nanoseconds(status.st_mtim),
            nanoseconds(status.st_ctim)};
}

CardFileSet CardFileSet::read(const std::filesystem::path& card) {
    CardFileSet set;
    const auto unreadable = FileTreeWalker::walk(card, {}, [&](const FileTreeWalker::File& file) {
        ++set.allFileCount;
        set.allBytes += static_cast<int64_t>(file.status.st_size);
        if (!isSpared(file.relative)) {
            ++set.erasedFileCount;
            set.erasedBytes += static_cast<int64_t>(file.status.st_size);
        }
        if (isLitter(file.name) || isSpared(file.relative)) return;
        set.files.push_back(recordOf(std::string(file.relative), file.status));
    });
    for (const std::string& folder : unreadable)
        if (!isSpared(folder)) set.unreadableFolders.push_back(folder);
    std::sort(set.files.begin(), set.files.end(),
              [](const CardFileRecord& a, const CardFileRecord& b) { return a.relative < b.relative; });
    std::sort(set.unreadableFolders.begin(), set.unreadableFolders.end());
    return set;
}

std::vector<std::string> CardFileSet::changedSince(const std::filesystem::path& card,
                                                  const std::vector<CardFileRecord>& records) {
    std::vector<std::string> changed;
    UniqueFd root(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const CardFileRecord& record : records) {
        struct stat st {};
        if (!root || ::fstatat(root.get(), record.relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || !(recordOf(record.relative, st) == record))
            changed.push_back(record.relative);
    }
    return changed;
}

std::vector<std::string> CardFileSet::differences(const std::vector<CardFileRecord>& before,
                                                  const std::vector<CardFileRecord>& now) {
    std::vector<std::string> changed;
    auto a = before.begin(), b = now.begin();
    while (a != before.end() || b != now.end()) {
        if (b == now.end() || (a != before.end() && a->relative < b->relative)) {
            changed.push_back((a++)->relative);
        } else if (a == before.end() || b->relative < a->relative) {
            changed.push_back((b++)->relative);
        } else {
            if (!(*a == *b)) changed.push_back(a->relative);
            ++a;
            ++b;
        }
    }
    return changed;
}

}  // namespace tessaline
