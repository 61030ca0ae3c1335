#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace brindlecove {

using tessaline::Fingerprint;
using tessaline::MediaClassifier;
using tessaline::MediaFile;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool reportsAt(int done, int total) { return done % 20 == 0 || done == total; }

}  // namespace

int FingerprintStages::defaultThreadCount() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(hardware), 1, maxThreads);
}

FingerprintStages::FingerprintStages(int threads) : threads_(std::max(1, threads)) {}

std::vector<Fingerprint> FingerprintStages::run(const std::vector<MediaFile>& files,
                                                tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                                                const Progress& progress) const {
    return run(files, false, reader, isCancelled, progress);
}

std::vector<Fingerprint> FingerprintStages::runTakingPaths(std::vector<MediaFile>& files,
                                                           tessaline::MetadataReader& reader,
                                                           const CancelTest& isCancelled,
                                                           const Progress& progress) const {
    return run(files, true, reader, isCancelled, progress);
}

// The fingerprint `read` of `file` kept with memory of the calling thread's heap: the path
// moved from the file's entry (`takePaths`, the caller's list being its own) or copied, the
// rest copied. Measured reason: strings a reading thread allocates between the metadata
// libraries' large transient buffers pin those buffers' pages, and kept for a million drive
// files that fragmentation cost more than the fingerprints themselves.
void keepOnThisThread(Fingerprint& read, const MediaFile& file, bool takePaths) {
    tessaline::PathString path = takePaths ? std::move(const_cast<MediaFile&>(file).url) : file.url;
    read.url = {};
    Fingerprint kept = read;
    kept.url = std::move(path);
    read = std::move(kept);
}

std::vector<Fingerprint> FingerprintStages::run(const std::vector<MediaFile>& files, bool takePaths,
                                                tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                                                const Progress& progress) const {
    std::vector<const MediaFile*> photos, videos, audio;
    for (const MediaFile& file : files) {
        if (MediaClassifier::isVideo(file.url))
            videos.push_back(&file);
        else if (MediaClassifier::isAudio(file.url))
            audio.push_back(&file);
        else
            photos.push_back(&file);
    }
    const auto cancelled = [&] { return isCancelled && isCancelled(); };
    std::vector<Fingerprint> result;
    result.reserve(files.size());
    stage(MediaKind::photos, photos, takePaths, reader, isCancelled, progress, result);
    if (cancelled()) return result;
    stage(MediaKind::videos, videos, takePaths, reader, isCancelled, progress, result);
    if (cancelled()) return result;
    stage(MediaKind::audio, audio, takePaths, reader, isCancelled, progress, result);
    return result;
}

void FingerprintStages::stage(MediaKind kind, const std::vector<const MediaFile*>& files, bool takePaths,
                              tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                              const Progress& progress, std::vector<Fingerprint>& into) const {
    if (files.empty()) return;
    if (threads_ > 1 && files.size() > 1) {
        stageInParallel(kind, files, takePaths, reader, isCancelled, progress, into);
        return;
    }
    const int total = static_cast<int>(files.size());
    const auto start = Clock::now();
    if (progress) progress(kind, 0, total, 0.0);
    int done = 0;
    for (const MediaFile* file : files) {
        if (isCancelled && isCancelled()) break;
        into.push_back(reader.fingerprint(file->url));
        if (takePaths) into.back().url = std::move(const_cast<MediaFile*>(file)->url);
        ++done;
        if (progress && reportsAt(done, total)) progress(kind, done, total, secondsSince(start));
    }
}

void FingerprintStages::stageInParallel(MediaKind kind, const std::vector<const MediaFile*>& files, bool takePaths,
                                        tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                                        const Progress& progress, std::vector<Fingerprint>& into) const {
    const int total = static_cast<int>(files.size());
    const int workers = std::min(threads_, total);
    const auto start = Clock::now();
    if (progress) progress(kind, 0, total, 0.0);

    // Each file's fingerprint is written straight into its place in `into` (no second array of
    // fingerprints: a drive's stage holds millions); `ready` says which places are filled.
    const size_t base = into.size();
    into.resize(base + files.size());
    std::vector<char> ready(files.size(), 0);
    std::mutex mutex;  // guards ready, running and the window below
    std::condition_variable changed;
    std::atomic<int> next{0};
    std::atomic<bool> stopped{false};
    int running = workers;
    // The coordinator sleeps until every file of [windowStart, windowEnd) is read (the next
    // progress point), so it wakes once per 20 files, not once per file.
    int windowStart = 0, windowEnd = 0, readyInWindow = 0;

    // Files are handed out in order; every file handed out is read to the end, so the files
    // read always form one unbroken run from the first.
    auto work = [&] {
        for (;;) {
            if (stopped.load(std::memory_order_relaxed)) break;
            if (isCancelled && isCancelled()) {
                stopped.store(true, std::memory_order_relaxed);
                break;
            }
            const int index = next.fetch_add(1);
            if (index >= total) break;
            into[base + size_t(index)] = reader.fingerprint(files[size_t(index)]->url);
            bool windowComplete = false;
            {
                std::lock_guard lock(mutex);
                ready[size_t(index)] = 1;
                if (index >= windowStart && index < windowEnd) windowComplete = ++readyInWindow == windowEnd - windowStart;
            }
            if (windowComplete) changed.notify_one();
        }
        {
            std::lock_guard lock(mutex);
            --running;
        }
        changed.notify_one();
    };

    std::vector<std::jthread> pool;
    pool.reserve(size_t(workers));
    for (int i = 0; i < workers; ++i) pool.emplace_back(work);

    int done = 0;
    std::unique_lock lock(mutex);
    while (done < total) {
        windowStart = done;
        windowEnd = std::min(total, (done / 20 + 1) * 20);
        readyInWindow = 0;
        for (int i = windowStart; i < windowEnd; ++i)
            if (ready[size_t(i)]) ++readyInWindow;
        changed.wait(lock, [&] { return readyInWindow == windowEnd - windowStart || running == 0; });
        const int before = done;
        while (done < total && ready[size_t(done)]) {
            keepOnThisThread(into[base + size_t(done)], *files[size_t(done)], takePaths);
            ++done;
            if (progress && reportsAt(done, total)) {
                lock.unlock();
                progress(kind, done, total, secondsSince(start));
                lock.lock();
            }
        }
        if (running == 0 && done == before) break;
    }
    lock.unlock();
    pool.clear();  // joins
    // After a stop only the unbroken run from the first file stays.
    into.resize(base + size_t(done));
}

}  // namespace brindlecove
