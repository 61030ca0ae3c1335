#include "BrindlecoveApp/ViewModels/AddSyncPairForm.hpp"

#include "Tessaline/Support/Uuid.hpp"
#include "Tessaline/Sync/DestinationVolume.hpp"

#include <QFile>

namespace brindlecove {

bool AddSyncPairForm::canAdd() const { return !sourceLabel.isEmpty() && !destinationPath.isEmpty(); }

tessaline::SyncPair AddSyncPairForm::makePair() const {
    tessaline::SyncPair pair;
    pair.id = tessaline::Uuid::random();
    pair.name = name.isEmpty() ? (sourceLabel + QStringLiteral(" \u2192 sync")).toStdString() : name.toStdString();
    pair.sourceVolumeLabel = sourceLabel.toStdString();
    if (!sourceSubpath.isEmpty()) pair.sourceSubpath = sourceSubpath.toStdString();
    pair.destinationPath = QFile::encodeName(destinationPath).toStdString();
    pair.preserveStructure = preserve;
    pair.verifyAfterCopy = true;
    pair.enabled = true;
    return pair;
}

std::optional<QString> AddSyncPairForm::sameDriveWarning(const VolumeNamer& volumeName) const {
    if (sourceLabel.isEmpty() || destinationPath.isEmpty()) return std::nullopt;
    std::filesystem::path destination(QFile::encodeName(destinationPath).toStdString());
    std::optional<std::string> volume =
        volumeName ? volumeName(destination) : tessaline::destinationVolumeName(destination);
    if (!volume) return std::nullopt;
    QString label = QString::fromStdString(*volume);
    if (label.compare(sourceLabel, Qt::CaseInsensitive) != 0) return std::nullopt;
    return QStringLiteral("This folder is on the drive \u201C%1\u201D, the source itself \u2014 a sync would copy "
                          "the drive into itself. Choose a folder on another drive.")
        .arg(label);
}

QString AddSyncPairForm::route(const tessaline::SyncPair& pair) {
    QString text = QString::fromStdString(pair.sourceVolumeLabel);
    if (pair.sourceSubpath) text += QStringLiteral("/") + QString::fromStdString(*pair.sourceSubpath);
    return text + QStringLiteral(" \u2192 ") + QFile::decodeName(QByteArray::fromStdString(pair.destinationPath));
}

}  // namespace brindlecove
