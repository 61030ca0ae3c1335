#include "Tessaline/Copy/CardChangeCheck.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"

#include <algorithm>

namespace tessaline::CardChangeCheck {

std::vector<std::string> differences(const std::vector<CardFileRecord>& before,
                                     const std::optional<CardFileMount>& beforeMount, CardFileSet& now,
                                     const std::filesystem::path& folder,
                                     const CardFileComparison::Progress& progress) {
    const auto numbering = CardFileComparison::between(beforeMount, now.mount);
    const int all = static_cast<int>(before.size());
    CardFileComparison::Progress counted;
    if (progress) counted = [&](int done, int total) { progress(std::max(0, all - total) + done, all); };
    return CardFileComparison::changedJudgingBytes(folder, before, now.files, numbering, {}, counted);
}

std::vector<std::string> changedSince(const CardFileSet& copied, const std::filesystem::path& folder,
                                      std::string_view placeOnCard, const CardFileComparison::Progress& progress) {
    const int all = static_cast<int>(copied.files.size());
    if (progress) progress(0, all);
    CardFileSet now;
    try {
        now = CardFileSet::read(folder, placeOnCard);
    } catch (const std::exception&) {
        // The card is gone or unreadable: nothing of it can be vouched for.
        std::vector<std::string> all;
        for (const auto& record : copied.files) all.push_back(record.relative);
        return all;
    }
    std::vector<std::string> changed = differences(copied.files, copied.mount, now, folder, progress);
    if (progress) progress(all, all);
    for (const std::string& unreadable : now.unreadableFolders)
        if (!std::binary_search(copied.unreadableFolders.begin(), copied.unreadableFolders.end(), unreadable))
            changed.push_back(unreadable);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

}  // namespace tessaline::CardChangeCheck
