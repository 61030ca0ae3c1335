#include "BrindlecoveApp/LogArchiveProvider.hpp"

#include "BrindlecoveApp/MemoryRelease.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/FolderBookmark.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/DateText.hpp"

#include <QFile>
#include <QtGlobal>

#include <exception>
#include <memory>
#include <system_error>

namespace brindlecove {
namespace fs = std::filesystem;

namespace {

QString qtPath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "An unknown error occurred.";
    }
}

template <typename Record>
tessaline::ArchivedLog archiveInto(const tessaline::LogArchive& archive, const Record& record,
                                   const std::optional<std::string>& project) {
    return archive.archive(record, project, tessaline::nowEpoch());
}

}  // namespace

LogArchiveProvider::LogArchiveProvider(std::function<UserDefaults()> defaults)
    : defaults_(std::move(defaults)) {}

LogArchiveProvider& LogArchiveProvider::shared() {
    static LogArchiveProvider provider;
    return provider;
}

std::optional<std::string> LogArchiveProvider::activeProject() const {
    std::optional<QString> stored = defaults_().string(QStringLiteral("Brindlecove.activeProject"));
    if (!stored || stored->isEmpty()) return std::nullopt;
    return stored->toStdString();
}

ArchiveAccess LogArchiveProvider::resolve() const {
    const UserDefaults defaults = defaults_();
    auto defaultAccess = [] { return ArchiveAccess(tessaline::LogArchive::defaultArchive(), [] {}); };
    std::optional<QByteArray> data = defaults.data(bookmarkKey);
    if (!data) return defaultAccess();

    auto renew = [&](const FolderBookmark::Resolved& resolved, bool scoped) {
        if (!resolved.stale) return;
        std::optional<QByteArray> fresh = FolderBookmark::make(resolved.folder, scoped);
        if (!fresh) return;
        defaults.setValue(bookmarkKey, *fresh);
        // The folder's drive now mounts elsewhere: show where logs really go.
        defaults.setValue(pathKey, qtPath(resolved.folder / subfolder.toStdString()));
    };

    if (std::optional<FolderBookmark::Resolved> scoped = FolderBookmark::resolve(*data, true);
        scoped && FolderBookmark::startAccess(scoped->folder)) {
        renew(*scoped, true);
        return ArchiveAccess(tessaline::LogArchive(scoped->folder / subfolder.toStdString()), [] {});
    }
    if (std::optional<FolderBookmark::Resolved> plain = FolderBookmark::resolve(*data, false)) {
        std::error_code error;
        if (fs::exists(plain->folder, error)) {
            renew(*plain, false);
            return ArchiveAccess(tessaline::LogArchive(plain->folder / subfolder.toStdString()), [] {});
        }
    }
    ArchiveAccess fallback = defaultAccess();
    fallback.setUnreachableFolder(displayPath());
    return fallback;
}

template <typename Record>
LogArchiveProvider::Filing LogArchiveProvider::file(const Record& record) const {
    const std::optional<std::string> project = activeProject();
    const fs::path defaultBase = tessaline::LogArchive::defaultArchive().baseDirectory();
    std::string reason;
    fs::path chosenBase;
    try {
        ArchiveAccess access = resolve();
        chosenBase = access->baseDirectory();
        // The chosen folder's drive is away: the log goes to the default archive, and that is
        // told like any other fallback.
        if (const std::optional<QString>& away = access.unreachableFolder())
            reason = QStringLiteral("%1 can't be reached").arg(*away).toStdString();
        Filing filing{archiveInto(access.archive(), record, project), std::nullopt};
        if (reason.empty()) {
            setFilingNotice(std::nullopt);
            return filing;
        }
        return toldFallback(std::move(filing), reason);
    } catch (...) {
        reason = describe(std::current_exception());
    }
    qWarning("Couldn't file the log: %s", reason.c_str());
    // A chosen folder that can't be written (read-only, full, a link): the log goes to the
    // default archive rather than nowhere, and both sections say so.
    if (!chosenBase.empty() && chosenBase != defaultBase) {
        try {
            const tessaline::LogArchive fallback = tessaline::LogArchive::defaultArchive();
            return toldFallback(Filing{archiveInto(fallback, record, project), std::nullopt}, reason);
        } catch (...) {
            qWarning("Couldn't file the log in the default archive either: %s", describe(std::current_exception()).c_str());
        }
    }
    const QString why = QString::fromStdString(reason);
    setFilingNotice(QStringLiteral("The last log couldn't be saved anywhere: %1").arg(why));
    return Filing{std::nullopt, QStringLiteral("This log couldn't be saved: %1").arg(why)};
}

LogArchiveProvider::Filing LogArchiveProvider::toldFallback(Filing filing, const std::string& reason) const {
    const QString where = qtPath(filing.log->directory);
    const QString why = QString::fromStdString(reason);
    filing.notice = QStringLiteral("This log couldn't be saved in the logs folder (%1) — it was saved in %2 "
                                   "instead.").arg(why, where);
    setFilingNotice(QStringLiteral("The last log couldn't be saved here (%1) — it was saved in %2 "
                                   "instead.").arg(why, where));
    return filing;
}

LogArchiveProvider::Filing LogArchiveProvider::fileReport(const tessaline::VerificationReport& report) const {
    return file(report);
}

LogArchiveProvider::Filing LogArchiveProvider::fileTransfer(const tessaline::TransferLog& log) const {
    return file(log);
}

std::optional<tessaline::ArchivedLog> LogArchiveProvider::archiveReport(
    const tessaline::VerificationReport& report) const {
    return fileReport(report).log;
}

std::optional<tessaline::ArchivedLog> LogArchiveProvider::archiveTransfer(const tessaline::TransferLog& log) const {
    return fileTransfer(log).log;
}

std::optional<QString> LogArchiveProvider::filingNotice() const {
    std::lock_guard guard(noticeLock_);
    return filingNotice_;
}

void LogArchiveProvider::setFilingNotice(std::optional<QString> notice) const {
    std::lock_guard guard(noticeLock_);
    filingNotice_ = std::move(notice);
}

namespace {

// Hands a notice to the main thread, then lets the log store re-list (in this order, so the
// section that made the log shows its notice no later than the Logs section).
void announce(const std::optional<QString>& notice, const LogArchiveProvider::NoticeHandler& onNotice) {
    if (notice && onNotice) MainThread::post([onNotice, text = *notice] { onNotice(text); });
    AppEvents::postLogArchived();
}

}  // namespace

void LogArchiveProvider::fileInBackground(tessaline::VerificationReport report, NoticeHandler onNotice) const {
    auto shared = std::make_shared<tessaline::VerificationReport>(std::move(report));
    Executor::shared().utility([this, shared, onNotice = std::move(onNotice)] {
        announce(fileReport(*shared).notice, onNotice);
        giveBackFreedMemory();
    });
}

void LogArchiveProvider::fileInBackground(tessaline::TransferLog log, NoticeHandler onNotice) const {
    auto shared = std::make_shared<tessaline::TransferLog>(std::move(log));
    Executor::shared().utility([this, shared, onNotice = std::move(onNotice)] {
        announce(fileTransfer(*shared).notice, onNotice);
        giveBackFreedMemory();
    });
}

void LogArchiveProvider::deleteLog(const tessaline::ArchivedLog& log) const {
    ArchiveAccess access = resolve();
    access->deleteLog(log);
}

fs::path LogArchiveProvider::currentBaseURL() const {
    ArchiveAccess access = resolve();
    std::error_code error;
    fs::create_directories(access->baseDirectory(), error);
    return access->baseDirectory();
}

QString LogArchiveProvider::displayPath() const {
    if (std::optional<QString> stored = defaults_().string(pathKey)) return *stored;
    return qtPath(tessaline::LogArchive::defaultArchive().baseDirectory());
}

bool LogArchiveProvider::chooseFolder(const fs::path& folder) const {
    std::optional<QByteArray> data = FolderBookmark::make(folder, true);
    if (!data) return false;
    const UserDefaults defaults = defaults_();
    defaults.setValue(bookmarkKey, *data);
    defaults.setValue(pathKey, qtPath(folder / subfolder.toStdString()));
    setFilingNotice(std::nullopt);
    return true;
}

}  // namespace brindlecove
