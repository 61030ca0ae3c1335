#include "BrindlecoveApp/ViewModels/CardEraseWorker.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Support/PathText.hpp"

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

// Between two walks through one mount: a file whose number, size and times are the same is
// the file the earlier walk read.
constexpr auto sameNumbers = tessaline::CardFileComparison::Numbering::identity;

}  // namespace

EraseGate::OnCardTest CardEraseWorker::onCardDevice(const CardPrepBackend& backend, std::optional<dev_t> cardDevice) {
    std::function<bool(const fs::path&)> isView;
    if (cardDevice && backend.viewTestOf) isView = backend.viewTestOf(*cardDevice);
    return [deviceOf = backend.deviceOf, cardDevice, isView](const fs::path& location) {
        if (!cardDevice || !deviceOf) return false;
        const auto device = deviceOf(location);
        return (device && *device == *cardDevice) || (isView && isView(location));
    };
}

void CardEraseWorker::run(const Request& request, const CardPrepBackend& backend,
                          const std::function<bool()>& isCancelled, std::atomic<int>& stage, const Callbacks& to) {
    auto refuse = [&](Refusal refusal, std::optional<CardRootIssue> issue = std::nullopt,
                      std::vector<std::string> files = {}, FileChanges changes = {}) {
        to.refused(refusal, issue, std::move(files), std::move(changes));
    };
    try {
        // Everything the click checked, again, just before anything is deleted.
        const auto checked = backend.validate(request.card);
        if (checked.issue || !checked.card) return refuse(Refusal::location, checked.issue);
        if (*checked.card != request.facts) return refuse(Refusal::swapped);
        const auto identity = backend.readIdentity(request.card);
        if (!identity || !identity->matches(request.identity)) return refuse(Refusal::swapped);
        // On the safe path the erase deletes only the files just checked, as they were then.
        std::optional<CardFiles> vouched;
        if (request.safePath) {
            // Every file the erase would delete, walked now: each must be, as it is now, a
            // file the report recorded and proved off the card.
            auto files = backend.walkCardFiles(request.card);
            if (!files || !request.report) return refuse(Refusal::changed);
            // Files renumbered since the scan are read again (unless the last count read them
            // as they are now): their bytes decide.
            if (request.countedMount && files->mount && *request.countedMount == *files->mount)
                tessaline::CardFileComparison::takeDigests(files->files, request.counted, sameNumbers);
            CardPrepBackend::checkRenumbered(request.card, files->files, files->mount, *request.report, isCancelled,
                                             to.checking);
            // Stopped while checking: prepare() deletes nothing and reports the stop.
            if (isCancelled()) {
                vouched = files->files;
            } else {
                const auto cardDevice = backend.deviceOf(request.card);
                if (!cardDevice) return refuse(Refusal::swapped);
                const EraseGate::OnCardTest onCard = onCardDevice(backend, cardDevice);
                const tessaline::VerificationReport& report = *request.report;
                EraseGate::Inputs in;
                in.report = &report;
                in.card = request.card;
                in.identityNow = identity;
                in.files = &files->files;
                in.filesMount = files->mount;
                in.selfProven = [&] { return EraseGate::selfProvenClips(report, request.card, onCard); };
                in.otherFilesOnlyOnCard = [&] { return EraseGate::otherFilesOnlyOnCard(report, request.card, onCard); };
                const VerificationStanding now = EraseGate::standing(in);
                if (!now.isSafe()) {
                    if (now.kind == VerificationStanding::Kind::changedSinceScan)
                        return refuse(Refusal::changed, std::nullopt, {},
                                      EraseGate::named(*EraseGate::changesSinceScan(report, files->files, files->mount)));
                    if (now.kind == VerificationStanding::Kind::otherFilesOnlyOnCard)
                        return refuse(Refusal::selfProven, std::nullopt, in.otherFilesOnlyOnCard());
                    if (now.kind == VerificationStanding::Kind::missing) return refuse(Refusal::selfProven);
                    return refuse(Refusal::changed);
                }
                vouched = files->files;
                // With the digests the scan proved, for files renumbered while they are deleted.
                tessaline::CardFileComparison::takeDigests(
                    *vouched, *report.cardFiles,
                    tessaline::CardFileComparison::between(report.cardFilesMount, files->mount));
            }
        }
        auto onEvent = [&to](const tessaline::CardPrepEngine::Event& event) {
            using Engine = tessaline::CardPrepEngine;
            if (const auto* deleting = std::get_if<Engine::Deleting>(&event))
                to.deleting(QString::fromStdString(tessaline::toDisplayUtf8(std::string_view(deleting->name))),
                            deleting->index, deleting->total);
            else if (const auto* planned = std::get_if<Engine::Planned>(&event); planned && to.filesDeleted)
                to.filesDeleted(0, planned->fileCount);
            else if (const auto* files = std::get_if<Engine::FilesDeleted>(&event); files && to.filesDeleted)
                to.filesDeleted(files->deleted, files->planned);
        };
        // From here on a Stop is the engine's to hear; stopped while checking: no erase.
        int checking = checkingCard;
        if (!stage.compare_exchange_strong(checking, erasing)) return;
        to.finished(backend.prepare(request.card, request.facts, request.profile, isCancelled, onEvent, vouched));
    } catch (const tessaline::CardPrepError& error) {
        if (error.kind() == tessaline::CardPrepError::Kind::cardChanged) return refuse(Refusal::swapped);
        to.failed(QString::fromStdString(error.what()));
    } catch (const std::exception& error) {
        to.failed(QString::fromStdString(error.what()));
    }
}

}  // namespace brindlecove
