#pragma once
// Tells when the contents of a folder tree change: an entry made, removed, renamed or written
// (closed after writing, or its times or modes set) in the folder or in any folder below it,
// as a camera card while it stays mounted (files copied onto it, folders made, a file
// overwritten in place). The kernel reports such changes (inotify, one watch per folder), so
// nothing is read while the tree stays as it is; the folders are listed on a worker and the
// list is renewed by every watch(), which says when the folders are watched (armed): a caller
// that reads the tree after that misses no change between its reading and the watching (a
// folder made meanwhile is found by a second listing and reported as a change). A
// tree of more folders than the limit, or one the kernel refuses to watch whole (its watch
// limit reached, an unreadable folder, a root that is gone), is looked at again on a timer
// instead, so no change is missed for good. Changes are reported at most once per quiet
// period. Main thread.

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace brindlecove {

class FolderTreeWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultFolderLimit = 2000;
    static constexpr int quietMs = 400;
    static constexpr int pollMs = 5000;

    explicit FolderTreeWatcher(int folderLimit = defaultFolderLimit, QObject* parent = nullptr);
    ~FolderTreeWatcher() override;

    // Watches `root` and every folder below it (links not followed) from now on, in place of
    // what was watched before; a change already noticed and not yet reported is dropped.
    // armed() follows once the folders are listed and watched.
    void watch(const QString& root);
    // Watches nothing; nothing is reported any more (not even armed() of an earlier watch()).
    void stop();

    // How many folders the kernel watches now (0 until the listing after watch() is in).
    qsizetype watchedFolderCount() const { return watched_.size(); }
    // Whether the tree is looked at on a timer (too many folders, or not every folder watched).
    bool isPolling() const { return poll_.isActive(); }

Q_SIGNALS:
    // Something in the watched tree changed (or, when polling, may have changed).
    void changed();
    // The folders of the last watch() are watched now, as far as the kernel allows.
    void armed();

private:
    // Lists root_'s folders on a worker and watches those not watched yet (apply); `check`
    // for the listing that follows the first, made once its watches are in place.
    void list(quint64 generation, bool check);
    void apply(quint64 generation, bool check, const QStringList& folders, bool complete);
    void readEvents();
    void noticed();

    const int folderLimit_;
    int fd_ = -1;  // the inotify instance; -1 when the kernel gives none (then only polling)
    std::unique_ptr<QSocketNotifier> notifier_;
    QString root_;
    QHash<int, QString> folderOf_;  // the folders watched now, by watch descriptor
    QSet<QString> watched_;         // the same folders
    QTimer quiet_;
    QTimer poll_;
    quint64 generation_ = 0;
};

}  // namespace brindlecove
