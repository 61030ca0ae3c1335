#pragma once
// Coalesces redraw requests of one screen: any number of schedule() calls within one turn
// of the event loop give one call of the render function in a later turn. The call never
// happens after the owner is destroyed. Main thread.

#include <QPointer>

#include <functional>

class QObject;

namespace brindlecove {

class RenderCoalescer {
public:
    RenderCoalescer(QObject* owner, std::function<void()> render);
    void schedule();

private:
    QPointer<QObject> owner_;
    std::function<void()> render_;
    bool queued_ = false;
};

}  // namespace brindlecove
