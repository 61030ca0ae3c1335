#pragma once
// Decides where logs are filed (the default archive, or the folder the user chose for logs,
// remembered as bookmark data in the user defaults) and files finished scans and copies
// into it under the active job. Keeps no state besides the user defaults, so it is safe on
// any thread: filing runs on utility workers, the log store and the Logs screen call it on
// the main thread. A log that cannot be filed into the chosen folder (its drive away,
// read-only, full, any error) is filed into the default archive instead, and a notice says
// where it went and why: to the section that made the log (through fileInBackground) and to
// the Logs section (filingNotice()).

#include "BrindlecoveApp/ArchiveAccess.hpp"
#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QString>

#include <filesystem>
#include <functional>
#include <mutex>
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

    // Where this provider reads the user defaults from. A provider made from it on a worker
    // resolves, lists and changes the same archive as this one (the filing notice is this
    // object's own).
    const std::function<UserDefaults()>& defaultsSource() const { return defaults_; }

    // Where one log was filed.
    struct Filing {
        std::optional<tessaline::ArchivedLog> log;  // nullopt: filed nowhere
        // When the log is not where the Logs section says logs are saved, or nowhere: where
        // it went and why, as the section that made the log shows it.
        std::optional<QString> notice;
    };

    // File a scan or copy under the active job: into the archive in force, or, when that is
    // a chosen folder that cannot be written, into the default archive. Never throws.
    Filing fileReport(const tessaline::VerificationReport& report) const;
    Filing fileTransfer(const tessaline::TransferLog& log) const;
    // The same, giving only the log; nullopt when filing failed.
    std::optional<tessaline::ArchivedLog> archiveReport(const tessaline::VerificationReport& report) const;
    std::optional<tessaline::ArchivedLog> archiveTransfer(const tessaline::TransferLog& log) const;

    // What the screens do after a finished scan or copy: file it on a utility worker, then
    // post "Brindlecove.logArchived" on the main thread whatever the outcome. A notice is
    // handed to `onNotice` on the main thread first (a view model posting it must guard
    // itself against being gone). Main thread.
    using NoticeHandler = std::function<void(const QString& notice)>;
    void fileInBackground(tessaline::VerificationReport report, NoticeHandler onNotice = {}) const;
    void fileInBackground(tessaline::TransferLog log, NoticeHandler onNotice = {}) const;

    // The notice of the latest filing that did not go where logs are said to be saved, as
    // the Logs section shows it; nullopt once a later log was filed there, or a folder was
    // chosen. Any thread.
    std::optional<QString> filingNotice() const;

    // Removes the log's folder with everything in it, when it is still the folder that was
    // listed. Throws tessaline::LogChangedError (nothing removed), LogMountError or FileWriteError. Posts
    // nothing: the caller refreshes the log store.
    void deleteLog(const tessaline::ArchivedLog& log) const;

    // The archive's base folder now in force, created if missing (errors ignored).
    std::filesystem::path currentBaseURL() const;

    // The chosen logs folder as stored, else the default archive's base folder.
    QString displayPath() const;

    // The archive now in force with its folder access; release it after the last use.
    // A stale bookmark is renewed, and when the folder now lies elsewhere (its drive was
    // mounted at another place) the display path follows it. A chosen folder that can't be
    // reached gives the default archive, marked with the chosen folder's display path.
    ArchiveAccess resolve() const;

    // Stores the folder the user chose for logs (the Logs screen's folder choice): its
    // scoped bookmark, and its path with the subfolder as the display path. False, with
    // nothing stored, when no bookmark can be made.
    bool chooseFolder(const std::filesystem::path& folder) const;

private:
    std::optional<std::string> activeProject() const;
    template <typename Record>
    Filing file(const Record& record) const;
    // `filing`, made in the default archive instead of the chosen folder, with the notices
    // that say where it went and why.
    Filing toldFallback(Filing filing, const std::string& reason) const;
    void setFilingNotice(std::optional<QString> notice) const;

    std::function<UserDefaults()> defaults_;
    mutable std::mutex noticeLock_;
    mutable std::optional<QString> filingNotice_;  // guarded by noticeLock_
};

}  // namespace brindlecove
