#pragma once
// Where the program keeps its own files. Every default location is computed from here, so
// setting XDG_DATA_HOME redirects all of them (tests do this). Safe on any thread.

#include <filesystem>
#include <optional>

namespace tessaline {

// "${XDG_DATA_HOME:-$HOME/.local/share}/Brindlecove", created with mode 0700.
// nullopt when it cannot be found or created.
std::optional<std::filesystem::path> applicationDataFolder();

// The temporary-folder fallback for stores that allow one: "$XDG_RUNTIME_DIR/Brindlecove",
// else "/tmp/Brindlecove-<uid>", created 0700 and checked to be ours and private (/tmp is
// shared with other users). nullopt when neither can be had safely.
std::optional<std::filesystem::path> temporaryDataFolder();

// applicationDataFolder(), else temporaryDataFolder(). Throws FileWriteError when neither works.
std::filesystem::path dataFolderWithFallback();

// `relative` inside dataFolderWithFallback(), for the default place of a store that allows
// the temporary fallback. Never throws: when no folder can be had it answers the nominal
// "$XDG_DATA_HOME/Brindlecove" place, so a later write fails with a clear error there
// instead of landing in a folder shared with other users.
std::filesystem::path dataFilePath(const std::filesystem::path& relative);

}  // namespace tessaline
