#pragma once
// Turns one TransferLog into the files that prove a card was backed up: a CSV table, a JSON
// document, an ASC MHL v2.0 hash list (so other tools can re-verify the copy) and a printable
// PDF. Pure functions of their arguments (plus the host name and the copies' dates on disk);
// safe on any thread.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

struct TransferLogExporter {
    // The word of a status in the CSV and JSON: "FAILED-verify", "FAILED-copy", "verified",
    // "copied", "already-present".
    static std::string statusWord(const CopyEngine::FileStatus& status);

    // The word of a card file note in the CSV and JSON: "ONLY-ON-CARD", "CHANGED-ON-CARD",
    // "NOT-COUNTED-renamed" (stored under a name a scan does not count), "renamed".
    static std::string noteWord(CardFileNote::Kind kind);

    // Header "status,relative_path,size_bytes,source_xxh64,destination_xxh64,seconds", one
    // row per outcome, then one row per card file note (its word and path, the other fields
    // empty); every line ends with "\n". Never throws.
    static std::string csv(const TransferLog& log);

    // Pretty-printed with sorted keys, snake-case names. Ill-formed UTF-8 in names becomes
    // U+FFFD instead of failing. Beside "files", "card_files" lists the card file notes
    // ("kind", "relative_path", "reason"), and the summary counts the ones that keep the card
    // unsafe ("card_files_not_proven"); "all_verified" is whether the card may be reused.
    static std::string json(const TransferLog& log);

    // ASC MHL v2.0 (namespace urn:ASC:MHL:v2.0) listing every copy that has a digest and did
    // not fail outright, by its path below the log's destination. Text that XML 1.0 cannot
    // carry is replaced with U+FFFD; the `hashes` element is left out when nothing is listed
    // (the schema rejects it empty). Never throws.
    static std::string ascMHL(const TransferLog& log, const std::string& toolName, const std::string& toolVersion,
                              const std::string& hostname);

    // The printable log: landscape US Letter, a verdict and one banded row per file.
    // Throws PdfError ("Couldn't create the PDF.") when no PDF could be made.
    static std::string pdf(const TransferLog& log);

    // Writes <stem>.csv, <stem>.json, <stem>.mhl and <stem>.pdf into `folder` (created when
    // missing), in that order, each atomically, replacing same-named files. Stops at the
    // first failure and throws it (FileWriteError, PdfError); files already written stay.
    static void write(const TransferLog& log, const std::filesystem::path& folder, const std::string& stem);

    // The file's modification date; nullopt when it cannot be read.
    static std::optional<EpochSeconds> lastModification(const std::filesystem::path& file);

    // The name this machine reports for itself.
    static std::string hostName();
};

}  // namespace tessaline
