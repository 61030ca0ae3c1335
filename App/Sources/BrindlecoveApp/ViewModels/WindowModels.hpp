#pragma once
// The view models of one main window, made once when the window opens and kept for its
// life: the scan (read by Report and Erase Card), the rescue copy, the verified copy, the
// latest of their two logs (read by Production Log), the card erase, and the record of the reports an erase was started on
// (written by the card erase, read by Report). The reformat view model is replaced by a fresh one
// whenever the Erase Card section is entered, unless it is inspecting or formatting, so a
// running reformat keeps its view model and its outcome. Every new scan report starts the
// rescue copy's group afresh (a rescue's outcome belongs with the report it rescued). Main
// thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

namespace brindlecove {

class CardPrepViewModel;
class CopyViewModel;
class DriveFormatViewModel;
class ErasedReports;
class LatestTransfer;
class MissingSyncViewModel;
class ScanViewModel;

class WindowModels {
public:
    explicit WindowModels(const Dialogs& dialogs);
    ~WindowModels();
    WindowModels(const WindowModels&) = delete;
    WindowModels& operator=(const WindowModels&) = delete;

    ScanViewModel& scan() { return *scan_; }
    MissingSyncViewModel& missingSync() { return *missingSync_; }
    CopyViewModel& copy() { return *copy_; }
    CardPrepViewModel& cardPrep() { return *cardPrep_; }
    ErasedReports& erasedReports() { return *erasedReports_; }
    // The last log of the copy or the rescue, whichever finished last (read by Production Log).
    LatestTransfer& latestTransfer() { return *latestTransfer_; }
    DriveFormatViewModel& driveFormat() { return *driveFormat_; }
    // Replaces the reformat view model with a fresh one unless it is busy; returns the one in use.
    DriveFormatViewModel& renewDriveFormat();

    // The noun of the first run in progress ("scan", "copy", ...), for the close check.
    std::optional<QString> runningNoun() const;
    // The noun of a run in progress that cannot be stopped ("reformat"), for the close check.
    std::optional<QString> unstoppableNoun() const;
    // Stops every run of these view models.
    void stopAll();

private:
    Dialogs dialogs_;
    std::shared_ptr<ErasedReports> erasedReports_;
    std::unique_ptr<ScanViewModel> scan_;
    std::unique_ptr<MissingSyncViewModel> missingSync_;
    std::unique_ptr<CopyViewModel> copy_;
    std::unique_ptr<LatestTransfer> latestTransfer_;
    std::unique_ptr<CardPrepViewModel> cardPrep_;
    std::unique_ptr<DriveFormatViewModel> driveFormat_;
};

}  // namespace brindlecove
