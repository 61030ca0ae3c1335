#pragma once
// Decides where logs are filed (the default archive, or the folder the user chose for logs,
// remembered as bookmark data in the user defaults) and files finished scans and copies
// into it under the active job. Keeps no state besides the user defaults, so it is safe on
// any thread: filing runs on utility workers, the log store and the Logs screen call it on
// the main thread. Every failure is silent: an unusable chosen folder falls back to the
// default archive, and a failed filing gives nullopt.

#include "BrindlecoveApp/ArchiveAccess.hpp"
#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>

namespace tessaline {
struct VerificationReport;
struct TransferLog;
}  // namespace tessaline

namespace brindlecove {

class LogArchiveProvider {
public:
    static inline const QString bookmarkKey = QStringLiteral("Brindlecove.logsFolderBookmark");
    static inline const QString pathKey = QStringLiteral("Brindlecove.logsFolderDisplayPath");
    static inline const QString subfolder = QStringLiteral("Brindlecove Logs");

    // `defaults` is asked afresh for every operation (the standard defaults by default).
    explicit LogArchiveProvider(std::function<UserDefaults()> defaults = &UserDefaults::standard);

    // The application's provider, made on first use.
    static LogArchiveProvider& shared();

    // File a scan or copy under the active job; nullopt when filing failed.
    std::optional<tessaline::ArchivedLog> archiveReport(const tessaline::VerificationReport& report) const;
    std::optional<tessaline::ArchivedLog> archiveTransfer(const tessaline::TransferLog& log) const;

    // What the screens do after a finished scan or copy: file it on a utility worker, then
    // post "Brindlecove.logArchived" on the main thread whatever the outcome. Main thread.
    void fileInBackground(tessaline::VerificationReport report) const;
    void fileInBackground(tessaline::TransferLog log) const;

    // Removes the log's folder with everything in it; errors are ignored. Posts nothing:
    // the caller refreshes the log store.
    void deleteLog(const tessaline::ArchivedLog& log) const;

    // The archive's base folder now in force, created if missing (errors ignored).
    std::filesystem::path currentBaseURL() const;

    // The chosen logs folder as stored, else the default archive's base folder.
    QString displayPath() const;

    // The archive now in force with its folder access; release it after the last use.
    // A stale bookmark is renewed, and when the folder now lies elsewhere (its drive was
    // mounted at another place) the display path follows it.
    ArchiveAccess resolve() const;

    // Stores the folder the user chose for logs (the Logs screen's folder choice): its
    // scoped bookmark, and its path with the subfolder as the display path. False, with
    // nothing stored, when no bookmark can be made.
    bool chooseFolder(const std::filesystem::path& folder) const;

private:
    std::optional<std::string> activeProject() const;

    std::function<UserDefaults()> defaults_;
};

}  // namespace brindlecove
