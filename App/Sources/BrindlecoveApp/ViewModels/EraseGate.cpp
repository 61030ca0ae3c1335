#include "BrindlecoveApp/ViewModels/EraseGate.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>

namespace brindlecove::EraseGate {

namespace fs = std::filesystem;

fs::path standardised(const fs::path& folder) { return tessaline::normalizedPath(folder); }

namespace {

// `file` relative to `root` (both standardised), or nullopt when it does not lie below it.
std::optional<std::string> relativeTo(const fs::path& file, const fs::path& root) {
    const fs::path normal = standardised(file);
    if (!tessaline::isSameOrBelow(normal, root) || normal == root) return std::nullopt;
    return normal.lexically_relative(root).string();
}

}  // namespace

std::vector<std::string> unvouchedFiles(const tessaline::VerificationReport& report, const CardFiles& files) {
    std::vector<std::string> unvouched;
    if (files.empty()) return unvouched;
    const fs::path root = standardised(report.cardPath);
    std::map<std::string, std::optional<int64_t>> scanned;  // no size: any size (a clip's sidecar)
    for (const auto& result : report.results) {
        for (const auto& primary : result.group.primaryFiles)
            if (auto relative = relativeTo(primary.url, root)) scanned.emplace(*relative, primary.byteSize);
        for (const auto& sidecar : result.group.sidecars)
            if (auto relative = relativeTo(sidecar, root)) scanned.emplace(*relative, std::nullopt);
    }
    // An other file's size (a backed-up clip's sidecar is one too) replaces "any size".
    for (const auto& other : report.otherFiles)
        if (auto relative = relativeTo(other.url, root)) scanned[*relative] = other.byteSize;
    for (const auto& file : files) {
        auto found = scanned.find(file.relative);
        if (found == scanned.end() || (found->second && *found->second != file.byteSize))
            unvouched.push_back(file.relative);
    }
    return unvouched;
}

namespace {

// What inode numbers tell between the report's records and a walk through `filesMount`.
tessaline::CardFileComparison::Numbering numbering(const tessaline::VerificationReport& report,
                                                   const std::optional<tessaline::CardFileMount>& filesMount) {
    return tessaline::CardFileComparison::between(report.cardFilesMount, filesMount);
}

// The report's records against the walk: a renumbered file not read again yet counts as
// changed (nothing vouches for it), in path order.
std::vector<std::string> differingFiles(const tessaline::VerificationReport& report, const CardFiles& files,
                                        const std::optional<tessaline::CardFileMount>& filesMount) {
    auto differences = tessaline::CardFileComparison::compare(*report.cardFiles, files, numbering(report, filesMount));
    std::vector<std::string> changed = std::move(differences.changed);
    changed.insert(changed.end(), differences.renumbered.begin(), differences.renumbered.end());
    std::sort(changed.begin(), changed.end());
    return changed;
}

}  // namespace

std::vector<std::string> CardChanges::all() const {
    std::vector<std::string> paths = added;
    paths.insert(paths.end(), removed.begin(), removed.end());
    paths.insert(paths.end(), changed.begin(), changed.end());
    std::sort(paths.begin(), paths.end());
    return paths;
}

namespace {

// Sorted relative paths of records.
std::vector<std::string> pathsOf(const CardFiles& files) {
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const auto& file : files) paths.push_back(file.relative);
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool contains(const std::vector<std::string>& sorted, const std::string& path) {
    return std::binary_search(sorted.begin(), sorted.end(), path);
}

}  // namespace

std::optional<CardChanges> changesSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                                            const std::optional<tessaline::CardFileMount>& filesMount) {
    if (!report.cardFiles) return std::nullopt;
    std::vector<std::string> differing = differingFiles(report, files, filesMount);
    std::vector<std::string> unvouched = unvouchedFiles(report, files);
    differing.insert(differing.end(), unvouched.begin(), unvouched.end());
    std::sort(differing.begin(), differing.end());
    differing.erase(std::unique(differing.begin(), differing.end()), differing.end());
    const std::vector<std::string> recorded = pathsOf(*report.cardFiles);
    const std::vector<std::string> present = pathsOf(files);
    CardChanges changes;
    for (auto& path : differing) {
        const bool wasThere = contains(recorded, path), isThere = contains(present, path);
        (isThere && !wasThere ? changes.added : wasThere && !isThere ? changes.removed : changes.changed)
            .push_back(std::move(path));
    }
    return changes;
}

std::vector<std::string> renumberedSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                                             const std::optional<tessaline::CardFileMount>& filesMount) {
    if (!report.cardFiles) return {};
    return tessaline::CardFileComparison::compare(*report.cardFiles, files, numbering(report, filesMount)).renumbered;
}

CardChanges addedSinceScan(const tessaline::VerificationReport& report, const CardFiles& files,
                           const std::optional<tessaline::CardFileMount>& filesMount) {
    CardChanges changes;
    if (!report.cardFiles) {
        changes.added = pathsOf(files);
        return changes;
    }
    // Files the report recorded that are gone now are the erase's doing; every file present
    // that is not as recorded is an addition or a change since.
    const std::vector<std::string> recorded = pathsOf(*report.cardFiles);
    const std::vector<std::string> present = pathsOf(files);
    for (auto& path : differingFiles(report, files, filesMount)) {
        if (!contains(present, path)) continue;
        (contains(recorded, path) ? changes.changed : changes.added).push_back(std::move(path));
    }
    return changes;
}

int selfProvenClips(const tessaline::VerificationReport& report, const fs::path& cardRoot, const OnCardTest& onCard) {
    using Kind = tessaline::MatchStatus::Kind;
    const fs::path root = standardised(cardRoot);
    int count = 0;
    for (const auto& result : report.results) {
        const Kind kind = result.status.kind();
        if (kind != Kind::confirmed && kind != Kind::possibleDuplicate) continue;
        bool provenElsewhere = false;
        for (const auto& location : result.status.locations()) {
            if (tessaline::isSameOrBelow(standardised(location), root)) continue;
            if (onCard && onCard(location)) continue;
            provenElsewhere = true;
            break;
        }
        if (!provenElsewhere) ++count;
    }
    return count;
}

std::vector<std::string> otherFilesOnlyOnCard(const tessaline::VerificationReport& report, const fs::path& cardRoot,
                                              const OnCardTest& onCard) {
    const fs::path root = standardised(cardRoot);
    std::vector<std::string> names;
    for (const auto& other : report.otherFiles) {
        const bool elsewhere = other.provenAt && !tessaline::isSameOrBelow(standardised(*other.provenAt), root) &&
                               !(onCard && onCard(*other.provenAt));
        if (!elsewhere) names.push_back(tessaline::lastComponent(other.url));
    }
    return names;
}

namespace {

// The first few names of a list, for the texts that name files.
std::vector<std::string> firstNames(const std::vector<std::string>& names) {
    const size_t shown = std::min<size_t>(names.size(), VerificationStanding::firstNamesShown);
    std::vector<std::string> first(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(shown));
    for (auto& name : first) name = tessaline::singleLineText(name);
    return first;
}

NamedFiles namedFiles(const std::vector<std::string>& relatives) {
    std::vector<std::string> names;
    for (const auto& relative : relatives) names.push_back(tessaline::lastComponent(relative));
    return {static_cast<int>(relatives.size()), firstNames(names)};
}

// "Changed since the scan", naming the first few of the files (relative paths) of each kind.
VerificationStanding changedStanding(const CardChanges& changes) {
    VerificationStanding standing{VerificationStanding::Kind::changedSinceScan, 0};
    standing.changes = named(changes);
    standing.files = standing.changes.total();
    standing.fileNames = namedFiles(changes.all()).firstNames;
    return standing;
}

// The standing of a card whose report an erase was started on: erased, or changed since when
// files were added after the erase or the card could not be read completely.
VerificationStanding erasedStanding(const tessaline::VerificationReport& report, const Inputs& in) {
    using Kind = VerificationStanding::Kind;
    if (in.filesUnreadable) return {Kind::changedSinceScan, 0};
    if (!in.files) return {Kind::erasedSinceScan, 0};
    const CardChanges added = addedSinceScan(report, *in.files, in.filesMount);
    if (added.none()) return {Kind::erasedSinceScan, 0};
    return changedStanding(added);
}

}  // namespace

FileChanges named(const CardChanges& changes) {
    return {namedFiles(changes.added), namedFiles(changes.removed), namedFiles(changes.changed)};
}

VerificationStanding standing(const Inputs& in) {
    using Kind = VerificationStanding::Kind;
    using Report = tessaline::VerificationReport;
    if (!in.card) return {Kind::notVerified, 0};
    if (!in.cardMounted) return {Kind::notInserted, 0};
    if (!in.pickedMount) return {Kind::remounted, 0};
    if (!in.report) return {Kind::notVerified, 0};
    const Report& report = *in.report;
    if (standardised(report.cardPath) != standardised(*in.card)) return {Kind::notVerified, 0};
    if (!report.cardVolumeIdentity || !in.identityNow) return {Kind::differentCard, 0};
    if (!report.cardVolumeIdentity->matches(*in.identityNow)) return {Kind::differentCard, 0};
    if (in.erasedSinceScan) return erasedStanding(report, in);

    const Report::EraseStanding verdict = report.eraseStanding();
    VerificationStanding result;
    switch (verdict.kind) {
        case Report::EraseStanding::Kind::safe: result = {Kind::safe, verdict.count}; break;
        case Report::EraseStanding::Kind::hasMissing: result = {Kind::missing, verdict.count}; break;
        case Report::EraseStanding::Kind::hasContentMismatch: result = {Kind::mismatch, verdict.count}; break;
        case Report::EraseStanding::Kind::cardNotFullyRead: result = {Kind::notFullyRead, verdict.count}; break;
        case Report::EraseStanding::Kind::otherFilesOnlyOnCard: result = {Kind::otherFilesOnlyOnCard, verdict.count}; break;
        // No clips: nothing vouches for the card, but what exists only on it is named below.
        case Report::EraseStanding::Kind::noMedia: result = {Kind::notVerified, 0}; break;
    }
    if (const int selfProven = in.selfProven ? in.selfProven() : 0; selfProven > 0) {
        const int alreadyMissing = result.kind == Kind::missing ? result.count : 0;
        result = {Kind::missing, alreadyMissing + selfProven};
    }
    const std::vector<std::string> onlyOnCard =
        in.otherFilesOnlyOnCard ? in.otherFilesOnlyOnCard() : otherFilesOnlyOnCard(report, *in.card, {});
    if (!onlyOnCard.empty()) {
        if (result.kind == Kind::safe || result.kind == Kind::otherFilesOnlyOnCard || result.kind == Kind::notVerified)
            result = {Kind::otherFilesOnlyOnCard, static_cast<int>(onlyOnCard.size())};
        result.files = static_cast<int>(onlyOnCard.size());
        result.fileNames = firstNames(onlyOnCard);
    }
    if (result.kind == Kind::safe || result.kind == Kind::mismatch) {
        if (!report.cardFiles) {
            if (result.kind == Kind::safe) return {Kind::changedSinceScan, 0};
            return result;
        }
        CardChanges changes;
        if (in.files) changes = *changesSinceScan(report, *in.files, in.filesMount);
        if (!changes.none() || in.filesUnreadable) return changedStanding(changes);
    }
    return result;
}

}  // namespace brindlecove::EraseGate
