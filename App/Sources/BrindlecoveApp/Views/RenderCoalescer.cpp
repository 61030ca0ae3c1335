#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include <QTimer>

namespace brindlecove {

RenderCoalescer::RenderCoalescer(QObject* owner, std::function<void()> render)
    : owner_(owner), render_(std::move(render)) {}

void RenderCoalescer::schedule() {
    if (queued_ || !owner_) return;
    queued_ = true;
    QTimer::singleShot(0, owner_.data(), [this] {
        queued_ = false;
        render_();
    });
}

}  // namespace brindlecove
