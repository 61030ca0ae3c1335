#pragma once
// The reformat of an external volume after a typed confirmation.
// Main thread; the run's engine work happens on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include <QObject>
#include <QString>

#include <optional>

namespace brindlecove {

class DriveFormatViewModel : public QObject {
    Q_OBJECT
public:
    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
    };

    explicit DriveFormatViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~DriveFormatViewModel() override;

    // "reformat" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current run (sets its cancellation flag); nothing when none runs.
    void stop();
    // Inspecting or formatting: the window then keeps this view model when the section is
    // entered again.
    bool isBusy() const { return runs_.isActive(); }

Q_SIGNALS:

private:
    Dependencies dependencies_;
    RunControl runs_{this};
};

}  // namespace brindlecove
