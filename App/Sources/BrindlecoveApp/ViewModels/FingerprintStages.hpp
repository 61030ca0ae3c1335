#pragma once
// Fingerprints one source's media files in three stages (photos, videos, audio), reporting
// each stage's progress at its start, every 20 files and at its last file.
//
// The files of a stage are read by up to `threads` threads of this object's own (started
// per stage, joined before the stage ends), yet everything the caller sees is that of one
// thread reading the files in order: progress counts only the unbroken run of finished
// files from the stage's first, the callbacks run on the caller's thread, and after a stop
// the stage keeps exactly that run. Files read beyond it before the stop are dropped from
// the result (their fingerprints may still have reached a caching reader).
// Reading metadata costs a few small reads per file, so a card read at its device's speed
// is not slowed: the requests merely queue at the device instead of waiting on each other.
// Plain C++; call from one worker thread; the reader must be safe on several threads.

#include "BrindlecoveApp/ViewModels/ScanEvent.hpp"

#include "Tessaline/Fingerprint.hpp"
#include "Tessaline/MetadataReader/MetadataReader.hpp"
#include "Tessaline/Scanner/MediaFile.hpp"

#include <functional>
#include <vector>

namespace brindlecove {

class FingerprintStages {
public:
    using CancelTest = std::function<bool()>;
    // (kind, completed, total, seconds since the stage began)
    using Progress = std::function<void(MediaKind, int, int, double)>;

    // The default thread count: the machine's hardware threads, at most `maxThreads`.
    static constexpr int maxThreads = 8;
    static int defaultThreadCount();

    explicit FingerprintStages(int threads = defaultThreadCount());
    int threads() const { return threads_; }

    // Photos (neither video nor audio, so "all file types" files ride here), then videos,
    // then audio, each in the given order. A stop is noticed before every file and between
    // stages; what was read by then is returned. Never throws from the reader (it cannot).
    std::vector<tessaline::Fingerprint> run(const std::vector<tessaline::MediaFile>& files,
                                            tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                                            const Progress& progress) const;
    // The same, moving each read file's path into its fingerprint: those files' paths are
    // empty afterwards (for a drive's list, which millions of paths would otherwise fill twice).
    std::vector<tessaline::Fingerprint> runTakingPaths(std::vector<tessaline::MediaFile>& files,
                                                       tessaline::MetadataReader& reader,
                                                       const CancelTest& isCancelled, const Progress& progress) const;

private:
    std::vector<tessaline::Fingerprint> run(const std::vector<tessaline::MediaFile>& files, bool takePaths,
                                            tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                                            const Progress& progress) const;
    void stage(MediaKind kind, const std::vector<const tessaline::MediaFile*>& files, bool takePaths,
               tessaline::MetadataReader& reader, const CancelTest& isCancelled, const Progress& progress,
               std::vector<tessaline::Fingerprint>& into) const;
    void stageInParallel(MediaKind kind, const std::vector<const tessaline::MediaFile*>& files, bool takePaths,
                         tessaline::MetadataReader& reader, const CancelTest& isCancelled,
                         const Progress& progress, std::vector<tessaline::Fingerprint>& into) const;

    int threads_;
};

}  // namespace brindlecove
