#pragma once
// The scan of a card against the granted drives, from the card panel to the published
// verification report that the Report and Erase Card sections read.
// Main thread; the run's engine work happens on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace brindlecove {

class ScanViewModel : public QObject {
    Q_OBJECT
public:
    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
    };

    explicit ScanViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~ScanViewModel() override;

    // "scan" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current run (sets its cancellation flag); nothing when none runs.
    void stop();
    // The report of the last finished scan; null before the first one.
    std::shared_ptr<const tessaline::VerificationReport> lastReport() const { return lastReport_; }
    // Publishes `report` as the last report (the scan run does this; tests too).
    void setLastReport(std::shared_ptr<const tessaline::VerificationReport> report);

Q_SIGNALS:
    void lastReportChanged();

private:
    Dependencies dependencies_;
    RunControl runs_{this};
    std::shared_ptr<const tessaline::VerificationReport> lastReport_;
};

}  // namespace brindlecove
