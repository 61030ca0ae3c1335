#pragma once
// The system's disk service (udisks2) on the system D-Bus: the way a desktop user reformats
// an external volume. The service checks the user's rights through polkit, which shows the
// desktop's own authorisation prompt where one is needed. A reformat unmounts the file
// system, formats its block device with the new label and mounts the new file system again.
// Every call opens a private connection of its own and closes it when done, so the service
// may come and go while the program runs. Blocking; any thread but the main one.

#include "Tessaline/Format/DriveFormatEngine.hpp"

#include <QString>

#include <optional>

namespace brindlecove {

class SystemDiskService {
public:
    using Facts = tessaline::DriveFormatEngine::VolumeFacts;
    using Format = tessaline::DriveFormat;

    struct Outcome {
        std::optional<QString> mountPath;  // where the new file system was mounted
        QString notMountedReason;          // the service's own words when it could not mount it
    };

    // `busAddress`: the bus to use, "" for the system bus (DBUS_SYSTEM_BUS_ADDRESS or the
    // standard socket).
    explicit SystemDiskService(QString busAddress = {});

    // Why nothing can be reformatted through the service here, with what to install or
    // start; nullopt when it answers.
    std::optional<QString> unavailableReason() const;

    // Why the service cannot make `format` on the inspected volume, or nullopt when it can.
    std::optional<QString> formatProblem(Format format, const Facts& facts) const;

    // Reformats the volume `checked` describes (facts confirmed by the engine just before) as
    // `format` labelled `label`. The service's block device must still be that device with
    // that file system; nothing is formatted when any step before the format fails, and the
    // volume is mounted again when the format itself is refused or fails. Throws
    // tessaline::DriveFormatError whose what() is the sentence to show.
    Outcome reformat(const Facts& checked, Format format, const QString& label) const;

    // The udisks2 type name of `format` ("exfat", "vfat"); empty for formats it cannot make.
    static QString typeName(Format format);
    // True for the service's refusals by polkit (the user refused or dismissed the prompt).
    static bool isNotAuthorized(const QString& errorName);
    // "You weren't allowed to reformat “<name>” — nothing was formatted."
    static QString notAllowedMessage(const QString& volumeName);

private:
    QString busAddress_;
};

}  // namespace brindlecove
