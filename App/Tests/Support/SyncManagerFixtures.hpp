#pragma once
// Shared set-up of the sync manager's tests: pairs, the activity's message text, the manager's
// environment inside a test's sandbox, and a coordinator whose runs copy nothing. Main thread.

#include "BrindlecoveApp/ViewModels/SyncManager.hpp"

#include <QString>

#include <filesystem>
#include <string>

namespace brindlecove::testing {

// An enabled (or not) pair with a fresh id.
tessaline::SyncPair syncPair(const std::string& name, const std::string& label,
                             const std::filesystem::path& destination, bool enabled = true);

// An activity line's text after its time and the two blanks.
QString activityMessage(const QString& line);

// A manager's environment inside `sandbox`: configuration and history under sandbox/app, and a
// login item `appId` in `autostartFolder` that runs /bin/true. Volumes, coordinator and clock
// stay the real ones until the caller sets them.
SyncManager::Environment sandboxSyncEnvironment(const std::filesystem::path& sandbox, const QString& autostartFolder,
                                                const QString& appId);

// A real coordinator over `listVolumes` whose runs copy nothing and finish at once (marked
// stopped when `stopped`). Its watcher hands no mount on: other programs mount volumes while
// tests run, and a test sees only the mounts it hands to the coordinator itself.
SyncManager::CoordinatorFactory standInCoordinator(SyncManager::VolumeLister listVolumes, bool stopped = false);

}  // namespace brindlecove::testing
