#pragma once
// A resolved log archive together with the folder access opened to reach it. The access is
// released exactly once: by release() or, at the latest, when the object dies (also when
// the caller throws). Move-only.

#include "Tessaline/Report/LogArchive.hpp"

#include <QString>

#include <functional>
#include <optional>

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
    // The chosen logs folder as shown, when it could not be reached and this is the default
    // archive in its place; nullopt otherwise.
    const std::optional<QString>& unreachableFolder() const { return unreachableFolder_; }
    void setUnreachableFolder(QString folder) { unreachableFolder_ = std::move(folder); }
    const tessaline::LogArchive* operator->() const { return &archive_; }
    void release();

private:
    tessaline::LogArchive archive_;
    std::function<void()> release_;
    std::optional<QString> unreachableFolder_;
};

}  // namespace brindlecove
