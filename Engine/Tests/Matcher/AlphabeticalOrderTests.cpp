// The A–Z order of a report against a plain stable sort by lower-cased name, then path.

#include "Tessaline/Matcher/MatchResult.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace tessaline;

namespace {

MatchResult clipAt(const std::string& path) {
    MatchResult result;
    if (!path.empty()) result.group.primaryFiles.push_back(Fingerprint{.url = path, .byteSize = 1});
    return result;
}

std::vector<size_t> referenceOrder(const std::vector<MatchResult>& results) {
    std::vector<size_t> order(results.size());
    std::iota(order.begin(), order.end(), size_t{0});
    auto path = [&](size_t i) {
        const auto& files = results[i].group.primaryFiles;
        return files.empty() ? std::string() : files.front().url.native();
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        std::string na = lowercased(results[a].primaryName()), nb = lowercased(results[b].primaryName());
        if (na != nb) return na < nb;
        return path(a) < path(b);
    });
    return order;
}

}  // namespace

TEST(AlphabeticalOrder, EqualsTheStableSortByNameThenPath) {
    // Names sharing long prefixes, case twins, non-ASCII names, bytes above 0x7F, clips
    // without files, and exact duplicates (which keep their order).
    const std::vector<std::string> stems{"C0001",     "c0001",      "C000123456", "C000123455", "A",  "a",
                                         "Ärger",     "ärger",      "zebra",      "Z",          "IMG_0001_long_name",
                                         "IMG_0001_", "\xff\xfe",  "\xc3\x28"};
    const std::vector<std::string> folders{"/card/A", "/card/B", "/card/A/sub", "/other"};
    std::mt19937 random(7);
    std::vector<MatchResult> results;
    for (int i = 0; i < 600; ++i) {
        if (i % 97 == 0) {
            results.push_back(clipAt(""));
            continue;
        }
        const std::string& stem = stems[random() % stems.size()];
        const std::string& folder = folders[random() % folders.size()];
        results.push_back(clipAt(folder + "/" + stem + (random() % 2 ? ".MOV" : ".mov")));
    }
    EXPECT_EQ(alphabeticalOrder(results), referenceOrder(results));
    auto sorted = alphabetical(results);
    auto order = alphabeticalOrder(results);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(sorted[i].primaryName(), results[order[i]].primaryName());
}
