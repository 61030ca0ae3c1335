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
    struct Request {
        QString key;
        QString path;
    };
    std::deque<Request> waiting;  // newest at the back
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
        auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        qreal scale = gui ? gui->devicePixelRatio() : 1.0;
        QSize size(qRound(56 * std::max<qreal>(scale, 1.0)), qRound(40 * std::max<qreal>(scale, 1.0)));
        service = new ThumbnailService(size, {}, QCoreApplication::instance());
    }
    return *service;
}

QString ThumbnailService::keyOf(const QString& path, qint64 sizeBytes) {
    return path + u'\n' + QString::number(sizeBytes);
}

std::optional<QImage> ThumbnailService::thumbnail(const QString& path, qint64 sizeBytes) {
    if (path.isEmpty()) return std::nullopt;
    const QString key = keyOf(path, sizeBytes);
    if (const QImage* image = cache_.object(key)) return *image;
    if (failed_.contains(key) || pending_.contains(key)) return std::nullopt;
    pending_.insert(key);
    {
        std::lock_guard guard(queue_->lock);
        queue_->waiting.push_back({key, path});
        while (queue_->waiting.size() > maxWaiting) {
            pending_.remove(queue_->waiting.front().key);
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
                Queue::Request request;
                {
                    std::lock_guard guard(queue->lock);
                    if (queue->closed || queue->waiting.empty()) {
                        --queue->workers;
                        return;
                    }
                    request = queue->waiting.back();
                    queue->waiting.pop_back();
                }
                QImage image = maker(request.path, size);
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [self, request, image = std::move(image)] {
                        if (self) self->deliver(request.key, request.path, image);
                    },
                    Qt::QueuedConnection);
            }
        });
    }
}

void ThumbnailService::deliver(const QString& key, const QString& path, const QImage& image) {
    pending_.remove(key);
    if (image.isNull()) {
        failed_.insert(key);
    } else {
        qint64 kib = std::max<qint64>(1, image.sizeInBytes() / 1024);
        cache_.insert(key, new QImage(image), static_cast<qsizetype>(kib));
    }
    Q_EMIT thumbnailReady(path);
}

void ThumbnailService::dropPending() {
    std::lock_guard guard(queue_->lock);
    for (const auto& request : queue_->waiting) pending_.remove(request.key);
    queue_->waiting.clear();
}

bool ThumbnailService::waitForDone(int msecs) { return pool_.waitForDone(msecs); }

}  // namespace brindlecove
