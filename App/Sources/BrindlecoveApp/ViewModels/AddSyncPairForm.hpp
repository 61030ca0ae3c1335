#pragma once
// The fields of the add-pair sheet and its rules, without widgets: when "Add" is enabled,
// how the pair is built (no text is trimmed; an empty name becomes "<label> → sync", an
// empty subfolder means none), and the warning for a destination on the source drive
// itself. Also the route text shown under a pair's name. Main thread (the volume name is
// read from the mount table: quick, no subprocess).

#include "Tessaline/Sync/SyncPair.hpp"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace brindlecove {

struct AddSyncPairForm {
    // The volume name of the drive holding a folder; none when it can't be read.
    using VolumeNamer = std::function<std::optional<std::string>(const std::filesystem::path&)>;

    QString name;
    QString sourceLabel;
    QString sourceSubpath;
    QString destinationPath;
    bool preserve = true;
    QStringList insertedLabels;

    // A label and a destination are given, exactly as they stand (a blank counts).
    bool canAdd() const;
    // The pair "Add" hands over: a new id, verification after copy, enabled.
    tessaline::SyncPair makePair() const;
    // A warning when the destination lies on a volume named like the source (compared
    // ignoring case, as drives are matched): the sync would copy the drive into itself.
    // `volumeName` defaults to the mount table's answer.
    std::optional<QString> sameDriveWarning(const VolumeNamer& volumeName = {}) const;

    // "<label>[/<subpath>] → <destination>".
    static QString route(const tessaline::SyncPair& pair);
};

}  // namespace brindlecove
