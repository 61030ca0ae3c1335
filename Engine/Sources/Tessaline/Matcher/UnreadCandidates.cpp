#include "Tessaline/Matcher/UnreadCandidates.hpp"

#include "Tessaline/Support/NumberText.hpp"

#include <algorithm>

namespace tessaline {

std::string UnreadCandidates::reasonText() const {
    return "not found under its name or near its time; " + groupedText(count) +
           (count == 1 ? " file of its kind on the drives was not read" : " files of its kind on the drives were not read");
}

void UnreadCandidates::tidy(std::vector<UnreadCandidates>& list) {
    std::stable_sort(list.begin(), list.end(), [](const UnreadCandidates& a, const UnreadCandidates& b) {
        return a.cardFile.native() < b.cardFile.native();
    });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const UnreadCandidates& a, const UnreadCandidates& b) { return a.cardFile == b.cardFile; }),
               list.end());
}

}  // namespace tessaline
