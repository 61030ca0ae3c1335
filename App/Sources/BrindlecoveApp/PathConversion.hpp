#pragma once
// Paths between the engine (std::filesystem, raw bytes) and Qt (QString) without loss for
// UTF-8 names: the same conversion QFile uses. Any thread.

#include <QFile>
#include <QString>

#include <filesystem>

namespace brindlecove {

inline QString qtPath(const std::filesystem::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.native())); }

inline std::filesystem::path fsPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

}  // namespace brindlecove
