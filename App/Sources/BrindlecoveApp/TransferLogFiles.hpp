#pragma once
// The files made from one transfer log for clients and post houses: ASC MHL, PDF, CSV and
// JSON, one at a time or all four into a folder. Every file is written atomically (a
// temporary file in the same folder, flushed, renamed into place), so a failed export never
// leaves a half-written file under the chosen name, and a PDF that could not be drawn is
// never written at all. The makers are a seam: tests inject a failing one. Main thread in
// the application (the Production Log section); the functions touch no shared state.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

namespace brindlecove {

class TransferLogFiles {
public:
    // The single-file exports, in menu order.
    enum class Artifact { mhl, pdf, csv, json };

    // "mhl", "pdf", "csv", "json".
    static QString extension(Artifact artifact);

    // Each returns the file's bytes or throws an exception whose what() is the sentence to
    // show. An empty member is the engine's exporter; the MHL names the tool "Brindlecove",
    // the engine's version and this machine's host name.
    struct Makers {
        std::function<std::string(const tessaline::TransferLog&)> csv;
        std::function<std::string(const tessaline::TransferLog&)> json;
        std::function<std::string(const tessaline::TransferLog&)> mhl;
        std::function<std::string(const tessaline::TransferLog&)> pdf;
    };

    explicit TransferLogFiles(Makers makers = {});

    // The artifact's bytes. Throws the maker's error; a PDF maker returning no bytes gives
    // tessaline::PdfError ("Couldn't create the PDF.").
    QByteArray produce(Artifact artifact, const tessaline::TransferLog& log) const;

    // Produces the artifact and writes it to `path`, replacing a file of that name. Nothing
    // is written when producing fails. Throws tessaline::FileWriteError ("Couldn't write
    // <path>: <reason>."; the file under that name is left as it was) or the maker's error.
    void write(Artifact artifact, const tessaline::TransferLog& log, const QString& path) const;

    // Creates `folder` with its parents, then writes <stem>.csv, <stem>.json, <stem>.mhl and
    // <stem>.pdf in that order, replacing same-named files. Stops at the first failure and
    // throws it; the files written before it stay. Callers ask before replacing (see
    // existingNames).
    void writeAll(const tessaline::TransferLog& log, const QString& folder, const QString& stem) const;

    // The names among the four of writeAll that something in `folder` already has (a file,
    // a link, even a broken one, or a folder), in writeAll's order; empty when the folder
    // does not exist.
    static QStringList existingNames(const QString& folder, const QString& stem);

    // Writes `bytes` to `path` atomically through the engine's checked writer. Throws
    // tessaline::FileWriteError on failure, leaving a file already at `path` untouched.
    static void writeAtomically(const QString& path, const QByteArray& bytes);

private:
    Makers makers_;
};

}  // namespace brindlecove
