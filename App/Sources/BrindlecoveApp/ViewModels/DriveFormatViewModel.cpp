#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"

#include "BrindlecoveApp/AppError.hpp"
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

QString DriveFormatViewModel::needsRootMessage() {
    return QStringLiteral(
        "Reformatting needs root rights on this computer \u2014 nothing was unmounted or formatted. "
        "Run Brindlecove as root to reformat a volume.");
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
            phase_ = Idle{};
        }
    }
    Q_EMIT changed();
}

void DriveFormatViewModel::setSelectedVolumePath(const std::optional<QString>& path) {
    if (std::holds_alternative<Formatting>(phase_)) return;
    if (samePath(path, selectedVolumePath_)) return;
    selectedVolumePath_ = path;
    inspectSelection();
    Q_EMIT changed();
}

void DriveFormatViewModel::setFormat(Format format) {
    if (format == format_) return;
    format_ = format;
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
    confirmationText_.clear();
    if (!selectedVolumePath_) {
        inspections_.abandon();
        phase_ = Idle{};
        return;
    }
    phase_ = Inspecting{};
    auto ticket = inspections_.begin();
    const QString selected = *selectedVolumePath_;
    Executor::shared().userInitiated([this, ticket, selected, inspect = dependencies_.backend.inspect] {
        std::optional<Facts> facts;
        QString error;
        try {
            facts = inspect(fsPath(selected));
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
        }
        ticket.post([this, id = ticket.id, selected, facts, error] {
            inspections_.finish(id);
            if (!selectedVolumePath_ || !sameText(*selectedVolumePath_, selected)) return;
            if (facts) {
                facts_ = facts;
                newName_ = QString::fromStdString(facts->volumeName);
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
    if (!facts_ || !std::holds_alternative<Ready>(phase_)) return false;
    const QString volumeName = QString::fromStdString(facts_->volumeName);
    return !volumeName.isEmpty() && sameText(confirmationText_, volumeName);
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
    // The label the engine writes, by its own rule, from the name and the inspected volume.
    const QString label =
        QString::fromStdString(tessaline::DriveFormatEngine::labelFor(format, newName, inspected.volumeName));
    auto ticket = reformats_.begin();
    Q_EMIT changed();
    Executor::shared().userInitiated([this, ticket, volume, format, newName, inspected, label,
                                      backend = dependencies_.backend] {
        QString error;
        try {
            if (!backend.isPrivileged()) throw AppError(QStringLiteral("DriveFormat"), 1, needsRootMessage());
            backend.reformat(volume, format, newName, inspected);
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
            if (error.isEmpty()) error = QStringLiteral("The reformat failed.");
        }
        ticket.post([this, id = ticket.id, format, label, error] {
            reformats_.finish(id);
            if (!error.isEmpty()) {
                phase_ = Failed{error};
                Q_EMIT changed();
                return;
            }
            phase_ = Done{QStringLiteral("Reformatted as %1, named \u201c%2\u201d.")
                              .arg(QString::fromStdString(format.displayName()), label)};
            confirmationText_.clear();
            Q_EMIT changed();
            refreshVolumes();
        });
    });
}

}  // namespace brindlecove
