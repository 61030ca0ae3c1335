#include "Tessaline/Matcher/UncountedCopy.hpp"

#include <algorithm>

namespace tessaline {

void UncountedCopy::tidy(std::vector<UncountedCopy>& copies) {
    std::sort(copies.begin(), copies.end(),
              [](const UncountedCopy& a, const UncountedCopy& b) { return a.path.native() < b.path.native(); });
    copies.erase(std::unique(copies.begin(), copies.end(),
                             [](const UncountedCopy& a, const UncountedCopy& b) { return a.path == b.path; }),
                 copies.end());
}

}  // namespace tessaline
