#include "BrindlecoveApp/ArchiveAccess.hpp"

namespace brindlecove {

ArchiveAccess::ArchiveAccess(tessaline::LogArchive archive, std::function<void()> release)
    : archive_(std::move(archive)), release_(std::move(release)) {}

ArchiveAccess::~ArchiveAccess() { release(); }

ArchiveAccess::ArchiveAccess(ArchiveAccess&& other) noexcept
    : archive_(other.archive_),
      release_(std::exchange(other.release_, nullptr)),
      unreachableFolder_(std::move(other.unreachableFolder_)) {}

void ArchiveAccess::release() {
    if (auto release = std::exchange(release_, nullptr)) release();
}

}  // namespace brindlecove
