#include "BrindlecoveApp/ViewModels/WindowModels.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

namespace brindlecove {

namespace {

template <class Model>
std::unique_ptr<Model> make(const Dialogs& dialogs) {
    typename Model::Dependencies dependencies;
    dependencies.dialogs = dialogs;
    return std::make_unique<Model>(std::move(dependencies));
}

std::unique_ptr<CardPrepViewModel> makeCardPrep(const Dialogs& dialogs, std::shared_ptr<ErasedReports> erased) {
    CardPrepViewModel::Dependencies dependencies;
    dependencies.dialogs = dialogs;
    dependencies.erasedReports = std::move(erased);
    return std::make_unique<CardPrepViewModel>(std::move(dependencies));
}

}  // namespace

WindowModels::WindowModels(const Dialogs& dialogs)
    : dialogs_(dialogs),
      erasedReports_(std::make_shared<ErasedReports>()),
      scan_(make<ScanViewModel>(dialogs)),
      missingSync_(make<MissingSyncViewModel>(dialogs)),
      copy_(make<CopyViewModel>(dialogs)),
      latestTransfer_(std::make_unique<LatestTransfer>(copy_.get(), missingSync_.get())),
      cardPrep_(makeCardPrep(dialogs, erasedReports_)),
      driveFormat_(make<DriveFormatViewModel>(dialogs)) {
    // A rescue's outcome belongs with the report it rescued: every new report starts the
    // Report section's rescue group afresh.
    QObject::connect(scan_.get(), &ScanViewModel::lastReportChanged, missingSync_.get(),
                     &MissingSyncViewModel::reportReplaced);
    // An erase removes files a rescue outcome may call the card's only copy: when one ends
    // (done, stopped or failed part-way), the outcome looks at the card again.
    QObject::connect(cardPrep_.get(), &CardPrepViewModel::changed, missingSync_.get(),
                     [this, erasing = false]() mutable {
                         const bool running = cardPrep_->runningNoun().has_value();
                         if (erasing && !running) missingSync_->recheckCard();
                         erasing = running;
                     });
}

// Members go in reverse order; each view model's destructor cancels its run.
WindowModels::~WindowModels() = default;

DriveFormatViewModel& WindowModels::renewDriveFormat() {
    if (!driveFormat_->isBusy()) driveFormat_ = make<DriveFormatViewModel>(dialogs_);
    return *driveFormat_;
}

std::optional<QString> WindowModels::runningNoun() const {
    for (auto noun : {scan_->runningNoun(), missingSync_->runningNoun(), copy_->runningNoun(),
                      cardPrep_->runningNoun(), driveFormat_->runningNoun()})
        if (noun) return noun;
    return std::nullopt;
}

std::optional<QString> WindowModels::unstoppableNoun() const { return driveFormat_->runningNoun(); }

void WindowModels::stopAll() {
    scan_->stop();
    missingSync_->stop();
    copy_->stop();
    cardPrep_->stop();
    driveFormat_->stop();
}

}  // namespace brindlecove
