#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include "BrindlecoveApp/Views/ThumbnailMaker.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>

#include <deque>
#include <mutex>

namespace brindlecove {

namespace {
// Rows a fast scroll leaves behind are dropped beyond this many waiting requests.
constexpr size_t maxWaiting = 256;
constexpr int poolThreads = 2;
}  // namespace

struct ThumbnailService::Queue {
    std::mutex lock;
    std::deque<QString> waiting;  // newest at the back
    int workers = 0;
    bool closed = false;
};

ThumbnailService::ThumbnailService(QSize size, Maker maker, QObject* parent, qint64 cacheBytes)
    : QObject(parent),
      size_(size),
      maker_(maker ? std::move(maker) : Maker(&ThumbnailMaker::make)),
      cache_(static_cast<qsizetype>(std::max<qint64>(1, cacheBytes / 1024))),
      queue_(std::make_shared<Queue>()) {
    pool_.setMaxThreadCount(poolThreads);
}

ThumbnailService::~ThumbnailService() {
    {
        std::lock_guard guard(queue_->lock);
        queue_->closed = true;
        queue_->waiting.clear();
    }
    pool_.waitForDone();
}

ThumbnailService& ThumbnailService::shared() {
    static QPointer<ThumbnailService> service;
    if (!service) {
        qreal scale = qApp ? qGuiApp->devicePixelRatio() : 1.0;
        QSize size(qRound(56 * std::max<qreal>(scale, 1.0)), qRound(40 * std::max<qreal>(scale, 1.0)));
        service = new ThumbnailService(size, {}, QCoreApplication::instance());
    }
    return *service;
}

std::optional<QImage> ThumbnailService::thumbnail(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    if (const QImage* image = cache_.object(path)) return *image;
    if (failed_.contains(path) || pending_.contains(path)) return std::nullopt;
    pending_.insert(path);
    {
        std::lock_guard guard(queue_->lock);
        queue_->waiting.push_back(path);
        while (queue_->waiting.size() > maxWaiting) {
            pending_.remove(queue_->waiting.front());
            queue_->waiting.pop_front();
        }
    }
    startWorkers();
    return std::nullopt;
}

void ThumbnailService::startWorkers() {
    std::lock_guard guard(queue_->lock);
    while (queue_->workers < poolThreads && static_cast<size_t>(queue_->workers) < queue_->waiting.size()) {
        ++queue_->workers;
        pool_.start([queue = queue_, maker = maker_, size = size_, self = QPointer<ThumbnailService>(this)] {
            for (;;) {
                QString path;
                {
                    std::lock_guard guard(queue->lock);
                    if (queue->closed || queue->waiting.empty()) {
                        --queue->workers;
                        return;
                    }
                    path = queue->waiting.back();
                    queue->waiting.pop_back();
                }
                QImage image = maker(path, size);
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [self, path, image = std::move(image)] {
                        if (self) self->deliver(path, image);
                    },
                    Qt::QueuedConnection);
            }
        });
    }
}

void ThumbnailService::deliver(const QString& path, const QImage& image) {
    pending_.remove(path);
    if (image.isNull()) {
        failed_.insert(path);
    } else {
        qint64 kib = std::max<qint64>(1, image.sizeInBytes() / 1024);
        cache_.insert(path, new QImage(image), static_cast<qsizetype>(kib));
    }
    Q_EMIT thumbnailReady(path);
}

void ThumbnailService::dropPending() {
    std::lock_guard guard(queue_->lock);
    for (const QString& path : queue_->waiting) pending_.remove(path);
    queue_->waiting.clear();
}

bool ThumbnailService::waitForDone(int msecs) { return pool_.waitForDone(msecs); }

}  // namespace brindlecove
