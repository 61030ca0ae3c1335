#include "Tessaline/Matcher/UnreadCandidates.hpp"

#include "Tessaline/Support/NumberText.hpp"

#include <algorithm>

namespace tessaline {

std::string UnreadCandidates::reasonText() const {
    if (namedNotRead <= 0)
        return "not found under its name or near its time; " + groupedText(count) +
               (count == 1 ? " file of its kind on the drives was not read" : " files of its kind on the drives were not read");
    std::string text = "under its name: " + groupedText(named) + (named == 1 ? " file" : " files") +
                       " of its name and size, " + groupedText(namedNotRead) + " not read";
    if (const int64_t others = otherCount(); others > 0)
        text += "; " + groupedText(others) +
                (others == 1 ? " other file of its kind on the drives was not read"
                             : " other files of its kind on the drives were not read");
    return text;
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
