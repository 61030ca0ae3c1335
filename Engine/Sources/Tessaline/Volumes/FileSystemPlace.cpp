#include "Tessaline/Volumes/FileSystemPlace.hpp"

namespace tessaline {

bool FileSystemPlace::isSameFileSystem(const FileSystemPlace& other) const {
    return device == other.device || (uuid && other.uuid && *uuid == *other.uuid);
}

bool FileSystemPlace::isSameOrBelow(const FileSystemPlace& folder) const {
    if (!isSameFileSystem(folder)) return false;
    if (path == folder.path || folder.path == "/") return true;
    return path.size() > folder.path.size() && path.compare(0, folder.path.size(), folder.path) == 0 &&
           path[folder.path.size()] == '/';
}

}  // namespace tessaline
