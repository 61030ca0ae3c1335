#include "Tessaline/Report/ReportExporter.hpp"

#include "Tessaline/Support/CSVField.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/PdfDocument.hpp"

#include <nlohmann/json.hpp>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::string display(const fs::path& path) { return toDisplayUtf8(path); }

std::string csvStatus(MatchStatus::Kind kind) {
    switch (kind) {
    case MatchStatus::Kind::confirmed: return "confirmed";
    case MatchStatus::Kind::nameMatchMetadataMismatch: return "name-mismatch";
    case MatchStatus::Kind::possibleDuplicate: return "duplicate";
    case MatchStatus::Kind::missing: break;
    }
    return "MISSING";
}

std::string jsonStatus(MatchStatus::Kind kind) {
    switch (kind) {
    case MatchStatus::Kind::confirmed: return "confirmed";
    case MatchStatus::Kind::nameMatchMetadataMismatch: return "name_mismatch";
    case MatchStatus::Kind::possibleDuplicate: return "duplicate";
    case MatchStatus::Kind::missing: break;
    }
    return "missing";
}

// Why a file's proof stopped at the bound on reading: the candidates not read (those of its
// name among them, when any were left) and the reason in words.
nlohmann::json notReadJson(const UnreadCandidates& unread) {
    nlohmann::json entry = {{"candidates_not_read", unread.count}, {"reason", unread.reasonText()}};
    if (unread.namedNotRead > 0) {
        entry["files_of_its_name"] = unread.named;
        entry["files_of_its_name_not_read"] = unread.namedNotRead;
    }
    return entry;
}

std::string csvDrivePath(const MatchStatus& status) {
    if (status.kind() == MatchStatus::Kind::missing) return {};
    std::string joined;
    for (const fs::path& location : status.locations()) {
        if (!joined.empty()) joined.push_back('|');
        joined += display(location);
    }
    return joined;
}

// A clip of several files is followed by one row per file, all of them (the first too):
// "member confirmed" for a file with a proven copy, "member MISSING" for one without
// ("member name-mismatch" in a clip whose name matched different contents); the clip's own
// row says whether the clip as a whole is proven. Each with its own size and date.
void appendMemberRows(const MatchResult& result, std::string& text) {
    const auto& members = result.group.primaryFiles;
    if (members.size() < 2) return;
    for (size_t m = 0; m < members.size(); ++m) {
        const Fingerprint& member = members[m];
        const bool dated = member.captureDate && member.hasCameraTimestamp;
        text += CSVField::row({
            "member " + (result.memberProven(m) ? std::string("confirmed") : csvStatus(result.status.kind())),
            toDisplayUtf8(member.url.filename()),
            dated ? formatIso8601(*member.captureDate) : std::string(),
            std::to_string(member.byteSize),
            std::string(),
        });
        text.push_back('\n');
    }
}

PdfDocument::StyledLine styled(const VerificationReport::Line& line) {
    using Kind = VerificationReport::Line::Kind;
    using Color = PdfDocument::Color;
    switch (line.kind) {
    case Kind::good: return {line.text, PdfDocument::Font::mono(9), Color::rgb(0.0, 0.45, 0.1)};
    case Kind::bad: return {line.text, PdfDocument::Font::mono(9, true), Color::rgb(0.78, 0.0, 0.0)};
    case Kind::warn: return {line.text, PdfDocument::Font::mono(9), Color::rgb(0.75, 0.45, 0.0)};
    case Kind::info: return {line.text, PdfDocument::Font::mono(9), Color::rgb(0.1, 0.3, 0.65)};
    case Kind::plain: break;
    }
    return {line.text, PdfDocument::Font::mono(9), Color::grey(0)};
}

}  // namespace

std::string ReportExporter::csv(const VerificationReport& report) {
    std::string text = "status,filename,capture_date,size_bytes,drive_path\n";
    for (const MatchResult& result : report.alphabeticalResults()) {
        const ClipGroup& group = result.group;
        auto date = group.captureDate();
        text += CSVField::row({
            csvStatus(result.status.kind()),
            group.primaryFiles.empty() ? std::string() : toDisplayUtf8(group.primaryFiles.front().url.filename()),
            date ? formatIso8601(*date) : std::string(),
            std::to_string(group.totalByteSize()),
            csvDrivePath(result.status),
        });
        text.push_back('\n');
        appendMemberRows(result, text);
    }
    // The other files after the clips, in path order, named by their place on the card.
    for (const OtherFile& file : report.otherFiles) {
        text += CSVField::row({
            file.provenAt ? "other file confirmed" : "other file MISSING",
            report.placeOnCard(file.url),
            std::string(),
            std::to_string(file.byteSize),
            file.provenAt ? display(*file.provenAt) : std::string(),
        });
        text.push_back('\n');
    }
    // The card files whose proof stopped at the bound on reading, after everything else; the
    // last field says why in words.
    for (const UnreadCandidates& unread : report.unreadCandidates) {
        text += CSVField::row({"NOT-READ", report.placeOnCard(unread.cardFile), std::string(),
                               std::to_string(unread.byteSize), unread.reasonText()});
        text.push_back('\n');
    }
    return text;
}

std::string ReportExporter::json(const VerificationReport& report) {
    using nlohmann::json;
    json drivePaths = json::array();
    for (const fs::path& drive : report.drivePaths) drivePaths.push_back(display(drive));

    json clips = json::array();
    int counts[4] = {0, 0, 0, 0};
    for (const MatchResult& result : report.alphabeticalResults()) {
        const ClipGroup& group = result.group;
        json clip = json::object();
        clip["status"] = jsonStatus(result.status.kind());
        json files = json::array();
        for (const Fingerprint& file : group.primaryFiles) files.push_back(toDisplayUtf8(file.url.filename()));
        clip["files"] = std::move(files);
        clip["size_bytes"] = group.totalByteSize();
        if (auto date = group.captureDate()) clip["capture_date"] = formatIso8601(*date);
        const MatchStatus& status = result.status;
        switch (status.kind()) {
        case MatchStatus::Kind::confirmed: clip["drive_path"] = display(status.path()); break;
        case MatchStatus::Kind::nameMatchMetadataMismatch: clip["candidate_path"] = display(status.path()); break;
        case MatchStatus::Kind::possibleDuplicate: {
            json locations = json::array();
            for (const fs::path& location : status.locations()) locations.push_back(display(location));
            clip["drive_paths"] = std::move(locations);
            break;
        }
        case MatchStatus::Kind::missing: {
            for (const Fingerprint& file : group.primaryFiles)
                if (const UnreadCandidates* unread = report.unreadOf(file.url.path())) {
                    clip["not_read"] = notReadJson(*unread);
                    clip["not_read"]["file"] = toDisplayUtf8(file.url.filename());
                    break;
                }
            if (group.primaryFiles.size() < 2) break;
            // Which files of the clip have no proven copy, and which have one.
            json unproven = json::array(), proven = json::array();
            for (size_t m = 0; m < group.primaryFiles.size(); ++m)
                (result.memberProven(m) ? proven : unproven).push_back(toDisplayUtf8(group.primaryFiles[m].url.filename()));
            clip["unproven_files"] = std::move(unproven);
            clip["proven_files"] = std::move(proven);
            break;
        }
        }
        ++counts[static_cast<int>(status.kind())];
        clips.push_back(std::move(clip));
    }

    json root = json::object();
    root["generated_at"] = formatIso8601(report.generatedAt);
    root["card_path"] = display(report.cardPath);
    root["drive_paths"] = std::move(drivePaths);
    root["summary"] = {
        {"total", static_cast<int64_t>(report.results.size())},
        {"confirmed", counts[static_cast<int>(MatchStatus::Kind::confirmed)]},
        {"missing", counts[static_cast<int>(MatchStatus::Kind::missing)]},
        {"duplicates", counts[static_cast<int>(MatchStatus::Kind::possibleDuplicate)]},
        {"name_mismatch", counts[static_cast<int>(MatchStatus::Kind::nameMatchMetadataMismatch)]},
    };
    root["clips"] = std::move(clips);
    if (!report.otherFiles.empty()) {
        json others = json::array();
        int confirmed = 0;
        for (const OtherFile& file : report.otherFiles) {
            json entry = json::object();
            entry["status"] = file.provenAt ? "confirmed" : "missing";
            entry["kind"] = file.role == OtherFile::Role::sidecar ? "sidecar" : "other";
            entry["file"] = toDisplayUtf8(file.url.filename());
            entry["card_path"] = report.placeOnCard(file.url);
            entry["size_bytes"] = file.byteSize;
            if (file.provenAt) {
                entry["drive_path"] = display(*file.provenAt);
                ++confirmed;
            } else if (const UnreadCandidates* unread = report.unreadOf(file.url)) {
                entry["not_read"] = notReadJson(*unread);
            }
            others.push_back(std::move(entry));
        }
        root["other_files"] = std::move(others);
        root["summary"]["other_files_confirmed"] = confirmed;
        root["summary"]["other_files_missing"] = static_cast<int>(report.otherFiles.size()) - confirmed;
    }
    if (!report.unreadableCardFolders.empty()) {
        json folders = json::array();
        for (const fs::path& folder : report.unreadableCardFolders) folders.push_back(display(folder));
        root["unreadable_folders"] = std::move(folders);
    }
    if (!report.uncountedCopies.empty()) {
        json copies = json::array();
        for (const UncountedCopy& copy : report.uncountedCopies)
            copies.push_back({{"drive_path", display(copy.path)}, {"reason", ProofGround::reasonKey(copy.doubt)}});
        root["uncounted_copies"] = std::move(copies);
    }
    return jsonText(root, 2);
}

std::string ReportExporter::pdf(const VerificationReport& report) {
    std::vector<PdfDocument::StyledLine> body;
    for (const VerificationReport::Line& line : report.summaryLines()) {
        body.push_back(styled(line));
        body.back().continuationOffset = line.nameOffset;
    }
    PdfDocument document(PdfDocument::usLetterPortrait);
    // 48-point margins on all four sides.
    document.flowLines(body, {48, 48, 516, 696});
    return document.finish();
}

void ReportExporter::write(const VerificationReport& report, const fs::path& folder, const std::string& stem) {
    createFolders(folder);
    writeFileAtomically(folder / (stem + ".csv"), csv(report));
    writeFileAtomically(folder / (stem + ".json"), json(report));
    writeFileAtomically(folder / (stem + ".pdf"), pdf(report));
}

}  // namespace tessaline
