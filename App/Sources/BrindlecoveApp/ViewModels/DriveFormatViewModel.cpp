#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"

#include <QFile>

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

bool sameText(const QString& a, const QString& b) {
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool samePath(const std::optional<QString>& a, const std::optional<QString>& b) {
    if (!a || !b) return !a && !b;
    return sameText(*a, *b);
}


}  // namespace

DriveFormatViewModel::DriveFormatViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

DriveFormatViewModel::~DriveFormatViewModel() = default;

QString DriveFormatViewModel::doneMessage(Format format, const QString& label, const DriveFormatBackend::Result& result) {
    QString message = QStringLiteral("Reformatted as %1, named \u201c%2\u201d.")
                          .arg(QString::fromStdString(format.displayName()), label);
    if (result.mountPath) return message;
    message += QStringLiteral(" It is ready but not mounted");
    const QString reason = result.notMountedReason.trimmed();
    if (!reason.isEmpty()) message += QStringLiteral(" \u2014 ") + reason;
    if (!message.endsWith(u'.')) message += u'.';
    return message;
}

std::optional<QString> DriveFormatViewModel::routeProblem() const {
    if (!route_ || route_->kind != Route::Kind::none) return std::nullopt;
    return route_->problem;
}

std::optional<QString> DriveFormatViewModel::formatProblem(Format format) const {
    if (!route_) return std::nullopt;
    return route_->formatProblem(format);
}

QString DriveFormatViewModel::path(const tessaline::VolumeInfo& volume) {
    return QFile::decodeName(QByteArray::fromStdString(volume.url.string()));
}

std::optional<QString> DriveFormatViewModel::runningNoun() const {
    if (std::holds_alternative<Formatting>(phase_)) return QStringLiteral("reformat");
    return std::nullopt;
}

void DriveFormatViewModel::stop() {}

bool DriveFormatViewModel::isBusy() const {
    return std::holds_alternative<Inspecting>(phase_) || std::holds_alternative<Formatting>(phase_);
}

bool DriveFormatViewModel::needsNewCheck() const {
    return std::holds_alternative<Refused>(phase_) || std::holds_alternative<Failed>(phase_) ||
           std::holds_alternative<Done>(phase_);
}

void DriveFormatViewModel::refreshVolumes() {
    if (isBusy()) return;
    volumes_ = dependencies_.backend.listCandidates();
    Q_EMIT volumesChanged();
    if (selectedVolumePath_) {
        bool listed = false;
        for (const auto& volume : volumes_) listed = listed || path(volume) == *selectedVolumePath_;
        if (!listed) {
            setSelectedVolumePath(std::nullopt);
            facts_.reset();
            route_.reset();
            phase_ = Idle{};
        } else if (needsNewCheck()) {
            // What is at that path now is checked afresh: the volume may be back, or another.
            inspectSelection();
        }
    }
    Q_EMIT changed();
}

void DriveFormatViewModel::setSelectedVolumePath(const std::optional<QString>& path) {
    if (std::holds_alternative<Formatting>(phase_)) return;
    if (samePath(path, selectedVolumePath_)) {
        // Choosing the volume again after a refusal, a failure or a reformat checks it again.
        if (path && needsNewCheck()) {
            inspectSelection();
            Q_EMIT changed();
        }
        return;
    }
    selectedVolumePath_ = path;
    inspectSelection();
    Q_EMIT changed();
}

void DriveFormatViewModel::setFormat(Format format) {
    if (format == format_) return;
    format_ = format;
    // A failed reformat leaves the volume to be checked again before the next attempt.
    if (std::holds_alternative<Failed>(phase_) && selectedVolumePath_) inspectSelection();
    Q_EMIT changed();
}

void DriveFormatViewModel::setNewName(const QString& name) {
    if (name == newName_) return;
    newName_ = name;
    Q_EMIT changed();
}

void DriveFormatViewModel::setConfirmationText(const QString& text) {
    if (text == confirmationText_) return;
    confirmationText_ = text;
    Q_EMIT changed();
}

void DriveFormatViewModel::inspectSelection() {
    facts_.reset();
    route_.reset();
    confirmationText_.clear();
    if (!selectedVolumePath_) {
        inspections_.abandon();
        phase_ = Idle{};
        return;
    }
    phase_ = Inspecting{};
    auto ticket = inspections_.begin();
    const QString selected = *selectedVolumePath_;
    Executor::shared().userInitiated([this, ticket, selected, backend = dependencies_.backend] {
        std::optional<Facts> facts;
        Route route;
        QString error;
        try {
            facts = backend.inspect(fsPath(selected));
            route = backend.route(*facts);
        } catch (const std::exception& e) {
            facts.reset();
            error = QString::fromStdString(e.what());
        }
        ticket.post([this, id = ticket.id, selected, facts, route, error] {
            inspections_.finish(id);
            if (!selectedVolumePath_ || !sameText(*selectedVolumePath_, selected)) return;
            if (facts) {
                facts_ = facts;
                route_ = route;
                newName_ = QString::fromStdString(facts->volumeName);
                chooseFormatTheVolumeTakes();
                phase_ = Ready{};
            } else {
                phase_ = Refused{error};
            }
            Q_EMIT changed();
        });
    });
}

QString DriveFormatViewModel::effectiveLabel() const {
    const std::string current = facts_ ? facts_->volumeName : std::string();
    return QString::fromStdString(tessaline::DriveFormatEngine::labelFor(format_, newName_.toStdString(), current));
}

bool DriveFormatViewModel::canRun() const {
    // After a reformat the facts are those of the volume as it was mounted again, inspected
    // then: the form can run on them as on any inspection.
    if (!facts_ || !(std::holds_alternative<Ready>(phase_) || std::holds_alternative<Done>(phase_))) return false;
    if (routeProblem() || formatProblem(format_)) return false;
    const QString volumeName = QString::fromStdString(facts_->volumeName);
    return !volumeName.isEmpty() && sameText(confirmationText_, volumeName);
}

void DriveFormatViewModel::chooseFormatTheVolumeTakes() {
    if (!formatProblem(format_)) return;
    for (const auto& each : Format::allCases()) {
        if (!formatProblem(each)) {
            format_ = each;
            return;
        }
    }
}

std::optional<QString> DriveFormatViewModel::whyCannotRun() const {
    // Without facts the reformat group is not shown; while formatting the spinner says why;
    // a missing tool is said by routeProblem().
    if (!facts_ || canRun() || std::holds_alternative<Formatting>(phase_) || routeProblem()) return std::nullopt;
    if (!(std::holds_alternative<Ready>(phase_) || std::holds_alternative<Done>(phase_)))
        return QStringLiteral("Choose the volume again to check it before reformatting.");
    if (const auto problem = formatProblem(format_))
        return QStringLiteral("%1 can't be made on this volume: %2")
            .arg(QString::fromStdString(format_.displayName()), *problem);
    // The name itself is not repeated: the field's title shows it, and a long one would
    // widen the form.
    if (facts_->volumeName.empty())
        return QStringLiteral("This volume has no name to type, so it can't be reformatted here.");
    if (confirmationText_.isEmpty())
        return QStringLiteral("Type the volume's name in the field above to enable Erase & Reformat.");
    return QStringLiteral("The typed name doesn't match the volume's name \u2014 type it exactly, capitals included.");
}

QString DriveFormatViewModel::entryTitle(size_t index) const {
    if (index >= volumes_.size()) return {};
    const auto& volume = volumes_[index];
    int sameLabel = 0;
    for (const auto& other : volumes_) sameLabel += other.label == volume.label ? 1 : 0;
    QString title = QString::fromStdString(volume.label);
    if (sameLabel > 1) title += QStringLiteral(" \u2014 ") + path(volume);
    return title;
}

void DriveFormatViewModel::run() {
    if (!canRun() || !selectedVolumePath_) return;
    phase_ = Formatting{};
    const fs::path volume = fsPath(*selectedVolumePath_);
    const Format format = format_;
    const std::string newName = newName_.toStdString();
    const Facts inspected = *facts_;
    const Route::Kind kind = route_->kind;
    // The label the engine writes, by its own rule, from the name and the inspected volume.
    const QString label =
        QString::fromStdString(tessaline::DriveFormatEngine::labelFor(format, newName, inspected.volumeName));
    auto ticket = reformats_.begin();
    Q_EMIT changed();
    Executor::shared().userInitiated([this, ticket, volume, format, newName, inspected, kind, label,
                                      backend = dependencies_.backend] {
        QString error;
        DriveFormatBackend::Result result;
        std::optional<Facts> remounted;
        Route remountedRoute;
        try {
            result = backend.reformat(volume, format, newName, inspected, kind);
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
            if (error.isEmpty()) error = QStringLiteral("The reformat failed.");
        }
        if (error.isEmpty() && result.mountPath) {
            // The volume where it was mounted again, as the next inspection would see it.
            try {
                remounted = backend.inspect(fsPath(*result.mountPath));
                remountedRoute = backend.route(*remounted);
            } catch (const std::exception&) {
                remounted.reset();
            }
        }
        ticket.post([this, id = ticket.id, format, label, error, result, remounted, remountedRoute] {
            reformats_.finish(id);
            if (!error.isEmpty()) {
                phase_ = Failed{error};
                Q_EMIT changed();
                return;
            }
            phase_ = Done{doneMessage(format, label, result)};
            confirmationText_.clear();
            volumes_ = dependencies_.backend.listCandidates();
            Q_EMIT volumesChanged();
            bool listed = false;
            for (const auto& v : volumes_) listed = listed || (result.mountPath && path(v) == *result.mountPath);
            if (listed && remounted) {
                selectedVolumePath_ = result.mountPath;
                facts_ = remounted;
                route_ = remountedRoute;
                newName_ = QString::fromStdString(remounted->volumeName);
            } else {
                selectedVolumePath_.reset();
                facts_.reset();
                route_.reset();
            }
            Q_EMIT changed();
        });
    });
}

}  // namespace brindlecove
