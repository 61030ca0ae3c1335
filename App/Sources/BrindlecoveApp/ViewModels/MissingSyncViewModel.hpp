#pragma once
// The rescue copy of the clips a report found only on the card.
// Main thread; the run's engine work happens on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include <QObject>
#include <QString>

#include <optional>

namespace brindlecove {

class MissingSyncViewModel : public QObject {
    Q_OBJECT
public:
    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
    };

    explicit MissingSyncViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~MissingSyncViewModel() override;

    // "rescue copy" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current run (sets its cancellation flag); nothing when none runs.
    void stop();

Q_SIGNALS:

private:
    Dependencies dependencies_;
    RunControl runs_{this};
};

}  // namespace brindlecove
