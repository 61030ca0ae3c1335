#pragma once
// Holds the log store's listings up, as a logs folder on a drive or share that stopped
// answering would (which can't be made here), until the test opens it. A test opens it at
// the latest in its tear-down, then waits for the workers, so none outlives the test.

#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "Tessaline/Report/LogArchive.hpp"

#include <atomic>
#include <future>
#include <memory>
#include <mutex>

namespace brindlecove::testing {

struct ListingGate {
    std::promise<void> opening;
    std::shared_future<void> opened = opening.get_future().share();
    std::atomic<int> entered{0};  // listings that reached the gate
    std::once_flag once;

    void open() {
        std::call_once(once, [this] { opening.set_value(); });
    }

    // Every listing waits at the gate, then reads the archive.
    static LogStore::Listing holding(const std::shared_ptr<ListingGate>& gate) {
        return [gate](const tessaline::LogArchive& archive) {
            ++gate->entered;
            gate->opened.wait();
            return archive.list();
        };
    }

    // The first listing reads the archive, then waits at the gate (it arrives late with an
    // old list); later ones run free.
    static LogStore::Listing holdingTheFirst(const std::shared_ptr<ListingGate>& gate) {
        return [gate](const tessaline::LogArchive& archive) {
            auto logs = archive.list();
            if (gate->entered++ == 0) gate->opened.wait();
            return logs;
        };
    }
};

}  // namespace brindlecove::testing
