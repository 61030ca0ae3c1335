#pragma once
// Thumbnails of the report list's files, made off the GUI thread on a pool of its own (two
// threads, so previews never compete with a scan or a copy for the shared pools).
// Requests come from painting, so only visible rows ask; the newest request is served
// first (scrolling quickly leaves old rows behind), and the waiting list is bounded. Each
// path is made at most once: pictures are cached by path within a byte budget, and a file
// that gave no picture is remembered and never retried.
// thumbnail() and the signal: main thread. The maker runs on the pool.

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>

namespace brindlecove {

class ThumbnailService : public QObject {
    Q_OBJECT
public:
    using Maker = std::function<QImage(const QString& path, QSize size)>;

    // `maker` makes one picture on a pool thread (ThumbnailMaker::make by default).
    explicit ThumbnailService(QSize size, Maker maker = {}, QObject* parent = nullptr,
                              qint64 cacheBytes = 64LL * 1024 * 1024);
    ~ThumbnailService() override;

    // The application's service for the report list (56 × 40 points at the screen's scale),
    // made on first use as a child of the application object.
    static ThumbnailService& shared();

    QSize size() const { return size_; }
    // The cached picture of `path`; otherwise nullopt, and the picture is requested unless it
    // was asked for before (pending, or failed for good). `sizeBytes` (the size the report
    // recorded; -1 when unknown) is part of the key, so another card's file at the same
    // path and name never shows this one's picture.
    std::optional<QImage> thumbnail(const QString& path, qint64 sizeBytes = -1);
    // Whether `path` (of that size) was tried and gave no picture.
    bool hasFailed(const QString& path, qint64 sizeBytes = -1) const { return failed_.contains(keyOf(path, sizeBytes)); }
    // Drops the requests not yet started (a new report replaces the rows); they are asked
    // again when painted again.
    void dropPending();
    // Waits for the pool (tests and benchmarks).
    bool waitForDone(int msecs = -1);

Q_SIGNALS:
    // A picture of `path` was made or failed for good; rows showing it repaint.
    void thumbnailReady(const QString& path);

private:
    struct Queue;
    void startWorkers();
    static QString keyOf(const QString& path, qint64 sizeBytes);
    void deliver(const QString& key, const QString& path, const QImage& image);

    QSize size_;
    Maker maker_;
    QCache<QString, QImage> cache_;
    QSet<QString> failed_;
    QSet<QString> pending_;
    std::shared_ptr<Queue> queue_;
    QThreadPool pool_;
};

}  // namespace brindlecove
