#pragma once
// The verification report's file forms: CSV, JSON and PDF, and writing all three side by side.
// Every text is valid UTF-8 (file names that are not are shown with U+FFFD) and independent
// of the process locale. Runs on the caller's thread; nothing is shared between calls.

#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <string>

namespace tessaline {

struct ReportExporter {
    // Header "status,filename,capture_date,size_bytes,drive_path", then one row per clip in
    // alphabetical order, then one row per other file in path order (status "other file
    // confirmed" or "other file MISSING", filename its place below the card root, no date);
    // every line ends with "\n".
    static std::string csv(const VerificationReport& report);

    // One object, pretty-printed with sorted keys. Never throws on file names. A report with
    // other files adds "other_files" (status, kind, file, card_path, size_bytes, drive_path
    // when proven) and the summary counts "other_files_confirmed" and "other_files_missing".
    static std::string json(const VerificationReport& report);

    // The text report line for line on US Letter pages, coloured by line kind. Throws
    // PdfError when no PDF can be made (never returns empty bytes).
    static std::string pdf(const VerificationReport& report);

    // Creates `folder` (and its parents), then writes "<stem>.csv", "<stem>.json" and
    // "<stem>.pdf", each atomically. The first failure is thrown at once (FileWriteError,
    // PdfError); files written before it stay, later ones are not written.
    static void write(const VerificationReport& report, const std::filesystem::path& folder, const std::string& stem);
};

}  // namespace tessaline
