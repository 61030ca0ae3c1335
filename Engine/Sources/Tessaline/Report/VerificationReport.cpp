#include "Tessaline/Report/VerificationReport.hpp"

#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <algorithm>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

using Kind = VerificationReport::Line::Kind;
using Standing = VerificationReport::EraseStanding;

const std::string rule = [] {
    std::string line;
    for (int i = 0; i < 41; ++i) line += "\u2500";
    return line;
}();

std::vector<MatchResult> withStatus(const std::vector<MatchResult>& results, MatchStatus::Kind kind) {
    std::vector<MatchResult> out;
    for (const MatchResult& result : results)
        if (result.status.kind() == kind) out.push_back(result);
    return out;
}

int countOf(const std::vector<MatchResult>& results, MatchStatus::Kind kind) {
    return static_cast<int>(std::count_if(results.begin(), results.end(),
                                          [kind](const MatchResult& r) { return r.status.kind() == kind; }));
}

std::string display(const fs::path& path) { return toDisplayUtf8(path); }

// A line of a label or status word followed by the name or path it shows.
VerificationReport::Line named(const std::string& label, const std::string& rest, Kind kind) {
    return {label + rest, kind, label.size()};
}

std::string displayName(const MatchResult& result) { return toDisplayUtf8(std::string_view(result.primaryName())); }

VerificationReport::Line verdictLine(const Standing& standing) {
    std::string c = std::to_string(standing.count);
    std::string t = std::to_string(standing.total);
    switch (standing.kind) {
    case Standing::Kind::safe:
        return {"\u2713  " + allOf(standing.count, "clip", "clips") +
                    " confirmed on drives. Nothing left on card \u2014 safe to erase.",
                Kind::good};
    case Standing::Kind::hasMissing:
        return {"\u26A0  " + partOf(standing.count, standing.total, "clip", "clips") +
                    (standing.count == 1 ? " is" : " are") +
                    " NOT on your drives yet \u2014 marked \u2717 below. Not safe to erase.",
                Kind::bad};
    case Standing::Kind::hasContentMismatch:
        return {"\u26A0  " + partOf(standing.count, standing.total, "clip", "clips") +
                    (standing.count == 1 ? " has" : " have") +
                    " a same-named but DIFFERENT file on the drive \u2014 check them. Not safe to erase.",
                Kind::warn};
    case Standing::Kind::cardNotFullyRead:
        return {"\u26A0  The card was not fully read \u2014 " + countText(standing.count, "folder", "folders") +
                    " could not be read. Not safe to erase.",
                Kind::bad};
    case Standing::Kind::otherFilesOnlyOnCard:
        return {"\u26A0  " + allOf(standing.total, "clip", "clips") + " confirmed on drives, but " +
                    countText(standing.count, "other file is", "other files are") +
                    " only on the card \u2014 marked \u2717 below. Not safe to erase.",
                Kind::bad};
    case Standing::Kind::noMedia:
        break;
    }
    return {"\u26A0  No media found on the card.", Kind::warn};
}

std::string memberName(const ClipGroup& group, size_t member) {
    return toDisplayUtf8(group.primaryFiles[member].url.filename());
}

// The files of a clip after its first, one line each under the clip's line.
void appendMemberLines(const ClipGroup& group, Kind kind, std::vector<VerificationReport::Line>& lines) {
    for (size_t i = 1; i < group.primaryFiles.size(); ++i)
        lines.push_back(named(std::string(13, ' ') + "+ ", memberName(group, i), kind));
}

// Why a missing clip's files whose search stopped at the run's bound were not proven, one
// line each (named when the clip has several files).
void appendUnreadLines(const ClipGroup& group, const VerificationReport& report,
                       std::vector<VerificationReport::Line>& lines) {
    for (size_t m = 0; m < group.primaryFiles.size(); ++m)
        if (const UnreadCandidates* unread = report.unreadOf(group.primaryFiles[m].url.path()))
            lines.push_back(named(std::string(15, ' '),
                                  (group.primaryFiles.size() > 1 ? memberName(group, m) + ": " : std::string()) +
                                      unread->reasonText(),
                                  Kind::bad));
}

void appendResultLines(const MatchResult& result, const VerificationReport& report,
                       std::vector<VerificationReport::Line>& lines) {
    std::string name = displayName(result);
    const MatchStatus& status = result.status;
    const ClipGroup& group = result.group;
    switch (status.kind()) {
    case MatchStatus::Kind::confirmed:
        lines.push_back(named("  \u2713 synced    ", name + "  \u2192  " + display(status.path()), Kind::good));
        appendMemberLines(group, Kind::good, lines);
        return;
    case MatchStatus::Kind::nameMatchMetadataMismatch:
        lines.push_back(named("  \u2248 check     ",
                              name + "  name matches " + toDisplayUtf8(status.path().filename()) + " but contents differ",
                              Kind::warn));
        appendMemberLines(group, Kind::warn, lines);
        return;
    case MatchStatus::Kind::possibleDuplicate:
        lines.push_back(named("  \u2713 synced \u00D7" + std::to_string(status.locations().size()) + "  ",
                              name + "  (multiple backup copies)", Kind::info));
        appendMemberLines(group, Kind::info, lines);
        return;
    case MatchStatus::Kind::missing:
        break;
    }
    auto date = group.captureDate();
    std::string line = name + "  " + (date ? formatIso8601(*date) : std::string("no date")) + "  " +
                       formatFileSize(group.totalByteSize());
    if (result.membersProven.empty()) {
        lines.push_back(named("  \u2717 MISSING   ", line, Kind::bad));
        appendMemberLines(group, Kind::bad, lines);
        appendUnreadLines(group, report, lines);
        return;
    }
    // Some members are proven: the ones without a proven copy first, named, then the others.
    const std::vector<size_t> unproven = result.unprovenMembers();
    line += "  \u2014 " + partOf(static_cast<int64_t>(unproven.size()), static_cast<int64_t>(group.primaryFiles.size()),
                                 "file", "files") +
            (unproven.size() == 1 ? " has" : " have") + " no proven copy";
    lines.push_back(named("  \u2717 MISSING   ", line, Kind::bad));
    for (size_t m : unproven)
        lines.push_back(named(std::string(13, ' ') + "\u2717 ", memberName(group, m) + "  no proven copy", Kind::bad));
    for (size_t m = 0; m < group.primaryFiles.size(); ++m)
        if (result.memberProven(m)) lines.push_back(named(std::string(13, ' ') + "\u2713 ", memberName(group, m), Kind::good));
    appendUnreadLines(group, report, lines);
}

void appendOtherFileLine(const OtherFile& file, const std::string& name, const VerificationReport& report,
                         std::vector<VerificationReport::Line>& lines) {
    if (file.provenAt) {
        lines.push_back(named("  \u2713 synced    ", name + "  \u2192  " + display(*file.provenAt), Kind::good));
        return;
    }
    lines.push_back(named("  \u2717 ONLY CARD ",
                          name + "  " + formatFileSize(file.byteSize), Kind::bad));
    if (const UnreadCandidates* unread = report.unreadOf(file.url))
        lines.push_back(named(std::string(15, ' '), unread->reasonText(), Kind::bad));
}

}  // namespace

VerificationReport::VerificationReport(fs::path cardPath, std::vector<fs::path> drivePaths, EpochSeconds generatedAt,
                                       std::vector<MatchResult> results, std::optional<VolumeIdentity> cardVolumeIdentity,
                                       std::vector<fs::path> unreadableCardFolders, std::vector<OtherFile> otherFiles,
                                       std::optional<std::vector<CardFileRecord>> cardFiles,
                                       std::optional<CardFileMount> cardFilesMount,
                                       std::vector<UncountedCopy> uncountedCopies,
                                       std::vector<UnreadCandidates> unreadCandidates)
    : cardPath(std::move(cardPath)),
      drivePaths(std::move(drivePaths)),
      generatedAt(generatedAt),
      results(std::move(results)),
      cardVolumeIdentity(std::move(cardVolumeIdentity)),
      unreadableCardFolders(std::move(unreadableCardFolders)),
      otherFiles(std::move(otherFiles)),
      cardFiles(std::move(cardFiles)),
      cardFilesMount(cardFilesMount),
      uncountedCopies(std::move(uncountedCopies)),
      unreadCandidates(std::move(unreadCandidates)) {
    if (!this->cardVolumeIdentity) this->cardVolumeIdentity = VolumeIdentity::read(this->cardPath);
}

const UnreadCandidates* VerificationReport::unreadOf(const fs::path& file) const {
    auto it = std::lower_bound(unreadCandidates.begin(), unreadCandidates.end(), file.native(),
                               [](const UnreadCandidates& u, const std::string& p) { return u.cardFile.native() < p; });
    return it != unreadCandidates.end() && it->cardFile == file ? &*it : nullptr;
}

std::vector<MatchResult> VerificationReport::confirmed() const { return withStatus(results, MatchStatus::Kind::confirmed); }
std::vector<MatchResult> VerificationReport::missing() const { return withStatus(results, MatchStatus::Kind::missing); }
std::vector<MatchResult> VerificationReport::duplicates() const {
    return withStatus(results, MatchStatus::Kind::possibleDuplicate);
}
std::vector<MatchResult> VerificationReport::nameMismatches() const {
    return withStatus(results, MatchStatus::Kind::nameMatchMetadataMismatch);
}
std::vector<MatchResult> VerificationReport::alphabeticalResults() const { return alphabetical(results); }

std::string VerificationReport::placeOnCard(const fs::path& file) const {
    const std::string root = withoutTrailingSlash(cardPath.native()) + "/";
    const std::string& path = file.native();
    if (path.size() > root.size() && path.compare(0, root.size(), root) == 0)
        return toDisplayUtf8(std::string_view(path).substr(root.size()));
    return display(file);
}

std::vector<OtherFile> VerificationReport::otherFilesOnlyOnCard() const {
    std::vector<OtherFile> out;
    for (const OtherFile& file : otherFiles)
        if (file.isOnlyOnCard()) out.push_back(file);
    return out;
}

int VerificationReport::otherFilesConfirmedCount() const {
    return static_cast<int>(
        std::count_if(otherFiles.begin(), otherFiles.end(), [](const OtherFile& f) { return !f.isOnlyOnCard(); }));
}

VerificationReport::EraseStanding VerificationReport::eraseStanding() const {
    int total = static_cast<int>(results.size());
    if (int missing = countOf(results, MatchStatus::Kind::missing)) return {Standing::Kind::hasMissing, missing, total};
    if (int mismatches = countOf(results, MatchStatus::Kind::nameMatchMetadataMismatch))
        return {Standing::Kind::hasContentMismatch, mismatches, total};
    if (!unreadableCardFolders.empty())
        return {Standing::Kind::cardNotFullyRead, static_cast<int>(unreadableCardFolders.size()), total};
    if (results.empty()) return {Standing::Kind::noMedia, 0, 0};
    if (int onlyOnCard = static_cast<int>(otherFiles.size()) - otherFilesConfirmedCount())
        return {Standing::Kind::otherFilesOnlyOnCard, onlyOnCard, total};
    return {Standing::Kind::safe, total, total};
}

std::vector<VerificationReport::Line> VerificationReport::summaryLines() const {
    std::vector<Line> lines;
    lines.push_back({"Brindlecove \u2014 Card Verification Report", Kind::plain});
    lines.push_back({"Generated : " + formatIso8601(generatedAt), Kind::plain});
    lines.push_back(named("Card      : ", display(cardPath), Kind::plain));
    for (size_t i = 0; i < drivePaths.size(); ++i)
        lines.push_back(named("Drive " + std::to_string(i + 1) + "   : ", display(drivePaths[i]), Kind::plain));
    lines.push_back({"", Kind::plain});
    lines.push_back({rule, Kind::plain});
    const Standing standing = eraseStanding();
    lines.push_back(verdictLine(standing));
    for (const fs::path& folder : unreadableCardFolders)
        lines.push_back(named("  \u2717 UNREADABLE  ", display(folder), Kind::bad));
    const int otherConfirmed = otherFilesConfirmedCount();
    const int otherOnlyOnCard = static_cast<int>(otherFiles.size()) - otherConfirmed;
    if (otherOnlyOnCard > 0 && standing.kind != Standing::Kind::otherFilesOnlyOnCard)
        lines.push_back({"\u26A0  " + std::to_string(otherOnlyOnCard) +
                             (otherOnlyOnCard == 1 ? " other file is" : " other files are") +
                             " only on the card too \u2014 marked \u2717 below.",
                         Kind::bad});
    if (!unreadCandidates.empty())
        lines.push_back({"\u26A0  " + countText(static_cast<int64_t>(unreadCandidates.size()), "card file was", "card files were") +
                             " not looked for among every drive file of " +
                             (unreadCandidates.size() == 1 ? "its" : "their") +
                             " kind. To prove " + (unreadCandidates.size() == 1 ? "it" : "them") +
                             ", copy the card with Brindlecove, or grant just the drive folder that holds " +
                             (unreadCandidates.size() == 1 ? "its copy" : "their copies") + " and scan again.",
                         Kind::bad});
    lines.push_back({"", Kind::plain});
    lines.push_back({"Files (A\u2013Z) \u2014 \u2713 synced \u00B7 \u2717 still only on the card", Kind::plain});
    lines.push_back({"", Kind::plain});
    for (const MatchResult& result : alphabeticalResults()) appendResultLines(result, *this, lines);
    if (!otherFiles.empty()) {
        lines.push_back({"", Kind::plain});
        lines.push_back({"Other files (not clips) \u2014 \u2713 synced \u00B7 \u2717 only on the card", Kind::plain});
        lines.push_back({"", Kind::plain});
        for (const OtherFile& file : otherFiles) appendOtherFileLine(file, placeOnCard(file.url), *this, lines);
    }
    if (!uncountedCopies.empty()) {
        lines.push_back({"", Kind::plain});
        lines.push_back({"Not counted as backups — drive files that can't prove the card", Kind::plain});
        lines.push_back({"", Kind::plain});
        for (const UncountedCopy& copy : uncountedCopies)
            lines.push_back({"  ✗ not counted  " + display(copy.path) + "  — " +
                                 ProofGround::reasonText(copy.doubt),
                             Kind::warn});
    }
    lines.push_back({"", Kind::plain});
    lines.push_back({rule, Kind::plain});
    lines.push_back({"Confirmed     : " + std::to_string(countOf(results, MatchStatus::Kind::confirmed)), Kind::plain});
    lines.push_back({"Missing       : " + std::to_string(countOf(results, MatchStatus::Kind::missing)), Kind::plain});
    lines.push_back({"Duplicates    : " + std::to_string(countOf(results, MatchStatus::Kind::possibleDuplicate)), Kind::plain});
    lines.push_back(
        {"Name-mismatch : " + std::to_string(countOf(results, MatchStatus::Kind::nameMatchMetadataMismatch)), Kind::plain});
    if (!otherFiles.empty())
        lines.push_back({"Other files   : " + std::to_string(otherConfirmed) + " confirmed \u00B7 " +
                             std::to_string(otherOnlyOnCard) + " only on the card",
                         Kind::plain});
    for (Line& line : lines) line.text = singleLineText(line.text);
    return lines;
}

std::string VerificationReport::summary() const {
    std::string text;
    bool first = true;
    for (const Line& line : summaryLines()) {
        if (!first) text.push_back('\n');
        first = false;
        text += line.text;
    }
    return text;
}

}  // namespace tessaline
