#pragma once
// A MetadataReader that answers from the fingerprint cache when a file's size and
// modification time still agree with its cached row, and otherwise asks the inner reader
// and buffers the result for a batched write (one transaction per `flushEvery` rows).
//
// Safe for several threads fingerprinting through one reader at once: cache lookups and
// buffer writes are serialised by a lock, inner reads run in parallel. The index must not
// be used by anything else while this reader uses it. The destructor flushes.

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
    void flushLocked() noexcept;

    std::shared_ptr<MetadataReader> inner_;
    std::shared_ptr<FingerprintIndex> index_;
    std::string volumeLabel_;
    bool useCache_;
    size_t flushEvery_;
    std::mutex mutex_;  // guards index_ use and buffer_
    std::vector<std::pair<Fingerprint, EpochSeconds>> buffer_;
    std::atomic<int> cacheHits_{0};
};

}  // namespace tessaline
