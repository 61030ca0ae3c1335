#include "Tessaline/MetadataReader/CachingMetadataReader.hpp"

#include "Tessaline/MetadataReader/FileAttributes.hpp"

namespace tessaline {

CachingMetadataReader::CachingMetadataReader(std::shared_ptr<MetadataReader> inner,
                                             std::shared_ptr<FingerprintIndex> index, std::string volumeLabel,
                                             bool useCache, int flushEvery)
    : inner_(std::move(inner)),
      index_(std::move(index)),
      volumeLabel_(std::move(volumeLabel)),
      useCache_(useCache),
      flushEvery_(static_cast<size_t>(flushEvery < 1 ? 1 : flushEvery)) {}

CachingMetadataReader::~CachingMetadataReader() { writeBuffered(1); }

Fingerprint CachingMetadataReader::fingerprint(const std::filesystem::path& url) {
    // Unreadable attributes do not stop the read: size 0 and time 0 are looked up and stored.
    FileAttributes attributes = FileAttributes::of(url);
    EpochSeconds mtime = attributes.modified.value_or(0.0);
    if (useCache_ && index_) {
        std::lock_guard lock(indexMutex_);
        if (auto cached = index_->cachedFingerprint(volumeLabel_, url.native(), attributes.byteSize, mtime)) {
            ++cacheHits_;
            return std::move(*cached);
        }
    }
    Fingerprint fingerprint = inner_->fingerprint(url);
    if (index_) {
        bool full = false;
        try {
            std::lock_guard lock(bufferMutex_);
            buffer_.emplace_back(fingerprint, mtime);
            full = buffer_.size() >= flushEvery_;
        } catch (...) {
            // Out of memory while buffering: the row is lost for the cache only.
        }
        // Threads that filled the buffer while a write went on find it written already.
        if (full) writeBuffered(flushEvery_);
    }
    return fingerprint;
}

void CachingMetadataReader::flush() { writeBuffered(1); }

void CachingMetadataReader::writeBuffered(size_t atLeast) noexcept {
    if (!index_) return;
    std::lock_guard indexLock(indexMutex_);
    std::vector<std::pair<Fingerprint, EpochSeconds>> batch;
    {
        std::lock_guard bufferLock(bufferMutex_);
        if (buffer_.size() < atLeast) return;
        batch.swap(buffer_);
    }
    try {
        index_->upsertBatch(batch, volumeLabel_);
    } catch (...) {
        // Cache only: the fingerprints were returned already; the next scan reads them again.
    }
}

}  // namespace tessaline
