#include "Tessaline/Matcher/MatchResult.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <string_view>

namespace tessaline {

std::string MatchResult::primaryName() const {
    return group.primaryFiles.empty() ? std::string("?") : lastComponent(group.primaryFiles.front().url);
}

bool MatchResult::memberProven(size_t member) const {
    switch (status.kind()) {
    case MatchStatus::Kind::confirmed:
    case MatchStatus::Kind::possibleDuplicate: return member < group.primaryFiles.size();
    case MatchStatus::Kind::nameMatchMetadataMismatch: return false;
    case MatchStatus::Kind::missing: break;
    }
    return member < membersProven.size() && membersProven[member];
}

std::vector<size_t> MatchResult::unprovenMembers() const {
    std::vector<size_t> out;
    for (size_t m = 0; m < group.primaryFiles.size(); ++m)
        if (!memberProven(m)) out.push_back(m);
    return out;
}

std::string MatchResult::description() const {
    std::string name = toDisplayUtf8(std::string_view(primaryName()));
    switch (status.kind()) {
    case MatchStatus::Kind::confirmed:
        return "confirmed    " + name + "  \u2192  " + toDisplayUtf8(status.path());
    case MatchStatus::Kind::nameMatchMetadataMismatch:
        return "name-mismatch  " + name + "  \u2248  " + toDisplayUtf8(status.path());
    case MatchStatus::Kind::possibleDuplicate:
        return "duplicate    " + name + "  \u00D7" + std::to_string(status.locations().size()) + " copies";
    case MatchStatus::Kind::missing:
        break;
    }
    return "MISSING      " + name;
}

std::vector<size_t> alphabeticalOrder(const std::vector<MatchResult>& results) {
    struct Key {
        std::string name;
        std::string_view path;
        size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(results.size());
    for (size_t i = 0; i < results.size(); ++i) {
        const ClipGroup& group = results[i].group;
        keys.push_back({lowercased(results[i].primaryName()),
                        group.primaryFiles.empty() ? std::string_view() : std::string_view(group.primaryFiles.front().url.native()),
                        i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.name != b.name) return a.name < b.name;
        return a.path < b.path;
    });
    std::vector<size_t> order;
    order.reserve(keys.size());
    for (const Key& key : keys) order.push_back(key.index);
    return order;
}

std::vector<MatchResult> alphabetical(std::vector<MatchResult> results) {
    std::vector<MatchResult> sorted;
    sorted.reserve(results.size());
    for (size_t index : alphabeticalOrder(results)) sorted.push_back(std::move(results[index]));
    return sorted;
}

}  // namespace tessaline
