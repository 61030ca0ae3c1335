#pragma once
// The hashing behind one MatchVerifier::verify() call, spread over a few threads of its own:
// the files the proof will ask for next are hashed ahead, in the order it will ask, and the
// drive copy of the proof in hand is hashed while the proof hashes the card file itself, so
// on separate devices a proof takes as long as the slower one, not the sum.
//
// The pool only ever saves work; it never decides anything. Each hash it makes stands for
// one read the proof would make itself, and is handed over once, only for the very file
// version the proof sees now (device, inode, size, modification time before the read, and
// unchanged after it): a digest, or the read error the proof would have met, which the proof
// then retries as its own. After a stop, a change of the file or a second request, take()
// answers nothing and the proof reads the file itself, so errors, retries and their pauses
// stay those of reading one file after another.
// Reading ahead is bounded (a few proofs), and on flash several streams queue at the device
// without slowing one another. Every file queued counts as read (bytesClaimed()) until the
// proof takes it out of the queue to read it itself: a hash the proof never takes was read
// all the same, and the proof's bound on reading counts it. The pool never calls the verifier's cancellation test (which
// belongs to the verifying thread): the verifying thread stops it with stop() once it sees
// that test answer true.
//
// prefetch(), take() and stop(): the verifying thread only (stop() also any other). The
// destructor stops and joins the threads.

#include "Tessaline/Checksum/ChecksumEngine.hpp"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace tessaline {

class ProofHashPool {
public:
    using Version = std::tuple<dev_t, ino_t, off_t, time_t, long>;

    // `threads` below 1 counts as 1. The checksum engine must outlive the pool.
    ProofHashPool(const ChecksumEngine& checksum, int threads);
    ~ProofHashPool();
    ProofHashPool(const ProofHashPool&) = delete;
    ProofHashPool& operator=(const ProofHashPool&) = delete;

    // The thread count for a machine: its hardware threads, at least 2, at most 4.
    static int defaultThreadCount();

    // Queues `file` (of `size` bytes) for hashing, at the front when `urgent`; a file already
    // queued, being hashed or hashed is not queued again (an urgent one still moves to the
    // front). Whether it was queued now.
    bool prefetch(const std::filesystem::path& file, int64_t size, bool urgent = false);

    // The bytes of the files queued and not taken out of the queue again: read by the pool,
    // being read, or to be read, whether or not the proof takes their hashes.
    int64_t bytesClaimed() const { return claimed_; }

    // The digest of `file` when the pool hashed exactly `version` of it; waits for a hash in
    // progress, asking `isCancelled` every tenth of a second while it waits (and stopping the
    // pool when it answers true). A file still waiting in the queue is taken out of it (the
    // caller reads it now).
    // nullopt: the caller hashes the file itself.
    struct Taken {
        std::string digest;        // when `error` is null
        std::exception_ptr error;  // the read error of the pool's attempt
    };
    std::optional<Taken> take(const std::filesystem::path& file, const Version& version,
                              const std::function<bool()>& isCancelled);

    // Ends every hash in progress at its next read and starts no other.
    void stop();

private:
    enum class State { queued, running, done };
    struct Job {
        State state = State::queued;
        int64_t size = 0;  // as queued
        std::optional<Version> version;  // the version read, when it stayed the same throughout
        std::string digest;
        std::exception_ptr error;
    };

    void work(std::stop_token stop);
    // Forgets a job handed over or withdrawn, keeping only its path's hash so the file is not
    // queued again (a hash shared by two paths only leaves the second to its caller's read).
    void spend(std::map<std::string, Job>::iterator job);

    const ChecksumEngine& checksum_;
    std::atomic<bool> stopped_{false};
    ChecksumEngine::CancelTest isStopped_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::string> queue_;
    std::map<std::string, Job> jobs_;
    std::unordered_set<size_t> spent_;  // paths handed over or withdrawn, by hash
    int64_t claimed_ = 0;                // the verifying thread's only
    std::vector<std::jthread> threads_;
};

}  // namespace tessaline
