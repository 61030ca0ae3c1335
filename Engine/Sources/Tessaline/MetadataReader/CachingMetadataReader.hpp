#pragma once
// A MetadataReader that answers from the fingerprint cache when a file's size and
// modification time still agree with its cached row, and otherwise asks the inner reader
// and buffers the result for a batched write (one transaction per `flushEvery` rows).
//
// Safe for several threads fingerprinting through one reader at once: inner reads run in
// parallel, and a batch is written while the other threads go on reading and buffering (a
// thread waits only when the buffer fills again before that write ends). Batches reach the
// index in the order their rows were buffered. The index must not be used by anything else
// while this reader uses it. The destructor flushes.

#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/MetadataReader/MetadataReader.hpp"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tessaline {

class CachingMetadataReader final : public MetadataReader {
public:
    // `index` may be null: the reader then passes every call through and caches nothing.
    // With `useCache` false every file is read afresh, and the fresh results still refresh the
    // cache. `flushEvery` below 1 counts as 1.
    CachingMetadataReader(std::shared_ptr<MetadataReader> inner, std::shared_ptr<FingerprintIndex> index,
                          std::string volumeLabel, bool useCache, int flushEvery);
    ~CachingMetadataReader() override;
    CachingMetadataReader(const CachingMetadataReader&) = delete;
    CachingMetadataReader& operator=(const CachingMetadataReader&) = delete;

    // Never throws. A failed lookup counts as a miss.
    Fingerprint fingerprint(const std::filesystem::path& url) override;

    // Writes the pending fingerprints in one transaction and empties the buffer. A failed
    // write is dropped (the files are read again next time); never throws.
    void flush();

    int cacheHits() const { return cacheHits_.load(); }

private:
    // Writes the buffer when it holds at least `atLeast` rows (taken under indexMutex_, so
    // batches are written in the order they were taken).
    void writeBuffered(size_t atLeast) noexcept;

    std::shared_ptr<MetadataReader> inner_;
    std::shared_ptr<FingerprintIndex> index_;
    std::string volumeLabel_;
    bool useCache_;
    size_t flushEvery_;
    std::mutex indexMutex_;   // guards index_ use; taken before bufferMutex_ when both are held
    std::mutex bufferMutex_;  // guards buffer_ only, so appends never wait on a write
    std::vector<std::pair<Fingerprint, EpochSeconds>> buffer_;
    std::atomic<int> cacheHits_{0};
};

}  // namespace tessaline
