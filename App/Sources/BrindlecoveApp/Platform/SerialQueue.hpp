#pragma once
// Work that must happen one piece at a time and in the order it was asked for (changes to the
// log archive: a log moved and then deleted must not be deleted first), run on the
// application's utility pool. At most one pool thread drains a queue; it holds the queue's
// state, not the queue, so the owner may be destroyed while work runs. add() on the main
// thread (the executor is made there on first use).

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace brindlecove {

class SerialQueue {
public:
    SerialQueue();

    // Runs `work` after every piece added before it. An exception escaping it is logged and
    // the queue goes on.
    void add(std::function<void()> work);

private:
    struct State {
        std::mutex lock;
        std::deque<std::function<void()>> pending;  // guarded by lock
        bool draining = false;                      // guarded by lock
    };
    static void drain(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
};

}  // namespace brindlecove
