#include "Tessaline/Copy/DestinationRoot.hpp"

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace tessaline {

namespace {

const std::string folderFailurePrefix = "Couldn't create destination folder: ";

// mkdir of one folder; an existing folder (or a link to one) is fine.
int makeFolder(CopyFileIO& io, const std::string& folder) {
    if (io.mkdir(folder.c_str(), 0777) == 0) return 0;
    int error = errno;
    if (error != EEXIST) return error;
    struct stat st{};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return EEXIST;
}

}  // namespace

DestinationRoot::DestinationRoot(CopyFileIO& io, std::filesystem::path root, std::optional<VolumePin> volume)
    : io_(io), root_(std::move(root)), volume_(std::move(volume)) {
    const std::string& text = root_.native();
    for (size_t pos = 1; pos <= text.size(); ++pos) {
        if (pos != text.size() && text[pos] != '/') continue;
        std::string prefix = text.substr(0, pos);
        struct stat st{};
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        if (int error = makeFolder(io_, prefix)) {
            startFailure_ = folderFailurePrefix + errnoText(error);
            return;
        }
    }
    struct stat st{};
    if (::stat(text.c_str(), &st) != 0) {
        startFailure_ = folderFailurePrefix + errnoText(errno);
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        startFailure_ = folderFailurePrefix + errnoText(ENOTDIR);
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

std::optional<std::string> DestinationRoot::unavailableReason() const {
    if (startFailure_) return startFailure_;
    struct stat st{};
    if (::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != device_ || st.st_ino != inode_)
        return std::string(CopyEngine::destinationGoneText);
    if (volume_ && (!volume_->isReachable() || !volume_->holds(root_)))
        return std::string(CopyEngine::destinationGoneText);
    return std::nullopt;
}

std::optional<std::string> DestinationRoot::createFolders(const std::string& relativeFolder) const {
    std::string folder = root_.native();
    size_t start = 0;
    while (start < relativeFolder.size()) {
        size_t end = relativeFolder.find('/', start);
        if (end == std::string::npos) end = relativeFolder.size();
        if (end > start) {
            folder += "/" + relativeFolder.substr(start, end - start);
            if (int error = makeFolder(io_, folder)) return folderFailurePrefix + errnoText(error);
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace tessaline
