#pragma once
// A resolved log archive together with the folder access opened to reach it. The access is
// released exactly once: by release() or, at the latest, when the object dies (also when
// the caller throws). Move-only.

#include "Tessaline/Report/LogArchive.hpp"

#include <functional>

namespace brindlecove {

class ArchiveAccess {
public:
    ArchiveAccess(tessaline::LogArchive archive, std::function<void()> release);
    ~ArchiveAccess();
    ArchiveAccess(ArchiveAccess&& other) noexcept;
    ArchiveAccess& operator=(ArchiveAccess&&) = delete;
    ArchiveAccess(const ArchiveAccess&) = delete;
    ArchiveAccess& operator=(const ArchiveAccess&) = delete;

    const tessaline::LogArchive& archive() const { return archive_; }
    const tessaline::LogArchive* operator->() const { return &archive_; }
    void release();

private:
    tessaline::LogArchive archive_;
    std::function<void()> release_;
};

}  // namespace brindlecove
