#pragma once
// Makes one read-modify-write of a shared file exclusive: within the process through a
// mutex per file path (shared by every object that names that path), and between processes
// through flock(2) on "<file>.lock" beside it. Hold it for the whole load-change-save.
// When the lock file cannot be made (read-only folder), only the in-process mutex holds.

#include "Tessaline/Support/UniqueFd.hpp"

#include <filesystem>
#include <memory>
#include <mutex>

namespace tessaline {

class ExclusiveFileLock {
public:
    // Blocks until both locks are held. The folder of `file` should exist.
    explicit ExclusiveFileLock(const std::filesystem::path& file);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

private:
    std::shared_ptr<std::mutex> mutex_;
    std::unique_lock<std::mutex> held_;
    UniqueFd lockFd_;
};

}  // namespace tessaline
