#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include "Tessaline/Support/CSVField.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Version.hpp"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace tessaline {

using Kind = CopyEngine::FileStatus::Kind;

namespace {

// Decodes one code point of valid UTF-8 at `i` and advances `i`.
char32_t nextCodePoint(const std::string& text, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) return text[i++];
    int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t value = lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) value = (value << 6) | (byte(i + k) & 0x3F);
    i += length;
    return value;
}

// Text as XML 1.0 character data: ill-formed UTF-8 and characters XML 1.0 forbids become
// U+FFFD; & < > " are escaped (apostrophes are left alone); a carriage return is written
// as a reference, since parsers turn a literal one into a line feed. In an attribute, tab
// and line feed are references too (attribute normalisation would make them blanks).
std::string xmlText(std::string_view raw, bool attribute = false) {
    const std::string text = toDisplayUtf8(raw);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t start = i;
        char32_t c = nextCodePoint(text, i);
        switch (c) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            case '"': out += "&quot;"; continue;
            case '\r': out += "&#13;"; continue;
            case '\t': out += attribute ? "&#9;" : "\t"; continue;
            case '\n': out += attribute ? "&#10;" : "\n"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        out.append(text, start, i - start);
    }
    return out;
}

std::string iso(EpochSeconds when) { return formatIso8601(when); }

}  // namespace

std::string TransferLogExporter::statusWord(const CopyEngine::FileStatus& status) {
    switch (status.kind) {
        case Kind::verificationFailed: return "FAILED-verify";
        case Kind::failed: return "FAILED-copy";
        case Kind::copiedVerified: return "verified";
        case Kind::copiedNotVerified: return "copied";
        case Kind::skippedAlreadyPresent: return "already-present";
    }
    return "FAILED-copy";
}

std::string TransferLogExporter::noteWord(CardFileNote::Kind kind) {
    switch (kind) {
        case CardFileNote::Kind::onlyOnCard: return "ONLY-ON-CARD";
        case CardFileNote::Kind::changedOnCard: return "CHANGED-ON-CARD";
        case CardFileNote::Kind::storedWhereScanMissesIt: return "NOT-COUNTED-renamed";
        case CardFileNote::Kind::storedUnderOtherName: return "renamed";
    }
    return "ONLY-ON-CARD";
}

std::string TransferLogExporter::csv(const TransferLog& log) {
    std::string text = "status,relative_path,size_bytes,source_xxh64,destination_xxh64,seconds\n";
    for (const auto& outcome : log.outcomes) {
        text += CSVField::row({
            statusWord(outcome.status),
            toDisplayUtf8(std::string_view(outcome.relativePath)),
            std::to_string(outcome.byteSize),
            outcome.sourceChecksum.value_or(""),
            outcome.destinationChecksum.value_or(""),
            fixedText(outcome.duration(), 3),
        });
        text += '\n';
    }
    for (const auto& note : log.cardFileNotes) {
        text += CSVField::row({noteWord(note.kind), toDisplayUtf8(std::string_view(note.relativePath)), "", "", "", ""});
        text += '\n';
    }
    return text;
}

std::string TransferLogExporter::json(const TransferLog& log) {
    nlohmann::json files = nlohmann::json::array();
    for (const auto& outcome : log.outcomes) {
        nlohmann::json file = {
            {"status", statusWord(outcome.status)},
            {"relative_path", outcome.relativePath},
            {"size_bytes", outcome.byteSize},
            {"seconds", outcome.duration()},
        };
        if (outcome.sourceChecksum) file["source_xxh64"] = *outcome.sourceChecksum;
        if (outcome.destinationChecksum) file["destination_xxh64"] = *outcome.destinationChecksum;
        files.push_back(std::move(file));
    }
    nlohmann::json summary = {
        {"files", log.fileCount()},
        {"verified", log.verifiedCount()},
        {"already_present", log.skippedCount()},
        {"unverified", log.unverifiedCount()},
        {"failed", log.failedCount()},
        {"all_verified", log.allVerified()},
        {"complete", log.isComplete()},
        {"was_cancelled", log.wasCancelled},
        {"planned_files", log.plannedFileCount ? nlohmann::json(*log.plannedFileCount) : nlohmann::json(nullptr)},
        {"unhandled_files", log.unhandledCount()},
        {"total_bytes", log.totalBytes()},
        {"card_files_not_proven", static_cast<int>(log.cardFilesNotProven().size())},
    };
    nlohmann::json cardFiles = nlohmann::json::array();
    for (const auto& note : log.cardFileNotes)
        cardFiles.push_back({{"kind", noteWord(note.kind)}, {"relative_path", note.relativePath}, {"reason", note.reason}});
    nlohmann::json document = {
        {"started_at", iso(log.startedAt)},
        {"finished_at", iso(log.finishedAt)},
        {"source", log.sourceURL.native()},
        {"destination", log.destinationURL.native()},
        {"preserve_structure", log.preserveStructure},
        {"summary", std::move(summary)},
        {"files", std::move(files)},
        {"card_files", std::move(cardFiles)},
    };
    return jsonText(document, 2);
}

std::string TransferLogExporter::ascMHL(const TransferLog& log, const std::string& toolName,
                                        const std::string& toolVersion, const std::string& hostname) {
    std::string hashes;
    for (const auto& outcome : log.outcomes) {
        const auto& value = outcome.destinationChecksum ? outcome.destinationChecksum : outcome.sourceChecksum;
        if (!value || outcome.status.kind == Kind::failed) continue;
        const char* action = outcome.status.kind == Kind::verificationFailed  ? "failed"
                             : outcome.status.kind == Kind::copiedNotVerified ? "original"
                                                                              : "verified";
        std::string path = CopyEngine::relativePath(outcome.destinationURL, log.destinationURL);
        EpochSeconds modified = lastModification(outcome.destinationURL).value_or(log.finishedAt);
        hashes += "    <hash>\n";
        hashes += "      <path size=\"" + std::to_string(outcome.byteSize) + "\" lastmodificationdate=\"" +
                  iso(modified) + "\">" + xmlText(path) + "</path>\n";
        hashes += "      <xxh64 action=\"" + std::string(action) + "\" hashdate=\"" + iso(outcome.finishedAt) + "\">" +
                  *value + "</xxh64>\n";
        hashes += "    </hash>\n";
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v2.0\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:schemaLocation=\"urn:ASC:MHL:v2.0 ASCMHL.xsd\">\n";
    xml += "  <creatorinfo>\n";
    xml += "    <creationdate>" + iso(log.finishedAt) + "</creationdate>\n";
    xml += "    <hostname>" + xmlText(hostname) + "</hostname>\n";
    xml += "    <tool version=\"" + xmlText(toolVersion, true) + "\">" + xmlText(toolName) + "</tool>\n";
    xml += "  </creatorinfo>\n";
    xml += "  <processinfo>\n";
    xml += std::string("    <process>") + (log.preserveStructure ? "transfer" : "flatten") + "</process>\n";
    xml += "  </processinfo>\n";
    // The public schema requires at least one hash inside `hashes`, and `hashes` is optional.
    if (!hashes.empty()) xml += "  <hashes>\n" + hashes + "  </hashes>\n";
    xml += "</hashlist>\n";
    return xml;
}

void TransferLogExporter::write(const TransferLog& log, const std::filesystem::path& folder, const std::string& stem) {
    createFolders(folder);
    writeFileAtomically(folder / (stem + ".csv"), csv(log));
    writeFileAtomically(folder / (stem + ".json"), json(log));
    writeFileAtomically(folder / (stem + ".mhl"), ascMHL(log, "Brindlecove", tessalineVersion, hostName()));
    writeFileAtomically(folder / (stem + ".pdf"), pdf(log));
}

std::optional<EpochSeconds> TransferLogExporter::lastModification(const std::filesystem::path& file) {
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

std::string TransferLogExporter::hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    name[HOST_NAME_MAX] = '\0';
    return name;
}

}  // namespace tessaline
