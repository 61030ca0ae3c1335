#include "Tessaline/Rescue/RescueCoverage.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Copy/CardChangeCheck.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <algorithm>
#include <map>
#include <set>

namespace tessaline::RescueCoverage {

namespace fs = std::filesystem;

namespace {

constexpr const char* foundOnNoDrive = "found on no drive";

std::string relativeOf(const fs::path& file, const VerificationReport& report) {
    return CopyEngine::relativePath(file, report.cardPath);
}

const CardFileRecord* recordAt(const std::vector<CardFileRecord>& records, const std::string& relative) {
    auto at = std::lower_bound(records.begin(), records.end(), relative,
                               [](const CardFileRecord& record, const std::string& key) { return record.relative < key; });
    return at != records.end() && at->relative == relative ? &*at : nullptr;
}

// Whether `relative` differs from its record only by its inode number (a FAT, exFAT or FUSE
// card renumbers files the kernel forgot) while neither the scan nor the rescue read its
// bytes: such a file is not known to have changed, only not to be proven, and is named with
// the reason the scan left it unproven instead. Size and times still tell a rewrite.
bool onlyRenumberedUnproven(const std::string& relative, const std::vector<CardFileRecord>& before,
                            const std::vector<CardFileRecord>& now, const std::set<std::string>& proven) {
    if (proven.count(relative)) return false;
    const CardFileRecord* was = recordAt(before, relative);
    const CardFileRecord* is = recordAt(now, relative);
    return was && is && was->digest.empty() && was->byteSize == is->byteSize && was->modified == is->modified &&
           was->changed == is->changed;
}

}  // namespace

std::vector<CardFileNote> leftOnCard(const VerificationReport& report, const TransferLog& rescue,
                                     const CardFileComparison::Progress& progress) {
    // What the scan proved, and why it proved the rest not.
    std::set<std::string> proven;
    std::map<std::string, std::string> unprovenReason;
    for (const MatchResult& result : report.results) {
        const auto kind = result.status.kind();
        const bool backedUp = kind == MatchStatus::Kind::confirmed || kind == MatchStatus::Kind::possibleDuplicate;
        std::string reason = foundOnNoDrive;
        if (kind == MatchStatus::Kind::nameMatchMetadataMismatch)
            reason = "Name matches " + toDisplayUtf8(std::string_view(lastComponent(result.status.path()))) +
                     " but contents differ";
        // A missing clip's members with a proven copy (a pair's JPEG beside its RAW found on
        // no drive) are proven like a backed-up clip's; the rescue copies only the others.
        const auto& primaries = result.group.primaryFiles;
        for (size_t m = 0; m < primaries.size(); ++m) {
            if (result.memberProven(m)) proven.insert(relativeOf(primaries[m].url, report));
            else unprovenReason.emplace(relativeOf(primaries[m].url, report), reason);
        }
        // The sidecars of a backed-up clip are proven as other files, below.
        if (!backedUp)
            for (const auto& sidecar : result.group.sidecars)
                unprovenReason.emplace(relativeOf(sidecar, report), reason);
    }
    for (const OtherFile& file : report.otherFiles) {
        if (file.provenAt) proven.insert(relativeOf(file.url, report));
        else unprovenReason.emplace(relativeOf(file.url, report), foundOnNoDrive);
    }

    // What the rescue proved where a scan counts it; the reasons of what it failed.
    std::set<std::string> uncounted;
    for (const CardFileNote& note : rescue.cardFileNotes)
        if (note.keepsCardUnsafe()) uncounted.insert(note.relativePath);
    std::map<std::string, std::string> rescueFailure;
    std::set<std::string> rescued;  // proven by the rescue itself, whatever the scan found then
    for (const auto& outcome : rescue.outcomes) {
        if (outcome.status.isVerifiedPass() && !uncounted.count(outcome.relativePath)) {
            proven.insert(outcome.relativePath);
            rescued.insert(outcome.relativePath);
        } else if (!outcome.status.isVerifiedPass()) {
            rescueFailure[outcome.relativePath] =
                "found on no drive, and the rescue could not copy it: " +
                outcome.status.reason.value_or("its copy was not proven");
        }
    }
    auto reasonFor = [&](const std::string& relative) {
        if (auto failed = rescueFailure.find(relative); failed != rescueFailure.end()) return failed->second;
        if (auto known = unprovenReason.find(relative); known != unprovenReason.end()) return known->second;
        return std::string(foundOnNoDrive);
    };

    // A rescued file its copy's closing look found changed is named by the rescue's own note.
    std::set<std::string> namedChanged;
    for (const CardFileNote& note : rescue.cardFileNotes)
        if (note.kind == CardFileNote::Kind::changedOnCard) namedChanged.insert(note.relativePath);
    std::map<std::string, CardFileNote> notes;  // by path: each file once, in path order
    auto note = [&](CardFileNote::Kind kind, const std::string& relative, std::string reason) {
        if (namedChanged.count(relative)) return;
        notes.emplace(relative, CardFileNote{kind, relative, std::move(reason)});
    };
    if (!report.cardFiles) {
        // A report without the card's file list vouches for no file the lists above leave out.
        note(CardFileNote::Kind::onlyOnCard, ".", "the scan kept no list of the card's files — scan the card again");
    } else {
        // Changed since the scan: the scan's proof is of other bytes, or of none.
        const int all = static_cast<int>(report.cardFiles->size());
        if (progress) progress(0, all);
        CardFileSet now;
        bool readable = true;
        try {
            now = CardFileSet::read(report.cardPath);
        } catch (const std::exception&) {
            readable = false;
        }
        if (readable) {
            for (const std::string& path :
                 CardChangeCheck::differences(*report.cardFiles, report.cardFilesMount, now, report.cardPath, progress))
                if (!rescued.count(path) && !onlyRenumberedUnproven(path, *report.cardFiles, now.files, proven))
                    note(CardFileNote::Kind::changedOnCard, path, "changed on the card since the scan — scan again");
            if (progress) progress(all, all);
            for (const std::string& folder : now.unreadableFolders)
                note(CardFileNote::Kind::onlyOnCard, folder, "couldn't be read");
        }
        for (const CardFileRecord& record : *report.cardFiles)
            if (!proven.count(record.relative))
                note(CardFileNote::Kind::onlyOnCard, record.relative, reasonFor(record.relative));
    }
    for (const auto& [relative, reason] : unprovenReason)
        if (!proven.count(relative)) note(CardFileNote::Kind::onlyOnCard, relative, reasonFor(relative));
    for (const fs::path& folder : report.unreadableCardFolders)
        note(CardFileNote::Kind::onlyOnCard, relativeOf(folder, report), "couldn't be read by the scan");

    std::vector<CardFileNote> list;
    for (auto& [relative, item] : notes) list.push_back(std::move(item));
    return list;
}

}  // namespace tessaline::RescueCoverage
