#include "BrindlecoveApp/ViewModels/DriveFormatBackend.hpp"

#include "BrindlecoveApp/Platform/SystemDiskService.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <unistd.h>

namespace brindlecove {

namespace {

using tessaline::DriveFormatEngine;

DriveFormatBackend::Route routeFor(const SystemDiskService& disks, bool privileged,
                                   const DriveFormatBackend::Facts& inspected) {
    DriveFormatBackend::Route route;
    if (auto unavailable = disks.unavailableReason()) {
        if (!privileged) {
            route.problem = *unavailable;
            return route;
        }
        route.kind = DriveFormatBackend::Route::Kind::direct;
        for (auto format : tessaline::DriveFormat::allCases())
            if (auto missing = DriveFormatEngine::missingFormatProgram(format))
                route.unmakeable[format.value()] = QString::fromStdString(*missing) + QStringLiteral(" is not installed");
        return route;
    }
    route.kind = DriveFormatBackend::Route::Kind::diskService;
    for (auto format : tessaline::DriveFormat::allCases())
        if (auto problem = disks.formatProblem(format, inspected)) route.unmakeable[format.value()] = *problem;
    return route;
}

}  // namespace

std::optional<QString> DriveFormatBackend::Route::formatProblem(Format format) const {
    auto found = unmakeable.find(format.value());
    if (found == unmakeable.end()) return std::nullopt;
    return found->second;
}

DriveFormatBackend DriveFormatBackend::standard() { return onBus(QString(), ::geteuid() == 0); }

DriveFormatBackend DriveFormatBackend::onBus(const QString& busAddress, bool privileged) {
    DriveFormatBackend backend;
    const SystemDiskService disks(busAddress);
    backend.listCandidates = [] { return tessaline::VolumeDetector::listCandidateVolumes(); };
    backend.inspect = [disks](const Path& volume) {
        Facts facts = DriveFormatEngine::inspect(volume);
        // The service tells any user the file system's type, which a user without privilege
        // cannot probe.
        if (auto known = disks.currentFormat(facts.deviceIdentifier)) facts.filesystem = known->toStdString();
        return facts;
    };
    backend.route = [disks, privileged](const Facts& inspected) {
        try {
            return routeFor(disks, privileged, inspected);
        } catch (const std::exception& e) {
            Route none;
            none.problem = QString::fromStdString(e.what());
            return none;
        }
    };
    backend.reformat = [disks](const Path& volume, Format format, std::string_view newName, const Facts& inspected,
                               Route::Kind kind) {
        Result result;
        switch (kind) {
            case Route::Kind::diskService: {
                // The volume at the path must still be the one the user checked once the right
                // to format is obtained, right before anything is unmounted; its block device
                // is what the service formats.
                auto done = disks.reformat(
                    inspected, format,
                    QString::fromStdString(DriveFormatEngine::labelFor(format, newName, inspected.volumeName)),
                    [&] { return DriveFormatEngine::confirmSame(volume, inspected); });
                result.mountPath = done.mountPath;
                result.notMountedReason = done.notMountedReason;
                break;
            }
            case Route::Kind::direct: DriveFormatEngine::reformat(volume, format, newName, inspected); break;
            case Route::Kind::none:
                throw tessaline::DriveFormatError::diskutilFailed("Nothing can reformat a volume here.");
        }
        return result;
    };
    return backend;
}

}  // namespace brindlecove
