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

CachingMetadataReader::~CachingMetadataReader() {
    std::lock_guard lock(mutex_);
    flushLocked();
}

Fingerprint CachingMetadataReader::fingerprint(const std::filesystem::path& url) {
    // Unreadable attributes do not stop the read: size 0 and time 0 are looked up and stored.
    FileAttributes attributes = FileAttributes::of(url);
    EpochSeconds mtime = attributes.modified.value_or(0.0);
    if (useCache_ && index_) {
        std::lock_guard lock(mutex_);
        if (auto cached = index_->cachedFingerprint(volumeLabel_, url.native(), attributes.byteSize, mtime)) {
            ++cacheHits_;
            return std::move(*cached);
        }
    }
    Fingerprint fingerprint = inner_->fingerprint(url);
    if (index_) {
        try {
            std::lock_guard lock(mutex_);
            buffer_.emplace_back(fingerprint, mtime);
            if (buffer_.size() >= flushEvery_) flushLocked();
        } catch (...) {
            // Out of memory while buffering: the row is lost for the cache only.
        }
    }
    return fingerprint;
}

void CachingMetadataReader::flush() {
    std::lock_guard lock(mutex_);
    flushLocked();
}

void CachingMetadataReader::flushLocked() noexcept {
    if (!index_ || buffer_.empty()) return;
    try {
        index_->upsertBatch(buffer_, volumeLabel_);
    } catch (...) {
        // Cache only: the fingerprints were returned already; the next scan reads them again.
    }
    buffer_.clear();
}

}  // namespace tessaline
