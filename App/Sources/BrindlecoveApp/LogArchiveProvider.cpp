#include "BrindlecoveApp/LogArchiveProvider.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/FolderBookmark.hpp"

#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/DateText.hpp"

#include <QFile>
#include <QtGlobal>

#include <memory>
#include <system_error>

namespace brindlecove {
namespace fs = std::filesystem;

namespace {

QString qtPath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

template <typename Record>
std::optional<tessaline::ArchivedLog> archiveWith(const LogArchiveProvider& provider,
                                                  const std::optional<std::string>& project,
                                                  const Record& record) {
    try {
        ArchiveAccess access = provider.resolve();
        return access->archive(record, project, tessaline::nowEpoch());
    } catch (const std::exception& error) {
        qWarning("Couldn't file the log: %s", error.what());
    } catch (...) {
        qWarning("Couldn't file the log");
    }
    return std::nullopt;
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
    return defaultAccess();
}

std::optional<tessaline::ArchivedLog> LogArchiveProvider::archiveReport(
    const tessaline::VerificationReport& report) const {
    return archiveWith(*this, activeProject(), report);
}

std::optional<tessaline::ArchivedLog> LogArchiveProvider::archiveTransfer(const tessaline::TransferLog& log) const {
    return archiveWith(*this, activeProject(), log);
}

void LogArchiveProvider::fileInBackground(tessaline::VerificationReport report) const {
    auto shared = std::make_shared<tessaline::VerificationReport>(std::move(report));
    Executor::shared().utility([this, shared] {
        archiveReport(*shared);
        AppEvents::postLogArchived();
    });
}

void LogArchiveProvider::fileInBackground(tessaline::TransferLog log) const {
    auto shared = std::make_shared<tessaline::TransferLog>(std::move(log));
    Executor::shared().utility([this, shared] {
        archiveTransfer(*shared);
        AppEvents::postLogArchived();
    });
}

void LogArchiveProvider::deleteLog(const tessaline::ArchivedLog& log) const {
    ArchiveAccess access = resolve();
    std::error_code error;
    fs::remove_all(log.directory, error);
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
    return true;
}

}  // namespace brindlecove
