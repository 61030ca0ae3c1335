#include "BrindlecoveApp/ViewModels/ReportExport.hpp"

#include "BrindlecoveApp/PathConversion.hpp"

#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/AtomicFile.hpp"

#include <exception>
#include <string>

namespace brindlecove::ReportExport {

QString suggestedName(Format format) {
    return format == Format::pdf ? QStringLiteral("Brindlecove Report.pdf") : QStringLiteral("Brindlecove Report.csv");
}

std::optional<QString> write(const tessaline::VerificationReport& report, Format format, const QString& path,
                             const PdfMaker& makePdf) {
    std::string bytes;
    try {
        if (format == Format::csv) bytes = tessaline::ReportExporter::csv(report);
        else bytes = makePdf ? makePdf(report) : tessaline::ReportExporter::pdf(report);
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    if (format == Format::pdf && bytes.empty()) return QStringLiteral("Couldn't create the PDF.");
    try {
        // Every step checked (write, fsync, close, rename); see TransferLogFiles::writeAtomically.
        tessaline::writeFileAtomically(fsPath(path), bytes);
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return std::nullopt;
}

std::optional<QString> run(const tessaline::VerificationReport& report, Format format, const Dialogs& dialogs) {
    if (!dialogs.saveFile) return std::nullopt;
    SaveRequest request;
    request.suggestedName = suggestedName(format);
    request.prompt = QStringLiteral("Export");
    auto path = dialogs.saveFile(request);
    if (!path || path->isEmpty()) return std::nullopt;
    return write(report, format, *path);
}

}  // namespace brindlecove::ReportExport
