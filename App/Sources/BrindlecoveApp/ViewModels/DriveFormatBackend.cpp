#include "BrindlecoveApp/ViewModels/DriveFormatBackend.hpp"

#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <unistd.h>

namespace brindlecove {

DriveFormatBackend DriveFormatBackend::standard() {
    DriveFormatBackend backend;
    backend.listCandidates = [] { return tessaline::VolumeDetector::listCandidateVolumes(); };
    backend.inspect = [](const Path& volume) { return tessaline::DriveFormatEngine::inspect(volume); };
    backend.reformat = [](const Path& volume, tessaline::DriveFormat format, std::string_view newName,
                          const Facts& inspected) {
        return tessaline::DriveFormatEngine::reformat(volume, format, newName, inspected);
    };
    backend.isPrivileged = [] { return ::geteuid() == 0; };
    return backend;
}

}  // namespace brindlecove
