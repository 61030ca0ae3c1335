#include "Tessaline/Support/ExclusiveFileLock.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <map>
#include <string>

namespace tessaline {

namespace {

std::shared_ptr<std::mutex> mutexFor(const std::filesystem::path& file) {
    static std::mutex registryMutex;
    static std::map<std::string, std::shared_ptr<std::mutex>> registry;
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& slot = registry[normalizedPath(file).native()];
    if (!slot) slot = std::make_shared<std::mutex>();
    return slot;
}

}  // namespace

ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path& file)
    : mutex_(mutexFor(file)), held_(*mutex_) {
    std::string lockPath = file.native() + ".lock";
    lockFd_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lockFd_) return;
    while (::flock(lockFd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            lockFd_.reset();
            return;
        }
    }
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (lockFd_) ::flock(lockFd_.get(), LOCK_UN);
}

}  // namespace tessaline
