#include "BrindlecoveApp/Platform/SerialQueue.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"

namespace brindlecove {

SerialQueue::SerialQueue() : state_(std::make_shared<State>()) {}

void SerialQueue::add(std::function<void()> work) {
    {
        std::lock_guard guard(state_->lock);
        state_->pending.push_back(std::move(work));
        if (state_->draining) return;
        state_->draining = true;
    }
    Executor::shared().utility([state = state_] { drain(state); });
}

void SerialQueue::drain(const std::shared_ptr<State>& state) {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard guard(state->lock);
            if (state->pending.empty()) {
                state->draining = false;
                return;
            }
            work = std::move(state->pending.front());
            state->pending.pop_front();
        }
        Executor::runGuarded(work);
    }
}

}  // namespace brindlecove
