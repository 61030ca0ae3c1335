#include "Tessaline/Volumes/VolumeWatcher.hpp"

#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/MountSnapshot.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaline {

struct VolumeWatcher::Shared {
    Handler handler;
    Post post;

    // Held while the handler runs, so stop() can wait for it; recursive so that the handler
    // may call stop() itself.
    std::recursive_mutex deliveryMutex;
    bool alive = true;  // guarded by deliveryMutex

    std::mutex stopMutex;
    bool stopped = false;  // guarded by stopMutex
    std::thread thread;

    UniqueFd mountTableFd;
    UniqueFd stopFd;
    MountSnapshot snapshot;  // used by the watcher thread only

    void deliver(Event event, const std::shared_ptr<Shared>& self) {
        auto closure = [self, event = std::move(event)] {
            std::lock_guard<std::recursive_mutex> lock(self->deliveryMutex);
            if (!self->alive) return;
            self->handler(event);
        };
        if (post)
            post(std::move(closure));
        else
            closure();
    }

    void compareAndReport(const std::shared_ptr<Shared>& self) {
        MountSnapshot current = MountSnapshot::take(MountTable::current());
        const MountSnapshot::Changes changes = MountSnapshot::between(snapshot, current);
        std::vector<Event> events;
        for (const auto& mountPoint : changes.unmounted) events.push_back(Unmounted{mountPoint});
        if (!changes.mounted.empty()) {
            std::vector<VolumeInfo> listed = VolumeDetector::listMountedVolumes();
            for (const auto& mountPoint : changes.mounted)
                for (const VolumeInfo& volume : listed)
                    if (volume.url == mountPoint) {
                        events.push_back(Mounted{volume});
                        break;
                    }
        }
        snapshot = std::move(current);
        for (Event& event : events) deliver(std::move(event), self);
    }

    static void run(std::shared_ptr<Shared> self) {
        for (;;) {
            pollfd fds[2] = {{self->mountTableFd.get(), POLLPRI, 0}, {self->stopFd.get(), POLLIN, 0}};
            int ready = ::poll(fds, 2, -1);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            // The kernel flags the mount table file with POLLPRI|POLLERR once per change seen
            // by this open file; the flag is cleared by the poll itself.
            if (fds[0].revents & (POLLPRI | POLLERR)) self->compareAndReport(self);
            if (fds[0].revents & (POLLHUP | POLLNVAL)) return;
        }
    }
};

VolumeWatcher::VolumeWatcher(Handler onEvent, Post post) : shared_(std::make_shared<Shared>()) {
    shared_->handler = std::move(onEvent);
    shared_->post = std::move(post);
    // Open the table before the snapshot, so a change in between is seen as an event.
    shared_->mountTableFd.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    shared_->stopFd.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!shared_->mountTableFd || !shared_->stopFd) {
        shared_->stopped = true;
        return;
    }
    shared_->snapshot = MountSnapshot::take(MountTable::current());
    try {
        shared_->thread = std::thread(&Shared::run, shared_);
    } catch (const std::system_error&) {
        shared_->stopped = true;
    }
}

VolumeWatcher::~VolumeWatcher() { stop(); }

bool VolumeWatcher::isWatching() const {
    std::lock_guard<std::mutex> lock(shared_->stopMutex);
    return !shared_->stopped;
}

void VolumeWatcher::stop() {
    {
        std::lock_guard<std::recursive_mutex> lock(shared_->deliveryMutex);
        shared_->alive = false;
    }
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(shared_->stopMutex);
        if (shared_->stopped && !shared_->thread.joinable()) return;
        shared_->stopped = true;
        thread = std::move(shared_->thread);
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(shared_->stopFd.get(), &one, sizeof one);
    if (!thread.joinable()) return;
    // Called by the handler on the watcher's own thread: it ends by itself after returning.
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

}  // namespace tessaline
