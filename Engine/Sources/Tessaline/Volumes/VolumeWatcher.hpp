#pragma once
// Reports volumes being mounted and unmounted while it lives. A thread of its own waits on
// /proc/self/mountinfo (the kernel flags it on every change of the mount table), compares
// the table with its last snapshot (MountSnapshot: by mount ID, and by the kernel's lasting
// mount ID where it gives one, so a card unmounted and mounted again between two looks is
// seen as both), and hands each event to the caller's post function (for example a queued
// call onto the UI thread); without one the handler runs on the watcher's thread. Events are
// handed over in order, one at a time.
//
// A mount is reported only when a fresh listing (VolumeDetector) holds the volume, so
// hidden and unnamed volumes give none; an unmount of any visible mount is reported with its
// mount point. A remount keeps its mount ID and gives nothing. Mounts present at
// construction are not reported.
//
// Contract of stop(): once it returns, the handler never runs again, not even for events
// already posted. It waits for a handler that is running on another thread to finish; it
// may be called from within the handler. The destructor calls it.

#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <variant>

namespace tessaline {

class VolumeWatcher {
public:
    struct Mounted {
        VolumeInfo volume;
    };
    struct Unmounted {
        std::filesystem::path url;  // the mount point that went away
    };
    using Event = std::variant<Mounted, Unmounted>;
    using Handler = std::function<void(const Event&)>;
    // Runs the given closure, now or later, on whatever thread the caller wants.
    using Post = std::function<void(std::function<void()>)>;

    // Starts watching at once. When the mount table cannot be watched, the watcher stays
    // silent (isWatching() is false).
    explicit VolumeWatcher(Handler onEvent, Post post = {});
    ~VolumeWatcher();
    VolumeWatcher(const VolumeWatcher&) = delete;
    VolumeWatcher& operator=(const VolumeWatcher&) = delete;

    // Ends the watching for good. Calling it again does nothing.
    void stop();
    bool isWatching() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace tessaline
