#pragma once
// The folder that receives a plain-text copy of every scan report, chosen in Settings and
// remembered as bookmark data under "Brindlecove.reportsFolderBookmark". No state of its
// own: every call reads the user defaults and resolves the bookmark afresh. Any thread.

#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include <QString>

#include <filesystem>
#include <optional>

namespace brindlecove::ReportsFolderStore {

inline const QString bookmarkKey = QStringLiteral("Brindlecove.reportsFolderBookmark");

// Whether a folder is stored; it is not resolved, so an unreachable folder still counts.
bool isConfigured(const UserDefaults& defaults = UserDefaults::standard());

// The folder, or nullopt. A stale scoped bookmark is renewed; a plain one is used as is.
std::optional<std::filesystem::path> resolvedURL(const UserDefaults& defaults = UserDefaults::standard());

// Writes `text` as UTF-8 to `filename` (it must not contain "/") in the folder, atomically,
// and returns the file's path. An existing file is never replaced: when the name is taken
// the file gets the first free "<stem> 2.<ext>", "<stem> 3.<ext>" ... instead. Throws
// AppError ("Brindlecove", 1, "No reports folder is set.") when none is set, AppError
// ("Brindlecove", 2, "The reports folder can't be reached.") when the set one can't be
// found (its drive away), and the write's own error (tessaline::FileWriteError) unchanged
// when writing fails.
std::filesystem::path write(const QString& text, const QString& filename,
                            const UserDefaults& defaults = UserDefaults::standard());

// Stores the chosen folder (Settings' "Choose Folder…"): a scoped bookmark, else a plain
// one. False, with the earlier folder kept, when neither can be made.
bool choose(const std::filesystem::path& folder, const UserDefaults& defaults = UserDefaults::standard());
// Forgets the folder (Settings' "Stop Saving Here").
void clear(const UserDefaults& defaults = UserDefaults::standard());

}  // namespace brindlecove::ReportsFolderStore
