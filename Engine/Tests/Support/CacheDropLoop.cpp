#include "Support/CacheDropLoop.hpp"

#include <fstream>

namespace tessaline::testing {

CacheDropLoop::CacheDropLoop(std::chrono::milliseconds period, std::chrono::seconds limit, int level) {
    thread_ = std::thread([this, period, limit, level] {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!stopping_ && std::chrono::steady_clock::now() < end) {
            dropNow(level);
            ++drops_;
            wake_.wait_for(lock, period, [this] { return stopping_; });
        }
    });
}

void CacheDropLoop::dropNow(int level) { std::ofstream("/proc/sys/vm/drop_caches") << level << "\n"; }

CacheDropLoop::~CacheDropLoop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace tessaline::testing
