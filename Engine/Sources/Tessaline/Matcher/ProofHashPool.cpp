#include "Tessaline/Matcher/ProofHashPool.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

std::optional<ProofHashPool::Version> versionOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return ProofHashPool::Version{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

}  // namespace

int ProofHashPool::defaultThreadCount() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 4);
}

ProofHashPool::ProofHashPool(const ChecksumEngine& checksum, int threads)
    : checksum_(checksum), isStopped_([this] { return stopped_.load(std::memory_order_relaxed); }) {
    const int count = std::max(1, threads);
    threads_.reserve(size_t(count));
    for (int i = 0; i < count; ++i) threads_.emplace_back([this](std::stop_token stop) { work(stop); });
}

ProofHashPool::~ProofHashPool() {
    stop();  // a hash in progress ends at its next read
    for (std::jthread& thread : threads_) thread.request_stop();
    changed_.notify_all();
    threads_.clear();
}

bool ProofHashPool::prefetch(const fs::path& file, int64_t size, bool urgent) {
    const std::string key = file.native();
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        if (spent_.count(std::hash<std::string>{}(key))) return false;
        auto [it, added] = jobs_.try_emplace(key);
        if (!added) {
            if (!urgent || it->second.state != State::queued) return false;
            queue_.erase(std::find(queue_.begin(), queue_.end(), key));
        } else {
            it->second.size = std::max<int64_t>(0, size);
            claimed_ += it->second.size;
            queued = true;
        }
        if (urgent)
            queue_.push_front(key);
        else
            queue_.push_back(key);
    }
    // One file for one thread. Only the pool's threads can be waiting now: take() runs on
    // this same thread.
    changed_.notify_one();
    return queued;
}

void ProofHashPool::stop() { stopped_.store(true, std::memory_order_relaxed); }

std::optional<ProofHashPool::Taken> ProofHashPool::take(const fs::path& file, const Version& version,
                                                        const std::function<bool()>& isCancelled) {
    std::unique_lock lock(mutex_);
    auto it = jobs_.find(file.native());
    if (it == jobs_.end()) return std::nullopt;
    Job& job = it->second;
    if (job.state == State::queued) {
        queue_.erase(std::find(queue_.begin(), queue_.end(), it->first));
        claimed_ -= job.size;  // the caller reads it instead
        spend(it);
        return std::nullopt;
    }
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return job.state != State::running; })) {
        lock.unlock();
        if (isCancelled && isCancelled()) stop();
        lock.lock();
    }
    if (job.state != State::done || job.version != version) return std::nullopt;
    Taken taken{std::move(job.digest), job.error};
    spend(it);
    return taken;
}

void ProofHashPool::spend(std::map<std::string, Job>::iterator job) {
    spent_.insert(std::hash<std::string>{}(job->first));
    jobs_.erase(job);
}

void ProofHashPool::work(std::stop_token stop) {
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait(lock, stop, [&] { return !queue_.empty(); })) return;
            path = std::move(queue_.front());
            queue_.pop_front();
            jobs_[path].state = State::running;
        }
        std::optional<Version> version;
        std::string digest;
        std::exception_ptr error;
        const std::optional<Version> before = versionOf(path);
        if (before && !stopped_.load(std::memory_order_relaxed)) {
            try {
                digest = checksum_.hash(path, false, isStopped_, {});
            } catch (const ChecksumCancelledError&) {
                // Stopped: nothing to hand over.
            } catch (...) {
                error = std::current_exception();
            }
            const bool cancelled = digest.empty() && !error;
            if (!cancelled && versionOf(path) == before) version = before;
        }
        {
            std::lock_guard lock(mutex_);
            Job& job = jobs_[path];
            job.state = State::done;
            job.version = version;
            job.digest = std::move(digest);
            job.error = error;
        }
        changed_.notify_all();
    }
}

}  // namespace tessaline
