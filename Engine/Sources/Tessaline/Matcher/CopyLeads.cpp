#include "Tessaline/Matcher/CopyLeads.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The coarsest file-system times (FAT's) are 2 s apart; a copy keeps the card file's time at
// best to that.
constexpr double timeGranularity = 2.0;
// Zone offsets reach 14 hours: a FAT or exFAT time written in one zone and read in another
// moves by a whole number of hours up to that.
constexpr int maxZoneShiftHours = 14;

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

}  // namespace

CopyLeads::CopyLeads(const std::optional<fs::path>& cardRoot) {
    if (!cardRoot) return;
    prefixes_.push_back(withSlash(withoutTrailingSlash(normalizedPath(*cardRoot).native())));
    char buffer[PATH_MAX];
    if (::realpath(cardRoot->c_str(), buffer)) {
        std::string real = withSlash(buffer);
        if (real != prefixes_.front()) prefixes_.push_back(std::move(real));
    }
}

CopyLeads::Place CopyLeads::placeOf(std::string_view cardFile) const {
    Place place;
    std::string_view relative;
    for (const std::string& prefix : prefixes_)
        if (cardFile.size() > prefix.size() && cardFile.substr(0, prefix.size()) == prefix) {
            relative = cardFile.substr(prefix.size());
            place.onCard = true;
            break;
        }
    if (!place.onCard) {
        const size_t slash = cardFile.rfind('/');
        relative = slash == std::string_view::npos ? cardFile : cardFile.substr(slash + 1);
    }
    for (size_t start = 0; start < relative.size();) {
        size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        if (end > start) {
            place.parts.push_back(asciiLowercased(relative.substr(start, end - start)));
            if (!place.joined.empty()) place.joined.push_back('/');
            place.joined += place.parts.back();
        }
        start = end + 1;
    }
    return place;
}

bool CopyLeads::noteProven(const Place& place, std::string_view drive) {
    if (!place.onCard || place.joined.empty() || drive.size() <= place.joined.size()) return false;
    const size_t cut = drive.size() - place.joined.size();
    if (drive[cut - 1] != '/' || asciiLowercased(drive.substr(cut)) != place.joined) return false;
    std::string root(drive.substr(0, cut));
    auto it = std::find_if(roots_.begin(), roots_.end(), [&](const Root& r) { return r.text == root; });
    const bool added = it == roots_.end();
    if (added) {
        std::string lower = asciiLowercased(root);
        roots_.push_back({std::move(root), std::move(lower), 0});
        it = roots_.end() - 1;
    }
    ++it->proven;
    // Kept in rank order: a root moves up past those with fewer proofs only.
    while (it != roots_.begin() && (it - 1)->proven < it->proven) {
        std::iter_swap(it, it - 1);
        --it;
    }
    return added;
}

void CopyLeads::addRoots(const std::vector<std::string>& roots) {
    for (const std::string& root : roots)
        if (std::none_of(roots_.begin(), roots_.end(), [&](const Root& r) { return r.text == root; }))
            roots_.push_back({withSlash(root), asciiLowercased(withSlash(root)), 0});
}

std::vector<std::string> CopyLeads::roots() const {
    std::vector<std::string> texts;
    for (const Root& root : roots_) texts.push_back(root.text);
    return texts;
}

size_t CopyLeads::rootOf(const Place& place, std::string_view lowerDrive) const {
    if (!place.onCard) return roots_.size();
    for (size_t r = 0; r < roots_.size(); ++r) {
        const std::string& root = roots_[r].lower;
        if (lowerDrive.size() == root.size() + place.joined.size() && lowerDrive.starts_with(root) &&
            lowerDrive.ends_with(place.joined))
            return r;
    }
    return roots_.size();
}

bool CopyLeads::isUnderRoot(std::string_view lowerDrive) const {
    return std::any_of(roots_.begin(), roots_.end(), [&](const Root& r) { return lowerDrive.starts_with(r.lower); });
}

size_t CopyLeads::sharedTail(const Place& place, std::string_view lowerDrive) {
    size_t shared = 0;
    size_t end = lowerDrive.size();
    while (shared < place.parts.size() && end > 0) {
        const size_t slash = lowerDrive.rfind('/', end - 1);
        const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
        if (lowerDrive.substr(start, end - start) != place.parts[place.parts.size() - 1 - shared]) break;
        ++shared;
        if (slash == std::string_view::npos) break;
        end = slash;
    }
    return shared;
}

int CopyLeads::timeDoubt(double card, double copy) {
    const double before = card - copy;
    if (!(before > timeGranularity)) return 0;  // not before it, or a time that is no number
    const double hours = std::round(before / 3600);
    if (hours >= 1 && hours <= maxZoneShiftHours && std::fabs(before - hours * 3600) <= timeGranularity) return 1;
    return 2;
}

CopyLeads::Rank CopyLeads::rank(const Place& place, std::optional<double> card, std::string_view lowerDrive,
                                const std::function<std::optional<double>()>& copyModified) const {
    Rank rank{rootOf(place, lowerDrive), place.parts.size() - sharedTail(place, lowerDrive), 0};
    if (card) {
        const std::optional<double> copy = copyModified();
        rank.doubt = copy ? timeDoubt(*card, *copy) : 2;
    }
    return rank;
}

std::optional<double> CopyLeads::modified(const char* path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return std::nullopt;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) * 1e-9;
}

}  // namespace tessaline
