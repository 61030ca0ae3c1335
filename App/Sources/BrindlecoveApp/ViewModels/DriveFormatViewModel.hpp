#pragma once
// The reformat of an external volume: the candidate volumes, the inspection of the selected
// one with the way a reformat goes here (the system disk service, the direct route as root,
// or none, with why), the format and the new name, the typed confirmation, and the reformat
// run with its outcome. The run hands the backend the facts of the inspection the user saw,
// so a volume swapped in at the same mount path is refused. A reformat cannot be stopped once
// started. While inspecting or formatting the list is not refreshed and the selection does
// not change, so a second reformat cannot start on top of the first. After a refusal, a
// failure or a finished reformat, choosing the volume again or Refresh checks what is at its
// path afresh. A finished reformat selects the volume where it was mounted again, with its
// new facts and the done message; the form can run again on those facts.
// Main thread; inspections and reformats run on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatBackend.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include <QObject>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace brindlecove {

class DriveFormatViewModel : public QObject {
    Q_OBJECT
public:
    using Facts = tessaline::DriveFormatEngine::VolumeFacts;
    using Format = tessaline::DriveFormat;
    using Route = DriveFormatBackend::Route;

    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
        DriveFormatBackend backend = DriveFormatBackend::standard();
    };

    struct Idle {
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    struct Inspecting {
        friend bool operator==(const Inspecting&, const Inspecting&) = default;
    };
    struct Ready {
        friend bool operator==(const Ready&, const Ready&) = default;
    };
    struct Formatting {
        friend bool operator==(const Formatting&, const Formatting&) = default;
    };
    struct Done {
        QString message;
        friend bool operator==(const Done&, const Done&) = default;
    };
    struct Refused {
        QString message;
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    struct Failed {
        QString message;
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    using Phase = std::variant<Idle, Inspecting, Ready, Formatting, Done, Refused, Failed>;

    explicit DriveFormatViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~DriveFormatViewModel() override;

    // "reformat" while a reformat runs, for the window's close check.
    std::optional<QString> runningNoun() const;
    // A reformat cannot be stopped once the tool runs: nothing happens.
    void stop();
    // Inspecting or formatting: the window then keeps this view model when the section is
    // entered again, and the list is not refreshed.
    bool isBusy() const;

    // Lists the candidate volumes again and drops a selection no longer listed; after a
    // refusal, a failure or a reformat, inspects a selection still listed again. Does nothing
    // while busy.
    void refreshVolumes();
    // Selects a volume by mount path (nullopt: none); a change inspects it, and so does the
    // same path after a refusal, a failure or a reformat. Ignored while a reformat runs.
    void setSelectedVolumePath(const std::optional<QString>& path);
    // Chooses the format; after a failed reformat this inspects the volume again, so the
    // form is usable again.
    void setFormat(Format format);
    void setNewName(const QString& name);
    void setConfirmationText(const QString& text);
    // Starts the reformat when canRun holds; returns at once.
    void run();

    const std::vector<tessaline::VolumeInfo>& volumes() const { return volumes_; }
    const std::optional<QString>& selectedVolumePath() const { return selectedVolumePath_; }
    const std::optional<Facts>& facts() const { return facts_; }
    Format format() const { return format_; }
    const QString& newName() const { return newName_; }
    const QString& confirmationText() const { return confirmationText_; }
    const Phase& phase() const { return phase_; }
    // The way a reformat of the inspected volume goes (with facts only).
    const std::optional<Route>& route() const { return route_; }
    // Why nothing can reformat the inspected volume here, and what to install or start.
    std::optional<QString> routeProblem() const;
    // Why `format` cannot be made on the inspected volume here, or nullopt.
    std::optional<QString> formatProblem(Format format) const;

    // The name the volume will get: newName (or the current name when empty) normalised for
    // the format; "UNTITLED" when that comes out empty.
    QString effectiveLabel() const;
    bool canRun() const;
    // Why Erase & Reformat is disabled, in words, when the form is shown and nothing else on
    // it says so (a missing tool, the reformat running): the file system can't be made, no
    // name, nothing typed, or a name that doesn't match. nullopt when it can run.
    std::optional<QString> whyCannotRun() const;
    // The picker's text for volumes()[index]: the label, and " — <mount path>" after it when
    // another listed volume has the same label.
    QString entryTitle(size_t index) const;

    // The done message: "Reformatted as <display name>, named “<label>”.", and when the
    // volume could not be mounted again, that it is ready but not mounted and why.
    static QString doneMessage(Format format, const QString& label, const DriveFormatBackend::Result& result);
    static QString path(const tessaline::VolumeInfo& volume);

Q_SIGNALS:
    void changed();
    void volumesChanged();

private:
    void inspectSelection();
    // A file system the inspected volume can't take is never left chosen: the first one it
    // can take replaces it (none: it stays, and whyCannotRun() says why).
    void chooseFormatTheVolumeTakes();
    // Refused, failed or reformatted: the selection is to be checked again when chosen again
    // or refreshed.
    bool needsNewCheck() const;

    Dependencies dependencies_;
    RunControl inspections_{this};
    RunControl reformats_{this};
    std::vector<tessaline::VolumeInfo> volumes_;
    std::optional<QString> selectedVolumePath_;
    std::optional<Facts> facts_;
    std::optional<Route> route_;
    Format format_ = Format::exfat;
    QString newName_;
    QString confirmationText_;
    Phase phase_ = Idle{};
};

}  // namespace brindlecove
