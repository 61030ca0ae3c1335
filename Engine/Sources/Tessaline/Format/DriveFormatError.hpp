#pragma once
// Why a volume was not inspected or not reformatted. what() is the sentence shown to the user.

#include <stdexcept>
#include <string>

namespace tessaline {

class DriveFormatError : public std::runtime_error {
public:
    enum class Kind {
        cannotInspect,      // payload: the volume's path
        refusedInternal,    // payload: the volume's name
        refusedBootVolume,  // payload: the volume's name
        diskutilFailed,     // payload: the message (a disk-tool program failed or could not run)
        volumeChanged,      // payload: the volume's path (not the volume that was inspected)
        formatUnavailable,  // payload: the message (no program here creates the file system)
    };

    // `note`, when given, follows the sentence of `kind` (what became of the volume).
    DriveFormatError(Kind kind, std::string payload, const std::string& note = {});

    static DriveFormatError cannotInspect(const std::string& path) { return {Kind::cannotInspect, path}; }
    static DriveFormatError refusedInternal(const std::string& name) { return {Kind::refusedInternal, name}; }
    static DriveFormatError refusedBootVolume(const std::string& name) { return {Kind::refusedBootVolume, name}; }
    static DriveFormatError diskutilFailed(const std::string& message) { return {Kind::diskutilFailed, message}; }
    static DriveFormatError volumeChanged(const std::string& path, const std::string& note = {}) {
        return {Kind::volumeChanged, path, note};
    }
    static DriveFormatError formatUnavailable(const std::string& displayName, const std::string& toolName);
    // A failure after which the volume could not be mounted again: `message`, then
    // leftUnmountedNote(). A diskutilFailed.
    static DriveFormatError leftUnmounted(const std::string& message, const std::string& volumeName,
                                          const std::string& reason, const std::string& howToMount);
    // "“<name>” is left unmounted — mounting it again failed: <reason>. To mount it, unplug it
    // and plug it in again, or run: <howToMount>." The reason part is left out when there is
    // none, the command part when `howToMount` is empty.
    static std::string leftUnmountedNote(const std::string& volumeName, const std::string& reason,
                                         const std::string& howToMount);

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }

private:
    Kind kind_;
    std::string payload_;
};

}  // namespace tessaline
