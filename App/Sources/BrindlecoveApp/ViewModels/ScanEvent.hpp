#pragma once
// What a scan's worker reports while it runs, one value per thing that happened, in the
// order it happened. Plain C++ values (no Qt): made on the worker, applied on the main thread.

#include <string>
#include <string_view>
#include <variant>

namespace brindlecove {

// A fingerprinting stage: the files of one kind on one source.
enum class MediaKind { photos, videos, audio };

// "photos", "videos", "audio": part of the progress stage identifiers.
constexpr std::string_view rawValue(MediaKind kind) {
    switch (kind) {
    case MediaKind::photos: return "photos";
    case MediaKind::videos: return "videos";
    case MediaKind::audio: return "audio";
    }
    return "photos";
}

// The parts of the byte proof, one after another, each counted on its own: the clips, the
// card's other files, then the card's closing look for files changed meanwhile (files read
// again on cards that renumber them).
enum class ProofPart { clips, otherFiles, cardRecheck };

namespace scan_event {

struct CardProgress {
    MediaKind kind = MediaKind::photos;
    int completed = 0;
    int total = 0;
    double elapsed = 0;  // seconds since the stage began
    bool operator==(const CardProgress&) const = default;
};
struct DriveStarted {
    std::string label;  // the grant label
    bool operator==(const DriveStarted&) const = default;
};
struct DriveProgress {
    std::string label;
    MediaKind kind = MediaKind::photos;
    int completed = 0;
    int total = 0;
    double elapsed = 0;
    bool operator==(const DriveProgress&) const = default;
};
struct DriveSkipped {
    // Why the drive contributed nothing: it could not be opened or read (not connected, no
    // usable grant, its walk failed), or its root is the card itself or a folder on it.
    enum class Reason { unavailable, onCard };
    std::string label;
    Reason reason = Reason::unavailable;
    bool operator==(const DriveSkipped&) const = default;
};
struct VerifyingProgress {
    int completed = 0;
    int total = 0;          // of this part; the same for all of the part's events
    double elapsed = 0;     // seconds since the part began
    ProofPart part = ProofPart::clips;
    bool operator==(const VerifyingProgress&) const = default;
};
struct ResumeInfo {
    std::string sourceLabel;  // the card folder's name, or a drive's grant label
    int cached = 0;
    int total = 0;
    bool operator==(const ResumeInfo&) const = default;
};
struct Matching {
    bool operator==(const Matching&) const = default;
};

}  // namespace scan_event

using ScanEvent = std::variant<scan_event::CardProgress, scan_event::DriveStarted, scan_event::DriveProgress,
                               scan_event::DriveSkipped, scan_event::VerifyingProgress, scan_event::ResumeInfo,
                               scan_event::Matching>;

}  // namespace brindlecove
