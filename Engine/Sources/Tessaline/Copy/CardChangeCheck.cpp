#include "Tessaline/Copy/CardChangeCheck.hpp"

#include <sys/vfs.h>

#include <algorithm>

namespace tessaline::CardChangeCheck {

namespace {

constexpr long msdosMagic = 0x4d44;
constexpr long exfatMagic = 0x2011BAB0;
constexpr long fuseMagic = 0x65735546;

}  // namespace

bool keepsInodeNumbers(const std::filesystem::path& card) {
    struct statfs info {};
    if (::statfs(card.c_str(), &info) != 0) return false;
    const long type = static_cast<long>(info.f_type);
    return type != msdosMagic && type != exfatMagic && type != fuseMagic;
}

std::vector<std::string> differences(const std::vector<CardFileRecord>& before,
                                     const std::optional<CardFileMount>& beforeMount, const CardFileSet& now,
                                     const std::filesystem::path& folder) {
    const bool byInode = keepsInodeNumbers(folder) && CardFileSet::sameMount(beforeMount, now.mount);
    return CardFileSet::differences(before, now.files, byInode);
}

std::vector<std::string> changedSince(const CardFileSet& copied, const std::filesystem::path& folder,
                                      std::string_view placeOnCard) {
    CardFileSet now;
    try {
        now = CardFileSet::read(folder, placeOnCard);
    } catch (const std::exception&) {
        // The card is gone or unreadable: nothing of it can be vouched for.
        std::vector<std::string> all;
        for (const auto& record : copied.files) all.push_back(record.relative);
        return all;
    }
    std::vector<std::string> changed = differences(copied.files, copied.mount, now, folder);
    for (const std::string& unreadable : now.unreadableFolders)
        if (!std::binary_search(copied.unreadableFolders.begin(), copied.unreadableFolders.end(), unreadable))
            changed.push_back(unreadable);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

}  // namespace tessaline::CardChangeCheck
