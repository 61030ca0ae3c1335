#pragma once
// The worker of one scan: scan the card, fingerprint it through the fingerprint cache,
// scan and fingerprint each granted drive, group, match, prove every match by its bytes,
// prove every other file an erase would delete (the backed-up clips' sidecars and every file
// that is no clip's, those the scanner passes over in hidden and junk-named folders included)
// by a same-named drive file with the same bytes, and build the report with the record of
// every file the erase deletes (CardFileSet), taken before any is read; a file whose record no
// longer holds after the proofs is not proven. Plain C++ over the engine (no Qt), so it runs
// on any worker thread and is tested directly; the view model runs it on the user-initiated
// pool.
//
// Never a false "safe": the card root is handed to the matcher and the verifier (a copy on
// the card never proves a clip), drive walks leave the card out, a drive whose root lies on
// the card contributes nothing and is reported skipped for that reason, and the card's
// unreadable folders go into the report. A stopped run returns "Scan stopped." and never a
// report.

#include "BrindlecoveApp/ViewModels/ScanEvent.hpp"

#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/MetadataReader/MetadataReader.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brindlecove {

struct ScanRequest {
    std::filesystem::path card;             // as the user chose it
    std::vector<std::string> driveLabels;   // grant labels, in visiting order
    bool includeAllFiles = false;
    bool fresh = false;                     // read every file again (the cache is still written)
};

struct ScanFailure {
    std::string message;  // shown as it is
    bool operator==(const ScanFailure&) const = default;
};

using ScanOutcome = std::variant<std::shared_ptr<const tessaline::VerificationReport>, ScanFailure>;

class ScanRun {
public:
    // What the run takes from outside; every field has a production default.
    struct Environment {
        // The grants file; none: the default "bookmarks.json".
        std::optional<std::filesystem::path> bookmarkStoreURL;
        // Makes the reader of embedded metadata (once per run); none: NativeMetadataReader.
        std::function<std::shared_ptr<tessaline::MetadataReader>()> makeReader;
        // Opens the fingerprint cache; none: the default database. A throw or a null result
        // means the run goes on without a cache (no resume banner, no pruning).
        std::function<std::shared_ptr<tessaline::FingerprintIndex>()> openCache;
        // Threads that fingerprint a source; 0: FingerprintStages::defaultThreadCount().
        int fingerprintThreads = 0;
    };

    using CancelTest = std::function<bool()>;
    using EventSink = std::function<void(const ScanEvent&)>;

    static inline const std::string stoppedMessage = "Scan stopped.";

    // Runs the whole scan on the caller's thread; events go to `onEvent` in order, on this
    // thread. Never throws: every failure is a ScanFailure.
    static ScanOutcome perform(const ScanRequest& request, const Environment& environment,
                               const CancelTest& isCancelled, const EventSink& onEvent);
};

}  // namespace brindlecove
