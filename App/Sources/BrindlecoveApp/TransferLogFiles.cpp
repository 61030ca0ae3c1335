#include "BrindlecoveApp/TransferLogFiles.hpp"

#include "BrindlecoveApp/AppError.hpp"
#include "BrindlecoveApp/PathConversion.hpp"

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/PdfError.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"
#include "Tessaline/Version.hpp"

#include <QDir>
#include <QSysInfo>

#include <filesystem>

namespace brindlecove {

using tessaline::TransferLog;
using tessaline::TransferLogExporter;

namespace {

const QString errorDomain = QStringLiteral("TransferLogFiles");

}  // namespace

QString TransferLogFiles::extension(Artifact artifact) {
    switch (artifact) {
        case Artifact::mhl: return QStringLiteral("mhl");
        case Artifact::pdf: return QStringLiteral("pdf");
        case Artifact::csv: return QStringLiteral("csv");
        case Artifact::json: return QStringLiteral("json");
    }
    return QString();
}

TransferLogFiles::TransferLogFiles(Makers makers) : makers_(std::move(makers)) {
    if (!makers_.csv) makers_.csv = [](const TransferLog& log) { return TransferLogExporter::csv(log); };
    if (!makers_.json) makers_.json = [](const TransferLog& log) { return TransferLogExporter::json(log); };
    if (!makers_.mhl) {
        makers_.mhl = [](const TransferLog& log) {
            return TransferLogExporter::ascMHL(log, "Brindlecove", tessaline::tessalineVersion,
                                               QSysInfo::machineHostName().toStdString());
        };
    }
    if (!makers_.pdf) makers_.pdf = [](const TransferLog& log) { return TransferLogExporter::pdf(log); };
}

QByteArray TransferLogFiles::produce(Artifact artifact, const TransferLog& log) const {
    switch (artifact) {
        case Artifact::mhl: return QByteArray::fromStdString(makers_.mhl(log));
        case Artifact::csv: return QByteArray::fromStdString(makers_.csv(log));
        case Artifact::json: return QByteArray::fromStdString(makers_.json(log));
        case Artifact::pdf: {
            // An empty PDF is no PDF: it must never be written as if the export worked.
            QByteArray bytes = QByteArray::fromStdString(makers_.pdf(log));
            if (bytes.isEmpty()) throw tessaline::PdfError();
            return bytes;
        }
    }
    throw AppError(errorDomain, 1, QStringLiteral("Unknown export."));
}

void TransferLogFiles::write(Artifact artifact, const TransferLog& log, const QString& path) const {
    writeAtomically(path, produce(artifact, log));
}

void TransferLogFiles::writeAll(const TransferLog& log, const QString& folder, const QString& stem) const {
    if (!QDir().mkpath(folder))
        throw AppError(errorDomain, 2, QStringLiteral("Couldn't create the folder %1.").arg(QDir::toNativeSeparators(folder)));
    const QDir dir(folder);
    for (Artifact artifact : {Artifact::csv, Artifact::json, Artifact::mhl, Artifact::pdf})
        write(artifact, log, dir.filePath(stem + QLatin1Char('.') + extension(artifact)));
}

QStringList TransferLogFiles::existingNames(const QString& folder, const QString& stem) {
    QStringList names;
    for (Artifact artifact : {Artifact::csv, Artifact::json, Artifact::mhl, Artifact::pdf}) {
        const QString name = stem + QLatin1Char('.') + extension(artifact);
        std::error_code error;
        const auto status = std::filesystem::symlink_status(fsPath(QDir(folder).filePath(name)), error);
        // A name that can't be looked at counts as taken: the export would replace it.
        if (status.type() != std::filesystem::file_type::not_found) names.append(name);
    }
    return names;
}

void TransferLogFiles::writeAtomically(const QString& path, const QByteArray& bytes) {
    // The engine's writer checks every step (write, fsync, close, rename): Qt 6.4's QSaveFile
    // ignores a failure of the flush inside commit(), which on a full disk replaced the file
    // with an empty one and reported success.
    tessaline::writeFileAtomically(fsPath(path), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace brindlecove
