#pragma once
// The erase of a picked card, on a worker thread. Everything the click checked is checked
// again just before anything is deleted: the engine's volume check and the very volume that
// was picked; and on the safe path every file the erase would delete, walked now, its
// renumbered files read again, judged against the report the erase was started on (only
// those files are then deleted, as they were). Then the engine erases. What happens is handed
// to callbacks, called on the worker thread: progress, a refusal (nothing deleted), the
// engine's summary or its error. Plain values only; any thread.

#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"
#include "BrindlecoveApp/ViewModels/EraseGate.hpp"
#include "Tessaline/CardPrep/CameraFormatProfile.hpp"
#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindlecove {

struct CardEraseWorker {
    using CardRootIssue = tessaline::CardPrepEngine::CardRootIssue;
    using Summary = tessaline::CardPrepEngine::Summary;

    // Why an erase was refused before anything was deleted: the location may no longer be
    // erased; another volume is in the reader; the card changed since its scan; files are
    // proven only on the card itself.
    enum class Refusal { location, swapped, changed, selfProven };

    // Where the worker stands, shared with the view model: it checks the card before it erases
    // (on the safe path a walk of every file, seconds on a large card); a Stop while it checks
    // is answered by the view model at once (it moves the stage to stoppedBeforeErasing) and
    // the worker then never erases.
    enum Stage : int { checkingCard, erasing, stoppedBeforeErasing };

    struct Request {
        std::filesystem::path card;
        tessaline::CardPrepEngine::CardFacts facts;
        tessaline::VolumeIdentity identity;
        tessaline::CameraFormatProfile profile;
        // Set on the safe path: the card must still be what it vouches for.
        std::shared_ptr<const tessaline::VerificationReport> report;
        bool safePath = false;
        CardFiles counted;  // the last count's files, with the digests of those it read
        std::optional<tessaline::CardFileMount> countedMount;  // the mount they were walked through
    };

    struct Callbacks {
        std::function<void(int done, int total)> checking;  // renumbered files read again
        std::function<void(const QString& item, int index, int total)> deleting;
        // Regular files deleted so far of those the erase planned (0 of n once planned).
        std::function<void(int deleted, int planned)> filesDeleted;
        // files: those proven only on the card (selfProven); changes: what happened to the
        // card's files since the scan (changed).
        std::function<void(Refusal, std::optional<CardRootIssue>, std::vector<std::string> files, FileChanges changes)>
            refused;
        std::function<void(Summary)> finished;  // also a stopped erase
        std::function<void(QString message)> failed;
    };

    // Runs the erase; exactly one of refused, finished and failed follows, except when the
    // stage was moved to stoppedBeforeErasing meanwhile (then none).
    static void run(const Request& request, const CardPrepBackend& backend, const std::function<bool()>& isCancelled,
                    std::atomic<int>& stage, const Callbacks& to);

    // Whether a location lies on the card's own device (links followed) or on a view of it.
    static EraseGate::OnCardTest onCardDevice(const CardPrepBackend& backend, std::optional<dev_t> cardDevice);
};

}  // namespace brindlecove
