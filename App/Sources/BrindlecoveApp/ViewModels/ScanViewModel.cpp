#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ReportTextFileName.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/ViewModels/EraseGate.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <QDateTime>
#include <QFile>
#include <QPointer>

#include <algorithm>

namespace brindlecove {

namespace {

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

QString stageID(MediaKind kind, const QString& prefix) {
    return prefix + QString::fromLatin1(rawValue(kind).data(), qsizetype(rawValue(kind).size()));
}

}  // namespace

ScanViewModel::ScanViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

ScanViewModel::~ScanViewModel() = default;

std::optional<QString> ScanViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("scan");
    return std::nullopt;
}

void ScanViewModel::stop() { cancel(); }

void ScanViewModel::rememberReport(const std::shared_ptr<const tessaline::VerificationReport>& report) {
    if (!report) return;
    const auto folder = EraseGate::standardised(report->cardPath);
    const auto& identity = report->cardVolumeIdentity;
    std::erase_if(sessionReports_, [&](const auto& earlier) {
        if (earlier == report) return true;
        if (EraseGate::standardised(earlier->cardPath) != folder) return false;
        const auto& earlierIdentity = earlier->cardVolumeIdentity;
        // An identity too thin to match (a folder on a volume without a UUID) still stands for
        // the same volume when it is the very same: without that, every scan of such a card
        // would be kept for the session.
        if (identity && earlierIdentity) return identity->matches(*earlierIdentity) || *identity == *earlierIdentity;
        return !identity && !earlierIdentity;
    });
    sessionReports_.push_back(report);
}

void ScanViewModel::setLastReport(std::shared_ptr<const tessaline::VerificationReport> report) {
    if (report == lastReport_) return;
    rememberReport(report);
    lastReport_ = std::move(report);
    Q_EMIT lastReportChanged();
    Q_EMIT changed();
}

bool ScanViewModel::isRunning() const {
    return std::holds_alternative<scan_phase::ScanningCard>(phase_) ||
           std::holds_alternative<scan_phase::ScanningDrive>(phase_) ||
           std::holds_alternative<scan_phase::Matching>(phase_) ||
           std::holds_alternative<scan_phase::Verifying>(phase_);
}

bool ScanViewModel::canStartScan() const { return cardPath_.has_value() && !isRunning() && !runs_.isActive(); }

QStringList ScanViewModel::grantedDriveLabels() const {
    QStringList labels;
    for (const std::string& label :
         tessaline::SecurityScopedBookmarkStore(dependencies_.environment.bookmarkStoreURL).grantedVolumeLabels())
        labels.append(fromStd(label));
    return labels;
}

void ScanViewModel::pickCard() {
    if (runs_.isActive() || !dependencies_.dialogs.chooseFolder) return;
    FolderRequest request;
    request.prompt = QStringLiteral("Select Source");
    request.message = QStringLiteral(
        "Pick the SD card \u2014 or any drive/folder \u2014 to verify against your backup drives.");
    request.canCreateFolders = false;
    request.startFolder = RemovableMounts::parentFolder();
    std::optional<QString> chosen = dependencies_.dialogs.chooseFolder(request);
    if (!chosen || chosen->isEmpty()) return;
    setCardPath(*chosen);
}

void ScanViewModel::setCardPath(const QString& path) {
    if (runs_.isActive()) return;
    cardPath_ = path;
    phase_ = scan_phase::Idle{};
    Q_EMIT changed();
}

void ScanViewModel::setDriveSelected(const QString& label, bool selected) {
    if (selected == selectedDriveLabels_.contains(label)) return;
    if (selected)
        selectedDriveLabels_.append(label);
    else
        selectedDriveLabels_.removeAll(label);
    Q_EMIT changed();
}

void ScanViewModel::setIncludeAllFiles(bool on) {
    if (on == includeAllFiles_) return;
    includeAllFiles_ = on;
    Q_EMIT changed();
}

std::vector<std::string> ScanViewModel::labelsToScan() const {
    const QStringList granted = grantedDriveLabels();
    QStringList ordered;
    if (selectedDriveLabels_.isEmpty()) {
        ordered = granted;
    } else {
        for (const QString& label : granted)
            if (selectedDriveLabels_.contains(label)) ordered.append(label);
        QStringList others;
        for (const QString& label : selectedDriveLabels_)
            if (!granted.contains(label)) others.append(label);
        others.sort();
        ordered += others;
    }
    std::vector<std::string> labels;
    for (const QString& label : ordered) labels.push_back(label.toStdString());
    return labels;
}

void ScanViewModel::setPhase(ScanPhase phase) {
    phase_ = std::move(phase);
    Q_EMIT changed();
}

void ScanViewModel::startScan(bool fresh) {
    if (!canStartScan()) return;
    skippedDriveLabels_.clear();
    skippedOnCardLabels_.clear();
    filingNotice_.reset();
    reportTextNotice_.reset();
    tracker_.clearResume();
    isStopping_ = false;
    tracker_.reset();
    phase_ = scan_phase::ScanningCard{};

    ScanRequest request;
    request.driveLabels = labelsToScan();
    if (request.driveLabels.empty()) {
        setPhase(scan_phase::Failed{noDrivesMessage});
        return;
    }
    request.card = QFile::encodeName(*cardPath_).toStdString();
    request.includeAllFiles = includeAllFiles_;
    request.fresh = fresh;

    RunControl::Ticket ticket = runs_.begin();
    Q_EMIT changed();
    Executor::shared().userInitiated([ticket, request = std::move(request), environment = dependencies_.environment,
                                      this]() {
        // `this` is used only inside posted calls, which run only while it exists.
        ScanOutcome outcome = ScanRun::perform(request, environment, ticket.cancelTest(), [&](const ScanEvent& event) {
            ticket.post([this, event] { handle(event); });
        });
        ticket.post([this, id = ticket.id, outcome = std::move(outcome)] { finishRun(id, outcome); });
    });
}

void ScanViewModel::cancel() {
    if (!runs_.isActive()) return;
    isStopping_ = true;
    runs_.cancel();
    Q_EMIT changed();
}

void ScanViewModel::handle(const ScanEvent& event) {
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, scan_event::CardProgress>) {
                phase_ = scan_phase::ScanningCard{e.kind, e.completed, e.total};
                tracker_.recordProgress(stageID(e.kind, QStringLiteral("card-")), e.completed, e.total, e.elapsed);
            } else if constexpr (std::is_same_v<E, scan_event::DriveStarted>) {
                phase_ = scan_phase::ScanningDrive{fromStd(e.label), MediaKind::photos, 0, 0};
            } else if constexpr (std::is_same_v<E, scan_event::DriveProgress>) {
                const QString label = fromStd(e.label);
                phase_ = scan_phase::ScanningDrive{label, e.kind, e.completed, e.total};
                tracker_.recordProgress(stageID(e.kind, QStringLiteral("drive-") + label + QLatin1Char('-')),
                                        e.completed, e.total, e.elapsed);
            } else if constexpr (std::is_same_v<E, scan_event::DriveSkipped>) {
                skippedDriveLabels_.append(fromStd(e.label));
                if (e.reason == scan_event::DriveSkipped::Reason::onCard) skippedOnCardLabels_.append(fromStd(e.label));
            } else if constexpr (std::is_same_v<E, scan_event::VerifyingProgress>) {
                phase_ = scan_phase::Verifying{e.completed, e.total, e.part};
                // Each part of the proof is a stage of its own: its chart, total and estimate.
                tracker_.beginStage(e.part == ProofPart::clips        ? QStringLiteral("verify")
                                    : e.part == ProofPart::otherFiles ? QStringLiteral("verify-others")
                                                                      : QStringLiteral("verify-card"));
                tracker_.recordGraph(e.completed, e.total, e.elapsed);
            } else if constexpr (std::is_same_v<E, scan_event::ResumeInfo>) {
                tracker_.setResume(fromStd(e.sourceLabel), e.cached, e.total);
            } else if constexpr (std::is_same_v<E, scan_event::Matching>) {
                phase_ = scan_phase::Matching{};
                tracker_.beginStage(QStringLiteral("matching"));
            }
        },
        event);
    Q_EMIT changed();
}

void ScanViewModel::finishRun(quint64 runID, ScanOutcome outcome) {
    runs_.finish(runID);
    isStopping_ = false;
    if (auto* report = std::get_if<std::shared_ptr<const tessaline::VerificationReport>>(&outcome)) {
        std::shared_ptr<const tessaline::VerificationReport> published = *report;
        rememberReport(published);
        lastReport_ = published;
        phase_ = scan_phase::Done{};
        Q_EMIT lastReportChanged();
        Q_EMIT changed();
        LogArchiveProvider::shared().fileInBackground(
            *published, [self = QPointer<ScanViewModel>(this), runID](const QString& notice) {
                if (!self || !self->runs_.isCurrent(runID)) return;
                self->filingNotice_ = notice;
                Q_EMIT self->changed();
            });
        saveReportTextIfConfigured(runID, *published);
        return;
    }
    setPhase(scan_phase::Failed{fromStd(std::get<ScanFailure>(outcome).message)});
}

void ScanViewModel::saveReportTextIfConfigured(quint64 runID, const tessaline::VerificationReport& report) {
    if (!ReportsFolderStore::isConfigured()) return;
    const QString text = QString::fromStdString(report.summary());
    const QString cardPath = QFile::decodeName(QByteArray::fromStdString(report.cardPath.string()));
    std::optional<QString> label;
    if (auto volume = tessaline::volumeLabel(report.cardPath)) label = fromStd(*volume);
    const QString name = reportTextFileName(cardPath, label, Formats::fileStamp(QDateTime::currentDateTime()));
    Executor::shared().utility([self = QPointer<ScanViewModel>(this), runID, text, name] {
        QString failure;
        try {
            ReportsFolderStore::write(text, name);
            return;
        } catch (const std::exception& error) {
            failure = QString::fromStdString(error.what());
        } catch (...) {
            failure = QStringLiteral("An unknown error occurred.");
        }
        // The report stays published; the section says its text copy is missing, and why.
        MainThread::post([self, runID, failure] {
            if (!self || !self->runs_.isCurrent(runID)) return;
            self->reportTextNotice_ =
                QStringLiteral("The report's text copy couldn't be saved in the reports folder: %1").arg(failure);
            Q_EMIT self->changed();
        });
    });
}

}  // namespace brindlecove
