#pragma once
// The system's disk service (udisks2) on the system D-Bus: the way a desktop user reformats
// an external volume, and what it knows of a volume that a user without privilege cannot read
// (the file system's type). A reformat first obtains the right to format from polkit (the
// desktop's own authorisation prompt, where one is needed), then checks the volume, unmounts
// the file system, checks it again, formats its block device with the new label without any
// further question, and mounts the new file system again. Every call opens a private
// connection of its own and closes it when done, so the service may come and go while the
// program runs. Blocking; any thread but the main one.

#include "Tessaline/Format/DriveFormatEngine.hpp"

#include <QString>

#include <functional>
#include <optional>
#include <string>

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

    // The file system on block device `device` as the service knows it ("ExFAT",
    // "MS-DOS (FAT32)"), which it tells any user; nullopt when it does not answer or knows none.
    std::optional<QString> currentFormat(const std::string& device) const;

    // Reformats the volume `inspected` describes as `format` labelled `label`. The right to
    // format is obtained first (a refusal leaves the volume mounted and untouched; without
    // polkit, where the service allows root alone, every other caller is refused here); then
    // `confirm`, when given, checks that the volume at its path is still the one the user
    // checked and returns its facts, or throws. The service's block device must still be that
    // device with that file system before the unmount and again before the format; nothing is
    // formatted when any step before the format fails. After an unmount, a failure mounts the
    // volume again, and when that fails too the message says that the volume is left unmounted,
    // why, and how to mount it; a device found holding another file system after the unmount
    // is not mounted, and the message says so too. Throws tessaline::DriveFormatError whose what() is the sentence to show.
    Outcome reformat(const Facts& inspected, Format format, const QString& label,
                     const std::function<Facts()>& confirm = {}) const;

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
