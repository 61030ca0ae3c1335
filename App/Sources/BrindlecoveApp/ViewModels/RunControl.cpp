#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include "BrindlecoveApp/Platform/MainThread.hpp"

namespace brindlecove {

void RunControl::Ticket::post(std::function<void()> work) const {
    MainThread::post([owner = owner_, control = control_, id = id, work = std::move(work)] {
        if (owner && control->isCurrent(id)) work();
    });
}

void RunControl::Ticket::postUnlessGone(std::function<void()> work) const {
    MainThread::post([owner = owner_, work = std::move(work)] {
        if (owner) work();
    });
}

RunControl::RunControl(QObject* owner)
    : owner_(owner), alive_(std::make_shared<std::atomic<bool>>(true)) {}

RunControl::~RunControl() {
    alive_->store(false, std::memory_order_release);
    if (flag_) flag_->cancel();
}

RunControl::Ticket RunControl::begin() {
    flag_ = std::make_shared<CancellationFlag>();
    current_ = ++nextId_;
    active_ = true;
    Ticket ticket;
    ticket.id = current_;
    ticket.flag = flag_;
    ticket.owner_ = owner_;
    ticket.control_ = this;
    ticket.alive_ = alive_;
    return ticket;
}

void RunControl::finish(quint64 id) {
    if (isCurrent(id)) active_ = false;
}

void RunControl::cancel() {
    if (flag_) flag_->cancel();
}

void RunControl::abandon() {
    cancel();
    current_ = 0;
    active_ = false;
}

}  // namespace brindlecove
