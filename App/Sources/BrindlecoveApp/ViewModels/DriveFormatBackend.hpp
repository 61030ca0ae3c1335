#pragma once
// What the reformat needs of the system, behind plain functions: the candidate volumes, the
// engine's inspection, the way a reformat can go on this machine, and the reformat itself.
// A reformat goes through the system disk service (udisks2, authorised by polkit) when it
// answers; without it, by running the mkfs programs directly when this process is root;
// otherwise not at all, with the reason and what to install or start. standard() is the
// real system; tests replace single functions or point the service at a private bus.
// Safe on any thread; route() and reformat() block.

#include "Tessaline/Format/DriveFormatEngine.hpp"
#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <QString>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace brindlecove {

struct DriveFormatBackend {
    using Path = std::filesystem::path;
    using Facts = tessaline::DriveFormatEngine::VolumeFacts;
    using Format = tessaline::DriveFormat;

    // The way a reformat of an inspected volume goes here.
    struct Route {
        enum class Kind { diskService, direct, none };
        Kind kind = Kind::none;
        QString problem;                            // none: why, and what to install or start
        std::map<Format::Value, QString> unmakeable;  // formats this way cannot make, and why

        std::optional<QString> formatProblem(Format format) const;
        friend bool operator==(const Route&, const Route&) = default;
    };

    // What a finished reformat left.
    struct Result {
        std::optional<QString> mountPath;  // where the new file system is mounted
        QString notMountedReason;          // why it is not mounted ("" when nobody tried)
    };

    std::function<std::vector<tessaline::VolumeInfo>()> listCandidates;
    std::function<Facts(const Path& volume)> inspect;
    // The way a reformat of the volume `inspected` goes; never throws.
    std::function<Route(const Facts& inspected)> route;
    // Reformats the volume at `volume` that `inspected` describes, the way `kind` says;
    // throws an exception whose what() is the sentence to show.
    std::function<Result(const Path& volume, Format format, std::string_view newName, const Facts& inspected,
                         Route::Kind kind)>
        reformat;

    // The real system: the system bus, and the direct route when this process is root.
    static DriveFormatBackend standard();
    // The real system with the disk service on the bus at `busAddress` ("" for the system
    // bus); the direct route only when `privileged`.
    static DriveFormatBackend onBus(const QString& busAddress, bool privileged);
};

}  // namespace brindlecove
