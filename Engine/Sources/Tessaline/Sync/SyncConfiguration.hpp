#pragma once
// Every sync pair plus the two settle times all sync runs share: the whole content of
// "sync-config.json". Plain value; the sync manager owns the live copy and hands copies to
// the coordinator. load/save block on file I/O; safe on any thread for distinct paths.

#include "Tessaline/Copy/SettleOptions.hpp"
#include "Tessaline/Sync/SyncPair.hpp"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

// "sync-config.json" exists but is not a valid configuration.
// what(): "The sync pairs in <path> can't be read: <detail>."
class SyncConfigurationError : public std::runtime_error {
public:
    SyncConfigurationError(std::filesystem::path path, const std::string& detail);
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct SyncConfiguration {
    std::vector<SyncPair> pairs;  // in the order the user added them
    double settleQuietSeconds = 0;
    double settleTimeoutSeconds = 0;

    // The fallback used when the file is missing or unreadable: no pairs, 3.0 s and 120.0 s.
    static SyncConfiguration fallback();

    // "<data folder>/sync-config.json". Never fails.
    static std::filesystem::path defaultURL();

    // Reads and decodes the whole file; no partial result. Throws FileReadError (a missing
    // file has error() == ENOENT) or SyncConfigurationError.
    static SyncConfiguration load(const std::filesystem::path& url);

    // Creates the parent folders, then writes the file atomically: pretty-printed, keys
    // sorted, "/" escaped. Throws FileWriteError; nothing is written when the folder fails.
    void save(const std::filesystem::path& url) const;

    // Moves an existing file that failed to load aside, to
    // "sync-config.json.unreadable-<yyyyMMdd-HHmmss>", so that the next save does not drop
    // every pair. Returns the new path; nullopt when there was no file or it could not move.
    static std::optional<std::filesystem::path> preserveUnreadable(const std::filesystem::path& url);

    // The enabled pairs whose source label equals `label` ignoring letter case only (with
    // canonical equivalence; no trimming), in list order.
    std::vector<SyncPair> pairsForMountedLabel(std::string_view label) const;

    // The settle wait of every sync run: quiet and time-out as configured, polled every 0.5 s.
    SettleOptions settleOptions() const { return SettleOptions{settleQuietSeconds, settleTimeoutSeconds, 0.5}; }

    // The file's text.
    std::string jsonText() const;
    // Parses the file's text; throws SyncConfigurationError naming `url`.
    static SyncConfiguration fromJsonText(const std::string& text, const std::filesystem::path& url);

    friend bool operator==(const SyncConfiguration&, const SyncConfiguration&) = default;
};

}  // namespace tessaline
