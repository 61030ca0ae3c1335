#include "Tessaline/Index/FingerprintIndex.hpp"

#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/RenameAside.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr const char* creationScript = R"(CREATE TABLE IF NOT EXISTS fingerprints (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    volume_label  TEXT NOT NULL,
    file_path     TEXT NOT NULL,
    byte_size     INTEGER NOT NULL,
    fs_mtime      REAL NOT NULL,
    capture_date  REAL,
    has_camera_ts INTEGER NOT NULL DEFAULT 0,
    ts_source     TEXT,
    duration      REAL,
    make          TEXT,
    model         TEXT,
    codec         TEXT,
    width         INTEGER,
    height        INTEGER,
    scanned_at    REAL NOT NULL,
    UNIQUE(volume_label, file_path)
);
CREATE INDEX IF NOT EXISTS idx_volume ON fingerprints(volume_label);
CREATE INDEX IF NOT EXISTS idx_capture ON fingerprints(volume_label, capture_date, byte_size);
PRAGMA user_version = )";

constexpr const char* lookupSql = R"(SELECT file_path, byte_size, capture_date, has_camera_ts, ts_source,
       duration, make, model, codec, width, height, fs_mtime
FROM fingerprints WHERE volume_label = ? AND file_path = ?;)";

constexpr const char* upsertSql = R"(INSERT INTO fingerprints
    (volume_label, file_path, byte_size, fs_mtime,
     capture_date, has_camera_ts, ts_source,
     duration, make, model, codec, width, height,
     scanned_at)
VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)
ON CONFLICT(volume_label, file_path) DO UPDATE SET
    byte_size      = excluded.byte_size,
    fs_mtime       = excluded.fs_mtime,
    capture_date   = excluded.capture_date,
    has_camera_ts  = excluded.has_camera_ts,
    ts_source      = excluded.ts_source,
    duration       = excluded.duration,
    make           = excluded.make,
    model          = excluded.model,
    codec          = excluded.codec,
    width          = excluded.width,
    height         = excluded.height,
    scanned_at     = excluded.scanned_at;)";

constexpr const char* volumeRowsSql = R"(SELECT file_path, byte_size, capture_date, has_camera_ts, ts_source,
       duration, make, model, codec, width, height
FROM fingerprints
WHERE volume_label = ?
ORDER BY file_path;)";

constexpr const char* statsSql = R"(SELECT volume_label, COUNT(*), MAX(scanned_at)
FROM fingerprints GROUP BY volume_label ORDER BY volume_label;)";

bool isCorruption(int code) { return (code & 0xFF) == SQLITE_NOTADB || (code & 0xFF) == SQLITE_CORRUPT; }

// Resets a reused statement and clears its bindings when the scope ends.
struct ResetOnExit {
    sqlite3_stmt* statement;
    ~ResetOnExit() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindOptionalText(sqlite3_stmt* s, int index, const std::optional<std::string>& text) {
    if (text)
        bindText(s, index, *text);
    else
        sqlite3_bind_null(s, index);
}

void bindOptionalDouble(sqlite3_stmt* s, int index, const std::optional<double>& value) {
    if (value)
        sqlite3_bind_double(s, index, *value);
    else
        sqlite3_bind_null(s, index);
}

void bindOptionalInt(sqlite3_stmt* s, int index, const std::optional<int>& value) {
    if (value)
        sqlite3_bind_int64(s, index, *value);
    else
        sqlite3_bind_null(s, index);
}

bool isNull(sqlite3_stmt* s, int column) { return sqlite3_column_type(s, column) == SQLITE_NULL; }

std::optional<std::string> columnText(sqlite3_stmt* s, int column) {
    if (isNull(s, column)) return std::nullopt;
    const unsigned char* text = sqlite3_column_text(s, column);
    int bytes = sqlite3_column_bytes(s, column);
    if (!text) return std::string();
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
}

std::optional<double> columnDouble(sqlite3_stmt* s, int column) {
    if (isNull(s, column)) return std::nullopt;
    return sqlite3_column_double(s, column);
}

// Widths and heights are stored as integers; a value outside int's range reads as absent.
std::optional<int> columnInt(sqlite3_stmt* s, int column) {
    if (isNull(s, column)) return std::nullopt;
    sqlite3_int64 value = sqlite3_column_int64(s, column);
    if (value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

// Columns 0 to 10 of a row as a Fingerprint; nullopt for a foreign row without a path. The
// timestamp invariants are restored for rows this cache did not write: an unknown source
// reads as "no timestamp", and a source without a date (or "no timestamp" with one) leaves
// no date and no camera flag.
std::optional<Fingerprint> rowFingerprint(sqlite3_stmt* s) {
    auto path = columnText(s, 0);
    if (!path) return std::nullopt;
    Fingerprint fingerprint{.url = std::move(*path),
                            .byteSize = sqlite3_column_int64(s, 1),
                            .captureDate = columnDouble(s, 2),
                            .duration = columnDouble(s, 5),
                            .cameraMake = columnText(s, 6),
                            .cameraModel = columnText(s, 7),
                            .codec = columnText(s, 8),
                            .width = columnInt(s, 9),
                            .height = columnInt(s, 10)};
    auto sourceText = columnText(s, 4);
    TimestampSource source = TimestampSource::none;
    if (sourceText)
        if (auto known = timestampSourceFromRaw(*sourceText)) source = *known;
    if (!fingerprint.captureDate || source == TimestampSource::none) {
        fingerprint.captureDate.reset();
        source = TimestampSource::none;
    }
    fingerprint.timestampSource = source;
    fingerprint.hasCameraTimestamp = isEmbedded(source);
    return fingerprint;
}

}  // namespace

void FingerprintIndex::DatabaseCloser::operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
void FingerprintIndex::StatementFinalizer::operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }

fs::path FingerprintIndex::defaultDatabaseURL() {
    errno = 0;
    auto folder = applicationDataFolder();
    if (!folder) {
        int error = errno ? errno : EACCES;
        const char* xdg = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        fs::path base = xdg && *xdg ? fs::path(xdg) : fs::path(home ? home : "~") / ".local" / "share";
        throw FileWriteError(base / "Brindlecove", error);
    }
    return *folder / "fingerprint-cache.db";
}

FingerprintIndex::FingerprintIndex(const fs::path& at) : dbURL_(at) {
    int corruption = open();
    if (corruption == 0) return;
    // The file is not a usable database: keep it aside for inspection and start afresh,
    // otherwise every later launch would run without a cache. The companions are moved
    // while the connection is still open, since closing it may delete them; a fresh
    // database must never replay another file's write-ahead log.
    auto aside = renameAsideUnreadable(at);
    if (aside) {
        for (const char* suffix : {"-wal", "-shm"}) {
            fs::path companion = at.native() + suffix;
            if (::access(companion.c_str(), F_OK) == 0 &&
                std::rename(companion.c_str(), (aside->native() + suffix).c_str()) != 0)
                ::unlink(companion.c_str());
        }
    }
    lookup_.reset();
    upsert_.reset();
    db_.reset();
    if (!aside) throw IndexError::sqliteError(corruption, "the cache file is damaged and could not be set aside");
    if (int again = open(); again != 0) throw IndexError::sqliteError(again, sqlite3_errstr(again));
}

FingerprintIndex::~FingerprintIndex() = default;

int FingerprintIndex::open() {
    // A FIFO or a device under the cache's name would block SQLite's reads for ever: it is
    // no database, so it is set aside like a damaged one.
    struct stat st{};
    if (::stat(dbURL_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return SQLITE_NOTADB;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(dbURL_.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(raw);  // a handle is returned even on failure and must be closed
    if (rc != SQLITE_OK) throw IndexError::openFailed(dbURL_.native(), rc);

    // Its result is not examined (some network file systems stay in rollback mode), except
    // that it is the first statement to read the file and so the first to see a foreign one.
    rc = sqlite3_exec(db_.get(), "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    if (isCorruption(rc)) return rc;

    sqlite3_stmt* rawVersion = nullptr;
    rc = sqlite3_prepare_v2(db_.get(), "PRAGMA user_version;", -1, &rawVersion, nullptr);
    Statement version(rawVersion);
    if (isCorruption(rc)) return rc;
    if (rc != SQLITE_OK) fail(rc);
    rc = sqlite3_step(version.get());
    if (isCorruption(rc)) return rc;
    // A version that cannot be read is an error, never a reason to drop the table.
    if (rc != SQLITE_ROW) fail(rc);
    int current = sqlite3_column_int(version.get(), 0);
    version.reset();

    if (current < schemaVersion) {
        rc = sqlite3_exec(db_.get(), "DROP TABLE IF EXISTS fingerprints;", nullptr, nullptr, nullptr);
        if (isCorruption(rc)) return rc;
        if (rc != SQLITE_OK) fail(rc);
    }
    // A file already at version 1 with its table and both indexes is left as it is: the
    // script would change nothing there, yet setting user_version is a write that costs a
    // commit (10 ms measured) and makes the last close checkpoint the log (12 ms more), on
    // every open of a cache that is only being read.
    if (current == schemaVersion && schemaIsComplete()) return 0;
    std::string script = std::string(creationScript) + std::to_string(schemaVersion) + ";";
    rc = sqlite3_exec(db_.get(), script.c_str(), nullptr, nullptr, nullptr);
    if (isCorruption(rc)) return rc;
    if (rc != SQLITE_OK) fail(rc);
    return 0;
}

bool FingerprintIndex::schemaIsComplete() {
    Statement statement = tryPrepare(
        "SELECT COUNT(*) FROM sqlite_master WHERE (type = 'table' AND name = 'fingerprints') OR "
        "(type = 'index' AND name IN ('idx_volume', 'idx_capture'));");
    return statement && sqlite3_step(statement.get()) == SQLITE_ROW && sqlite3_column_int(statement.get(), 0) == 3;
}

void FingerprintIndex::fail(int code) const {
    throw IndexError::sqliteError(code, db_ ? sqlite3_errmsg(db_.get()) : "unknown");
}

void FingerprintIndex::exec(const char* sql) {
    int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

FingerprintIndex::Statement FingerprintIndex::tryPrepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    return Statement(raw);
}

FingerprintIndex::Statement FingerprintIndex::prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) fail(rc);
    return statement;
}

std::optional<Fingerprint> FingerprintIndex::cachedFingerprint(const std::string& volume, const std::string& path,
                                                               int64_t byteSize, EpochSeconds mtime) {
    if (!lookup_) lookup_ = tryPrepare(lookupSql);
    if (!lookup_) return std::nullopt;
    sqlite3_stmt* s = lookup_.get();
    ResetOnExit resetOnExit{s};
    bindText(s, 1, volume);
    bindText(s, 2, path);
    if (sqlite3_step(s) != SQLITE_ROW) return std::nullopt;
    if (sqlite3_column_int64(s, 1) != byteSize) return std::nullopt;
    if (!(std::fabs(sqlite3_column_double(s, 11) - mtime) <= 1.5)) return std::nullopt;
    try {
        return rowFingerprint(s);
    } catch (...) {
        return std::nullopt;
    }
}

void FingerprintIndex::upsert(const Fingerprint& f, const std::string& volumeLabel, EpochSeconds fsMtime) {
    if (!upsert_) upsert_ = prepare(upsertSql);
    sqlite3_stmt* s = upsert_.get();
    ResetOnExit resetOnExit{s};
    EpochSeconds now = nowEpoch();
    bindText(s, 1, volumeLabel);
    bindText(s, 2, f.url.native());
    sqlite3_bind_int64(s, 3, f.byteSize);
    sqlite3_bind_double(s, 4, fsMtime);
    bindOptionalDouble(s, 5, f.captureDate);
    sqlite3_bind_int(s, 6, f.hasCameraTimestamp ? 1 : 0);
    bindText(s, 7, std::string(rawValue(f.timestampSource)));
    bindOptionalDouble(s, 8, f.duration);
    bindOptionalText(s, 9, f.cameraMake);
    bindOptionalText(s, 10, f.cameraModel);
    bindOptionalText(s, 11, f.codec);
    bindOptionalInt(s, 12, f.width);
    bindOptionalInt(s, 13, f.height);
    sqlite3_bind_double(s, 14, now);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) fail(rc);
}

void FingerprintIndex::upsertBatch(const std::vector<std::pair<Fingerprint, EpochSeconds>>& rows,
                                   const std::string& volumeLabel) {
    if (rows.empty()) return;
    exec("BEGIN IMMEDIATE;");
    try {
        for (const auto& [fingerprint, fsMtime] : rows) upsert(fingerprint, volumeLabel, fsMtime);
    } catch (...) {
        sqlite3_exec(db_.get(), "ROLLBACK;", nullptr, nullptr, nullptr);
        throw;
    }
    int rc = sqlite3_exec(db_.get(), "COMMIT;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        IndexError error = IndexError::sqliteError(rc, sqlite3_errmsg(db_.get()));
        sqlite3_exec(db_.get(), "ROLLBACK;", nullptr, nullptr, nullptr);
        throw error;
    }
}

std::vector<Fingerprint> FingerprintIndex::fingerprints(const std::string& forVolume) {
    Statement statement = prepare(volumeRowsSql);
    bindText(statement.get(), 1, forVolume);
    std::vector<Fingerprint> result;
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        if (auto fingerprint = rowFingerprint(statement.get())) result.push_back(std::move(*fingerprint));
    return result;
}

void FingerprintIndex::clear(const std::string& volume) {
    Statement statement = prepare("DELETE FROM fingerprints WHERE volume_label = ?;");
    bindText(statement.get(), 1, volume);
    int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE) fail(rc);
}

int FingerprintIndex::count(const std::string& forVolume) {
    Statement statement = prepare("SELECT COUNT(*) FROM fingerprints WHERE volume_label = ?;");
    bindText(statement.get(), 1, forVolume);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return 0;
    return sqlite3_column_int(statement.get(), 0);
}

int FingerprintIndex::matchCount(const std::string& volume, const std::vector<std::pair<std::string, int64_t>>& files) {
    try {
        Statement statement = tryPrepare("SELECT file_path, byte_size FROM fingerprints WHERE volume_label = ?;");
        if (!statement) return 0;
        bindText(statement.get(), 1, volume);
        std::unordered_map<std::string, int64_t> sizes;
        while (sqlite3_step(statement.get()) == SQLITE_ROW)
            if (auto path = columnText(statement.get(), 0))
                sizes.emplace(std::move(*path), sqlite3_column_int64(statement.get(), 1));
        int matches = 0;
        for (const auto& [path, byteSize] : files)
            if (auto it = sizes.find(path); it != sizes.end() && it->second == byteSize) ++matches;
        return matches;
    } catch (...) {
        return 0;
    }
}

int FingerprintIndex::matchCountSorted(const std::string& volume,
                                       const std::vector<std::pair<std::string_view, int64_t>>& files) {
    try {
        Statement statement = tryPrepare("SELECT file_path, byte_size FROM fingerprints WHERE volume_label = ?;");
        if (!statement) return 0;
        bindText(statement.get(), 1, volume);
        int matches = 0;
        while (sqlite3_step(statement.get()) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement.get(), 0);
            if (!text) continue;
            const std::string_view path(reinterpret_cast<const char*>(text),
                                        static_cast<size_t>(sqlite3_column_bytes(statement.get(), 0)));
            auto at = std::lower_bound(files.begin(), files.end(), path,
                                       [](const auto& file, std::string_view p) { return file.first < p; });
            if (at != files.end() && at->first == path && at->second == sqlite3_column_int64(statement.get(), 1)) ++matches;
        }
        return matches;
    } catch (...) {
        return 0;
    }
}

void FingerprintIndex::prune(const std::string& volume, const std::string& underRoot,
                             const std::unordered_set<std::string>& keepingPaths) {
    pruneExcept(volume, underRoot, [&](const std::string& path) { return keepingPaths.contains(path); });
}

void FingerprintIndex::pruneExcept(const std::string& volume, const std::string& underRoot,
                                   const std::function<bool(const std::string& path)>& keeps) {
    std::vector<sqlite3_int64> ids;
    {
        Statement select = prepare("SELECT id, file_path FROM fingerprints WHERE volume_label = ?;");
        bindText(select.get(), 1, volume);
        std::string prefix = !underRoot.empty() && underRoot.back() == '/' ? underRoot : underRoot + "/";
        while (sqlite3_step(select.get()) == SQLITE_ROW) {
            auto path = columnText(select.get(), 1);
            if (!path) continue;
            bool candidate = path->starts_with(prefix) || *path == underRoot;
            if (candidate && !keeps(*path)) ids.push_back(sqlite3_column_int64(select.get(), 0));
        }
    }
    if (ids.empty()) return;
    exec("BEGIN IMMEDIATE;");
    try {
        Statement remove = prepare("DELETE FROM fingerprints WHERE id = ?;");
        for (sqlite3_int64 id : ids) {
            sqlite3_bind_int64(remove.get(), 1, id);
            sqlite3_step(remove.get());
            sqlite3_reset(remove.get());
        }
        remove.reset();
        exec("COMMIT;");
    } catch (...) {
        sqlite3_exec(db_.get(), "ROLLBACK;", nullptr, nullptr, nullptr);
        throw;
    }
}

CacheStats FingerprintIndex::stats() {
    Statement statement = prepare(statsSql);
    CacheStats stats;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        CacheStats::VolumeStat volume{.label = columnText(statement.get(), 0).value_or(""),
                                      .fileCount = sqlite3_column_int(statement.get(), 1),
                                      .lastScanned = columnDouble(statement.get(), 2)};
        stats.totalRows += volume.fileCount;
        stats.volumes.push_back(std::move(volume));
    }
    struct stat st{};
    if (::stat(dbURL_.c_str(), &st) == 0) stats.databaseBytes = static_cast<int64_t>(st.st_size);
    return stats;
}

void FingerprintIndex::clearAll() {
    exec("DELETE FROM fingerprints;");
    sqlite3_exec(db_.get(), "VACUUM;", nullptr, nullptr, nullptr);
    // Folds the write-ahead log back so the file's size shown in Settings is the real one.
    sqlite3_exec(db_.get(), "PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr);
}

}  // namespace tessaline
