#pragma once
// Saving a verification report as PDF or CSV through the save panel. The file is written
// atomically (a temporary file in the same folder, renamed over the target only once it is
// complete), so a failed export never leaves a half-written or empty file and never harms
// a file that was there before. Main thread (the save panel); the write blocks it.

#include "BrindlecoveApp/Platform/Dialogs.hpp"

#include "Tessaline/Report/VerificationReport.hpp"

#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace brindlecove::ReportExport {

enum class Format { pdf, csv };

// "Brindlecove Report.pdf", "Brindlecove Report.csv".
QString suggestedName(Format format);

// Renders a report as PDF bytes; throws tessaline::PdfError when no PDF can be made.
using PdfMaker = std::function<std::string(const tessaline::VerificationReport&)>;

// Writes `report` to `path`; the error's sentence on failure (nothing written then, and a
// file already at `path` is left as it was). `makePdf` null: the engine's exporter.
std::optional<QString> write(const tessaline::VerificationReport& report, Format format, const QString& path,
                             const PdfMaker& makePdf = {});

// Asks for the file with the save panel, then writes it. nullopt when the panel was
// cancelled or the file was written; the error's sentence when the write failed.
std::optional<QString> run(const tessaline::VerificationReport& report, Format format, const Dialogs& dialogs);

}  // namespace brindlecove::ReportExport
