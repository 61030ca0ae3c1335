#pragma once
// What the reformat needs of the system, behind plain functions: the candidate volumes, the
// engine's inspection and reformat, and whether this process may reformat at all (creating a
// file system needs root here). standard() is the real system; tests replace single
// functions. Safe on any thread.

#include "Tessaline/Format/DriveFormatEngine.hpp"
#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove {

struct DriveFormatBackend {
    using Path = std::filesystem::path;
    using Facts = tessaline::DriveFormatEngine::VolumeFacts;

    std::function<std::vector<tessaline::VolumeInfo>()> listCandidates;
    std::function<Facts(const Path& volume)> inspect;
    // Reformats the volume that `inspected` describes; returns the tool's output.
    std::function<std::string(const Path& volume, tessaline::DriveFormat format, std::string_view newName,
                              const Facts& inspected)>
        reformat;
    // Whether this process has the rights to unmount and format a device.
    std::function<bool()> isPrivileged;

    static DriveFormatBackend standard();
};

}  // namespace brindlecove
