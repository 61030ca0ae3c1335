#pragma once
// The persistent fingerprint cache: one SQLite file, "fingerprint-cache.db", rows keyed by
// volume label and absolute file path, so a card or drive scanned before need not have its
// files' metadata read again. A row is trusted only while the file's size is unchanged and
// its modification time within 1.5 seconds of the stored one.
//
// One connection per object, no lock of its own: one thread uses an index at a time.
// Several indexes may open the same file at once (WAL journal); no busy handler is set, so a
// write while another connection writes fails at once with SQLite's busy code.
//
// Lookups never throw (a SQLite failure reads as "nothing cached"); writes and deletes throw
// IndexError. A batch or a prune that fails leaves no transaction open and nothing of itself
// committed. The volume label for a folder comes from volumeLabel() in
// Tessaline/Volumes/VolumeLabel.hpp, the same rule the volume listing uses.

#include "Tessaline/Fingerprint.hpp"
#include "Tessaline/Index/CacheStats.hpp"
#include "Tessaline/Index/IndexError.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tessaline {

class FingerprintIndex {
public:
    static constexpr int schemaVersion = 1;

    // "<data folder>/fingerprint-cache.db" ($XDG_DATA_HOME/Brindlecove). There is no other
    // place: throws FileWriteError when the folder cannot be had; callers then run without a
    // cache.
    static std::filesystem::path defaultDatabaseURL();

    // Opens or creates the database and brings it to schema version 1 (a file at version 0
    // loses its old table). A file that SQLite reports as corrupt or not a database is
    // renamed aside ("<name>.unreadable-<stamp>", with its -wal and -shm) and a fresh cache
    // is created in its place. Throws IndexError (openFailed or sqliteError).
    explicit FingerprintIndex(const std::filesystem::path& at);
    ~FingerprintIndex();
    FingerprintIndex(const FingerprintIndex&) = delete;
    FingerprintIndex& operator=(const FingerprintIndex&) = delete;

    const std::filesystem::path& dbURL() const { return dbURL_; }

    // The cached fingerprint when the row's size equals `byteSize` and its stored
    // modification time is within 1.5 s (inclusive) of `mtime`. Never throws.
    std::optional<Fingerprint> cachedFingerprint(const std::string& volume, const std::string& path,
                                                 int64_t byteSize, EpochSeconds mtime);

    // Inserts or updates the row of (label, fingerprint.url); the row keeps its id.
    void upsert(const Fingerprint& fingerprint, const std::string& volumeLabel, EpochSeconds fsMtime);
    // All pairs in one transaction; an empty list does nothing. On failure none is kept.
    void upsertBatch(const std::vector<std::pair<Fingerprint, EpochSeconds>>& rows, const std::string& volumeLabel);

    // Every row of a label, by path.
    std::vector<Fingerprint> fingerprints(const std::string& forVolume);
    void clear(const std::string& volume);
    int count(const std::string& forVolume);

    // How many (path, byteSize) pairs have a row of the label with that path and exactly that
    // size. Modification times are not consulted. Never throws (0 on failure).
    int matchCount(const std::string& volume, const std::vector<std::pair<std::string, int64_t>>& files);
    // The same for distinct paths sorted byte-wise (as a scan lists them), read in place: no
    // copy of the label's rows or of the paths is made.
    int matchCountSorted(const std::string& volume, const std::vector<std::pair<std::string_view, int64_t>>& files);

    // Deletes the label's rows at `root` or below it whose path is not in `keepingPaths`.
    // Rows outside the root are never touched ("/r" does not reach "/r2/x").
    void prune(const std::string& volume, const std::string& underRoot,
               const std::unordered_set<std::string>& keepingPaths);
    // The same, keeping the rows whose path `keeps` answers true for (a scan asks its own
    // sorted file list, so a million paths are not copied into a set).
    void pruneExcept(const std::string& volume, const std::string& underRoot,
                     const std::function<bool(const std::string& path)>& keeps);

    CacheStats stats();
    // Deletes every row and compacts the file.
    void clearAll();

private:
    struct DatabaseCloser {
        void operator()(sqlite3* db) const noexcept;
    };
    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

    // Returns the SQLite code of a corruption found while opening (0 when none); throws others.
    int open();
    bool schemaIsComplete();
    [[noreturn]] void fail(int code) const;
    void exec(const char* sql);
    Statement prepare(const char* sql);
    Statement tryPrepare(const char* sql);

    // Declared first so that it closes after every statement has been finalized.
    std::unique_ptr<sqlite3, DatabaseCloser> db_;
    std::filesystem::path dbURL_;
    Statement lookup_;  // prepared once and reused for every file
    Statement upsert_;
};

}  // namespace tessaline
