#include "BrindlecoveApp/Platform/FolderTreeWatcher.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

// What counts as a change of a folder's contents. Plain writes (IN_MODIFY) are left out: a
// copy going on sends one per chunk, and its close (IN_CLOSE_WRITE) follows.
constexpr uint32_t changeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF;

// `root` and the folders below it, breadth first, at most `limit` + 1 of them; `complete`
// when every folder was listed and none beyond the limit was found.
QStringList listFolders(const fs::path& root, int limit, bool& complete) {
    QStringList folders;
    complete = true;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec)) || ec) return folders;
    std::vector<fs::path> pending{root};
    for (size_t next = 0; next < pending.size(); ++next) {
        folders << QFile::decodeName(QByteArray::fromStdString(pending[next].string()));
        if (folders.size() > limit) {
            complete = false;
            return folders;
        }
        for (fs::directory_iterator it(pending[next], ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            // Links are not followed: they may lead out of the tree, or round in a circle.
            if (fs::is_directory(it->symlink_status(typeError)) && !typeError) pending.push_back(it->path());
        }
        if (ec) {
            complete = false;  // an unreadable folder: what lies below it is not watched
            ec.clear();
        }
    }
    return folders;
}

}  // namespace

FolderTreeWatcher::FolderTreeWatcher(int folderLimit, QObject* parent) : QObject(parent), folderLimit_(folderLimit) {
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &FolderTreeWatcher::changed);
    connect(&poll_, &QTimer::timeout, this, &FolderTreeWatcher::changed);
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &FolderTreeWatcher::readEvents);
    }
}

FolderTreeWatcher::~FolderTreeWatcher() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);  // ends every watch with it
}

void FolderTreeWatcher::watch(const QString& root) {
    stop();
    root_ = root;
    list(generation_, false);
}

void FolderTreeWatcher::list(quint64 generation, bool check) {
    const fs::path rootPath(QFile::encodeName(root_).toStdString());
    Executor::shared().utility(
        [target = QPointer<FolderTreeWatcher>(this), generation, check, rootPath, limit = folderLimit_] {
            bool complete = true;
            QStringList folders = listFolders(rootPath, limit, complete);
            MainThread::post([target, generation, check, folders = std::move(folders), complete] {
                if (target) target->apply(generation, check, folders, complete);
            });
        });
}

void FolderTreeWatcher::stop() {
    ++generation_;
    quiet_.stop();
    poll_.stop();
    // Events of these watches still queued are dropped when read (their descriptors are gone).
    for (auto it = folderOf_.cbegin(); it != folderOf_.cend(); ++it) ::inotify_rm_watch(fd_, it.key());
    folderOf_.clear();
    watched_.clear();
}

void FolderTreeWatcher::apply(quint64 generation, bool check, const QStringList& folders, bool complete) {
    if (generation != generation_) return;  // a later watch() or stop() came
    bool refused = fd_ < 0 || folders.isEmpty();
    bool added = false;
    for (const QString& folder : folders.mid(0, folderLimit_)) {
        if (fd_ < 0) break;
        if (watched_.contains(folder)) continue;
        const int wd = ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(),
                                           changeMask | IN_ONLYDIR | IN_DONT_FOLLOW);
        if (wd < 0) {
            refused = true;
            continue;
        }
        folderOf_.insert(wd, folder);
        watched_.insert(folder);
        added = true;
    }
    if (!complete || refused)
        poll_.start(pollMs);
    else if (!check)
        poll_.stop();
    if (!check) {
        Q_EMIT armed();
        // A folder made between the listing and the watching of its parent sends nothing: a
        // second listing, made once the watches are in place, finds it.
        list(generation, true);
    } else if (added) {
        noticed();
        list(generation, true);
    }
}

void FolderTreeWatcher::readEvents() {
    alignas(inotify_event) char buffer[16 * 1024];
    bool any = false;
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length <= 0) break;  // EAGAIN: all read
        for (ssize_t at = 0; at < length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                any = true;  // events were lost: anything may have changed
                continue;
            }
            auto folder = folderOf_.find(event.wd);
            if (folder == folderOf_.end()) continue;  // of a watch already removed
            if (event.mask & IN_IGNORED) {
                // Its folder went, or its volume was unmounted.
                watched_.remove(folder.value());
                folderOf_.erase(folder);
                any = true;
                continue;
            }
            if (event.mask & (changeMask | IN_UNMOUNT)) any = true;
        }
    }
    if (any) noticed();
}

void FolderTreeWatcher::noticed() {
    if (!quiet_.isActive()) quiet_.start(quietMs);
}

}  // namespace brindlecove
