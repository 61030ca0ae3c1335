#pragma once
// Makes the kernel forget dentries and inodes (echo 2 > /proc/sys/vm/drop_caches; with
// `level` 3 cached pages too, as memory pressure does) every `period` on a thread of its
// own, as a file indexer or a walk of a big drive does, until it is destroyed or `limit` has
// passed, whichever comes first. FAT, exFAT and FUSE file systems give the files forgotten
// new inode numbers. Needs root (without it nothing drops).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessaline::testing {

class CacheDropLoop {
public:
    explicit CacheDropLoop(std::chrono::milliseconds period = std::chrono::milliseconds(300),
                           std::chrono::seconds limit = std::chrono::seconds(120), int level = 2);
    ~CacheDropLoop();
    CacheDropLoop(const CacheDropLoop&) = delete;
    CacheDropLoop& operator=(const CacheDropLoop&) = delete;

    // One drop now, on the caller's thread (for a drop at a chosen point of a run).
    static void dropNow(int level = 2);

    // How many drops were made so far.
    int drops() const { return drops_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<int> drops_{0};
    std::thread thread_;
};

}  // namespace tessaline::testing
