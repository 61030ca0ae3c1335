#include "BrindlecoveApp/Views/ScanView.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"
#include "BrindlecoveApp/Views/TrendChart.hpp"

#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace brindlecove {

namespace {

QColor teal() { return QColor(0x30, 0xa8, 0xc0); }

QFont captionFont(const QWidget* widget) { return Style::font(Style::TextStyle::caption, widget->font()); }

QLabel* plainLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    return label;
}

QLabel* captionLabel(const QString& text, const QString& objectName, QWidget* parent) {
    QLabel* label = FormText::caption(objectName, parent);
    label->setText(text);
    return label;
}

SymbolLabel* symbolLabel(const QString& symbol, const QString& objectName, const QColor& color, QWidget* parent,
                         bool caption = true) {
    auto* label = new SymbolLabel(symbol, parent);
    label->setObjectName(objectName);
    if (caption) label->setTextFont(captionFont(label));
    label->setColor(color);
    return label;
}

// Takes a widget out of its layout at once but deletes it later: it may be the control whose
// signal is being handled.
void discard(QWidget* widget) {
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

QString kindWord(MediaKind kind) {
    switch (kind) {
    case MediaKind::photos: return QStringLiteral("photos");
    case MediaKind::videos: return QStringLiteral("videos");
    case MediaKind::audio: return QStringLiteral("audio");
    }
    return {};
}

QString kindSymbol(MediaKind kind) {
    switch (kind) {
    case MediaKind::photos: return QStringLiteral("photo");
    case MediaKind::videos: return QStringLiteral("video");
    case MediaKind::audio: return QStringLiteral("waveform");
    }
    return {};
}

const QString notGrantedSuffix = QStringLiteral(" (not granted)");

}  // namespace

ScanView::ScanView(ScanViewModel& model, VolumeLister listVolumes, QWidget* parent)
    : QWidget(parent),
      model_(model),
      listVolumes_(std::move(listVolumes)),
      coalescer_(this, [this] { render(ScanScreenState::of(model_, summaryCache_)); }) {
    if (!listVolumes_) listVolumes_ = &tessaline::VolumeDetector::listCandidateVolumes;
    setObjectName(QStringLiteral("scan"));
    QVBoxLayout* form = ScreenHeader::install(this, QStringLiteral("Scan"), QStringLiteral("scan.title"))
                            ->addScrollingBody();
    form->setSpacing(12);
    form->addWidget(makeScanGroup());
    form->addWidget(makeCardGroup());
    form->addWidget(makeDrivesGroup());
    form->addWidget(makeVolumesGroup());
    form->addStretch(1);

    connect(&model_, &ScanViewModel::changed, this, [this] { coalescer_.schedule(); });
    connect(&model_, &ScanViewModel::lastReportChanged, this, [this] { coalescer_.schedule(); });
    render(ScanScreenState::of(model_, summaryCache_));
}

QWidget* ScanView::makeScanGroup() {
    auto* group = new QGroupBox(QStringLiteral("Scan"), this);
    group->setObjectName(QStringLiteral("scan.group.scan"));
    auto* column = new QVBoxLayout(group);
    column->setSpacing(8);

    auto* buttons = new QHBoxLayout;
    start_ = new QToolButton(group);
    start_->setObjectName(QStringLiteral("scan.start"));
    start_->setPopupMode(QToolButton::MenuButtonPopup);
    startAction_ = new QAction(QStringLiteral("Start Scan"), start_);
    startAction_->setObjectName(QStringLiteral("scan.startAction"));
    start_->setDefaultAction(startAction_);
    start_->setProperty("prominent", true);
    // Prominent while enabled; a disabled button keeps the style's disabled look.
    QPalette prominent = start_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, Style::accent(start_));
        prominent.setColor(group, QPalette::ButtonText, prominent.color(group, QPalette::HighlightedText));
    }
    start_->setPalette(prominent);
    auto* menu = new QMenu(start_);
    menu->setObjectName(QStringLiteral("scan.startMenu"));
    freshAction_ = menu->addAction(QStringLiteral("Fresh Scan \u2014 re-read every file"));
    freshAction_->setObjectName(QStringLiteral("scan.fresh"));
    start_->setMenu(menu);
    connect(startAction_, &QAction::triggered, this, [this] { model_.startScan(false); });
    connect(freshAction_, &QAction::triggered, this, [this] { model_.startScan(true); });

    stop_ = FormText::destructiveButton(QStringLiteral("Stop"), QStringLiteral("scan.stop"), group);
    connect(stop_, &QPushButton::clicked, this, [this] { model_.cancel(); });
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    column->addLayout(buttons);

    stoppingNote_ = symbolLabel(QStringLiteral("hourglass"), QStringLiteral("scan.note.stopping"), Style::warn(), group);
    stoppingNote_->setText(
        QStringLiteral("Stopping \u2014 finishing the file currently being checked, then this scan pauses."));
    safeNote_ = captionLabel(
        QStringLiteral("Stop is safe \u2014 progress is saved, and the next scan picks up where this one left off."),
        QStringLiteral("scan.note.safe"), group);
    resumeNote_ = symbolLabel(QStringLiteral("arrow.clockwise.circle"), QStringLiteral("scan.note.resume"), teal(), group);
    column->addWidget(stoppingNote_);
    column->addWidget(safeNote_);
    column->addWidget(resumeNote_);

    // Indeterminate status: a busy bar and its text.
    busy_ = new QWidget(group);
    busy_->setObjectName(QStringLiteral("scan.status.busy"));
    auto* busyColumn = new QVBoxLayout(busy_);
    busyColumn->setContentsMargins(0, 0, 0, 0);
    busyBar_ = FormText::progressBar(QStringLiteral("scan.status.busyBar"), busy_);
    busyBar_->setRange(0, 0);
    busyText_ = captionLabel(QString(), QStringLiteral("scan.status.busyText"), busy_);
    busyColumn->addWidget(busyBar_);
    busyColumn->addWidget(busyText_);
    column->addWidget(busy_);

    // Determinate status: bar, caption with estimate, chart, total.
    progress_ = new QWidget(group);
    progress_->setObjectName(QStringLiteral("scan.status.progress"));
    auto* progressColumn = FormText::column(progress_, 6);
    bar_ = FormText::progressBar(QStringLiteral("scan.status.bar"), progress_);
    auto* captionRow = new QHBoxLayout;
    caption_ = symbolLabel(QString(), QStringLiteral("scan.status.caption"), QColor(), progress_);
    estimate_ = captionLabel(QString(), QStringLiteral("scan.status.estimate"), progress_);
    estimate_->setWordWrap(false);
    captionRow->addWidget(caption_, 1);
    captionRow->addWidget(estimate_, 0, Qt::AlignRight | Qt::AlignTop);
    chart_ = new TrendChart(Style::accent(this), QString(), progress_);
    chart_->setObjectName(QStringLiteral("scan.status.chart"));
    total_ = symbolLabel(QStringLiteral("sum"), QStringLiteral("scan.status.total"), QColor(), progress_);
    QFont totalFont = captionFont(total_);
    totalFont.setWeight(QFont::Medium);
    total_->setTextFont(totalFont);
    progressColumn->addWidget(bar_);
    progressColumn->addLayout(captionRow);
    progressColumn->addWidget(chart_);
    progressColumn->addWidget(total_);
    column->addWidget(progress_);

    // The result summary.
    summary_ = new QWidget(group);
    summary_->setObjectName(QStringLiteral("scan.status.summary"));
    auto* summaryColumn = FormText::column(summary_, 4);
    auto* complete = symbolLabel(QStringLiteral("checkmark.circle.fill"), QStringLiteral("scan.summary.title"),
                                 Style::good(), summary_, false);
    complete->setText(QStringLiteral("Scan complete"));
    summaryCounts_ = captionLabel(QString(), QStringLiteral("scan.summary.counts"), summary_);
    otherFiles_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("scan.summary.otherFiles"),
                              Style::bad(), summary_);
    auto* hint = captionLabel(QStringLiteral("See the Report tab for the full Missing list."),
                              QStringLiteral("scan.summary.hint"), summary_);
    unreadable_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("scan.summary.unreadable"),
                              Style::warn(), summary_);
    skipped_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("scan.summary.skipped"),
                           Style::warn(), summary_);
    summaryColumn->addWidget(complete);
    summaryColumn->addWidget(summaryCounts_);
    summaryColumn->addWidget(otherFiles_);
    summaryColumn->addWidget(hint);
    summaryColumn->addWidget(unreadable_);
    summaryColumn->addWidget(skipped_);
    skippedOnCard_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"),
                                 QStringLiteral("scan.summary.skippedOnCard"), Style::warn(), summary_);
    summaryColumn->addWidget(skippedOnCard_);
    filingNotice_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("scan.summary.filingNotice"),
                                Style::warn(), summary_);
    summaryColumn->addWidget(filingNotice_);
    reportTextNotice_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"),
                                    QStringLiteral("scan.summary.reportTextNotice"), Style::warn(), summary_);
    summaryColumn->addWidget(reportTextNotice_);
    column->addWidget(summary_);

    failed_ = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("scan.status.failed"),
                          Style::bad(), group, false);
    column->addWidget(failed_);
    return group;
}

QWidget* ScanView::makeCardGroup() {
    auto* group = new QGroupBox(QStringLiteral("Card or Drive to Check"), this);
    group->setObjectName(QStringLiteral("scan.group.card"));
    auto* column = new QVBoxLayout(group);
    noCard_ = plainLabel(QStringLiteral("No card or drive selected."), QStringLiteral("scan.card.none"), group);
    Style::makeSecondary(noCard_);
    cardRow_ = new QWidget(group);
    cardRow_->setObjectName(QStringLiteral("scan.card.selected"));
    auto* row = new QFormLayout(cardRow_);
    row->setContentsMargins(0, 0, 0, 0);
    cardPath_ = new ElidedLabel(cardRow_);
    cardPath_->setObjectName(QStringLiteral("scan.card.path"));
    cardPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addRow(QStringLiteral("Selected"), cardPath_);
    choose_ = new QPushButton(QStringLiteral("Choose Card or Drive\u2026"), group);
    choose_->setObjectName(QStringLiteral("scan.card.choose"));
    connect(choose_, &QPushButton::clicked, this, [this] { model_.pickCard(); });
    auto* chooseRow = new QHBoxLayout;
    chooseRow->addWidget(choose_);
    chooseRow->addStretch(1);
    auto* works = captionLabel(QStringLiteral("Works for any source \u2014 an SD card, or another drive you want to "
                                              "compare against your backups."),
                               QStringLiteral("scan.card.caption"), group);
    allTypes_ = new QCheckBox(QStringLiteral("Check all file types"), group);
    allTypes_->setObjectName(QStringLiteral("scan.allTypes"));
    connect(allTypes_, &QCheckBox::clicked, this, [this](bool on) { model_.setIncludeAllFiles(on); });
    allTypesExplanation_ = captionLabel(QString(), QStringLiteral("scan.allTypes.explanation"), group);
    column->addWidget(noCard_);
    column->addWidget(cardRow_);
    column->addLayout(chooseRow);
    column->addWidget(works);
    column->addWidget(allTypes_);
    column->addWidget(allTypesExplanation_);
    return group;
}

QWidget* ScanView::makeDrivesGroup() {
    auto* group = new QGroupBox(QStringLiteral("Drives to Check Against"), this);
    group->setObjectName(QStringLiteral("scan.group.drives"));
    auto* column = new QVBoxLayout(group);
    noDrives_ = plainLabel(QStringLiteral("No drives granted yet \u2014 add one in Settings."),
                           QStringLiteral("scan.drives.none"), group);
    Style::makeSecondary(noDrives_);
    auto* toggles = new QWidget(group);
    toggles->setObjectName(QStringLiteral("scan.drives.toggles"));
    driveToggles_ = new QVBoxLayout(toggles);
    driveToggles_->setContentsMargins(0, 0, 0, 0);
    allDrivesNote_ = captionLabel(QStringLiteral("None selected \u2014 will check all granted drives."),
                                  QStringLiteral("scan.drives.allNote"), group);
    column->addWidget(noDrives_);
    column->addWidget(toggles);
    column->addWidget(allDrivesNote_);
    return group;
}

QWidget* ScanView::makeVolumesGroup() {
    auto* group = new QGroupBox(QStringLiteral("Currently Inserted (info only)"), this);
    group->setObjectName(QStringLiteral("scan.group.volumes"));
    auto* column = new QVBoxLayout(group);
    noVolumes_ = plainLabel(QStringLiteral("Nothing detected."), QStringLiteral("scan.volumes.none"), group);
    Style::makeSecondary(noVolumes_);
    auto* rows = new QWidget(group);
    rows->setObjectName(QStringLiteral("scan.volumes.rows"));
    volumeRows_ = new QVBoxLayout(rows);
    volumeRows_->setContentsMargins(0, 0, 0, 0);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), group);
    refresh->setObjectName(QStringLiteral("scan.volumes.refresh"));
    refresh->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise")));
    Symbols::tag(refresh, QStringLiteral("arrow.clockwise"));
    connect(refresh, &QPushButton::clicked, this, &ScanView::refreshVolumes);
    auto* refreshRow = new QHBoxLayout;
    refreshRow->addWidget(refresh);
    refreshRow->addStretch(1);
    column->addWidget(noVolumes_);
    column->addWidget(rows);
    column->addLayout(refreshRow);
    return group;
}

void ScanView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshVolumes();
}

void ScanView::refreshVolumes() {
    while (QLayoutItem* item = volumeRows_->takeAt(0)) {
        if (QWidget* widget = item->widget()) discard(widget);
        delete item;
    }
    const std::vector<tessaline::VolumeInfo> volumes = listVolumes_();
    for (const tessaline::VolumeInfo& volume : volumes) {
        auto* row = new SymbolLabel(QStringLiteral("externaldrive"), volumeRows_->parentWidget());
        row->setObjectName(QStringLiteral("scan.volume"));
        row->setProperty("volumePath", QString::fromStdString(volume.url.string()));
        row->setColor(palette().color(QPalette::WindowText));
        row->setOneLine();
        row->setText(QString::fromStdString(volume.label));
        volumeRows_->addWidget(row);
    }
    noVolumes_->setVisible(volumes.empty());
}

void ScanView::render(const ScanScreenState& state) {
    const bool running = state.isRunning();
    start_->setEnabled(state.canStartScan);
    startAction_->setEnabled(state.canStartScan);
    freshAction_->setEnabled(state.canStartScan);
    stop_->setVisible(running);
    stop_->setText(state.isStopping ? QStringLiteral("Stopping\u2026") : QStringLiteral("Stop"));
    stop_->setEnabled(!state.isStopping);

    stoppingNote_->setVisible(state.isStopping);
    safeNote_->setVisible(!state.isStopping && running);
    resumeNote_->setVisible(!state.isStopping && running && state.resumeBanner.has_value());
    if (state.resumeBanner) resumeNote_->setText(*state.resumeBanner);

    renderStatus(state);

    noCard_->setVisible(!state.cardPath);
    cardRow_->setVisible(state.cardPath.has_value());
    if (state.cardPath) cardPath_->setFullText(*state.cardPath);
    choose_->setEnabled(!running);
    {
        const QSignalBlocker blocker(allTypes_);
        allTypes_->setChecked(state.includeAllFiles);
    }
    allTypes_->setEnabled(!running);
    FormText::setText(allTypesExplanation_,
                 state.includeAllFiles
                     ? QStringLiteral("Every file is verified \u2014 documents, PDFs, project files, everything except "
                                      "system junk. Non-media files are matched by exact size and proven byte-for-byte.")
                     : QStringLiteral("Off: camera media only (photos, video, audio + their sidecar files)."));
    renderDrives(state);
}

void ScanView::renderStatus(const ScanScreenState& state) {
    busy_->hide();
    progress_->hide();
    summary_->hide();
    failed_->hide();
    std::visit(
        [&](const auto& phase) {
            using P = std::decay_t<decltype(phase)>;
            if constexpr (std::is_same_v<P, scan_phase::ScanningCard>) {
                const QString text = QStringLiteral("Searching ") + kindWord(phase.kind) +
                                     QStringLiteral(" on the card\u2026");
                if (phase.total < 1)
                    renderBusy(text);
                else
                    renderProgressRow(text, kindSymbol(phase.kind), phase.completed, phase.total, state);
            } else if constexpr (std::is_same_v<P, scan_phase::ScanningDrive>) {
                const QString text = QStringLiteral("Searching ") + kindWord(phase.kind) + QStringLiteral(" on \u201C") +
                                     phase.label + QStringLiteral("\u201D\u2026");
                if (phase.total < 1)
                    renderBusy(text);
                else
                    renderProgressRow(text, kindSymbol(phase.kind), phase.completed, phase.total, state);
            } else if constexpr (std::is_same_v<P, scan_phase::Matching>) {
                renderBusy(QStringLiteral("Matching card against drives\u2026"));
            } else if constexpr (std::is_same_v<P, scan_phase::Verifying>) {
                const bool clips = phase.part == ProofPart::clips;
                const QString text = clips ? QStringLiteral("Verifying matches against file content\u2026")
                                     : phase.part == ProofPart::otherFiles
                                         ? QStringLiteral("Verifying the card's other files\u2026")
                                         : QStringLiteral("Checking the card for files changed during the scan\u2026");
                if (phase.total < 1)
                    renderBusy(text);
                else
                    renderProgressRow(text, QStringLiteral("checkmark.seal"), phase.completed, phase.total, state,
                                      clips ? "clip" : "file", clips ? "clips" : "files");
            } else if constexpr (std::is_same_v<P, scan_phase::Done>) {
                if (!state.lastReport) return;
                const auto& counts = *state.lastReport;
                FormText::setText(summaryCounts_, QStringLiteral("Confirmed %1 \u00B7 Missing %2 \u00B7 Duplicates %3 \u00B7 "
                                                            "Name-mismatch %4")
                                                 .arg(Formats::groupedInteger(counts.confirmed))
                                                 .arg(Formats::groupedInteger(counts.missing))
                                                 .arg(Formats::groupedInteger(counts.duplicates))
                                                 .arg(Formats::groupedInteger(counts.nameMismatches)));
                // Files only on the card are named whether or not the card held media.
                otherFiles_->setVisible(!counts.otherFilesOnlyOnCard.isEmpty());
                otherFiles_->setText(counts.otherFilesOnlyOnCard);
                unreadable_->setVisible(counts.unreadableCardFolders > 0);
                unreadable_->setText(QStringLiteral("Couldn't read %1 on the card \u2014 %2 files weren't checked.")
                                         .arg(Formats::count(counts.unreadableCardFolders, "folder", "folders"),
                                              counts.unreadableCardFolders == 1 ? QStringLiteral("its")
                                                                                : QStringLiteral("their")));
                skipped_->setVisible(!state.skippedDriveLabels.isEmpty());
                skipped_->setText(QStringLiteral("Skipped (not mounted right now): ") +
                                  state.skippedDriveLabels.join(QStringLiteral(", ")) +
                                  QStringLiteral(". Missing count above includes their contents."));
                // A granted drive that is the card (or a folder on it) proves nothing: say so,
                // rather than calling it unmounted.
                skippedOnCard_->setVisible(!state.skippedOnCardLabels.isEmpty());
                skippedOnCard_->setText(QStringLiteral("Skipped (on the card \u2014 not a backup): ") +
                                        state.skippedOnCardLabels.join(QStringLiteral(", ")) + QLatin1Char('.'));
                filingNotice_->setVisible(state.filingNotice.has_value());
                filingNotice_->setText(state.filingNotice.value_or(QString()));
                reportTextNotice_->setVisible(state.reportTextNotice.has_value());
                reportTextNotice_->setText(state.reportTextNotice.value_or(QString()));
                summary_->show();
            } else if constexpr (std::is_same_v<P, scan_phase::Failed>) {
                failed_->setText(phase.message);
                failed_->show();
            }
        },
        state.phase);
}

void ScanView::renderBusy(const QString& text) {
    FormText::setText(busyText_, text);
    busy_->show();
}

void ScanView::renderProgressRow(const QString& text, const QString& symbol, int completed, int total,
                                 const ScanScreenState& state, const char* singular, const char* plural) {
    if (bar_->maximum() != total) bar_->setRange(0, total);
    bar_->setValue(std::clamp(completed, 0, total));
    const int percent = static_cast<int>(double(completed) * 100.0 / double(total));
    caption_->setSymbol(symbol);
    caption_->setText(QStringLiteral("%1  %2 / %3 %4 (%5%)")
                          .arg(text)
                          .arg(Formats::groupedInteger(completed))
                          .arg(Formats::groupedInteger(total))
                          .arg(Formats::noun(total, singular, plural))
                          .arg(percent));
    std::optional<QString> time;
    if (state.estimatedSecondsRemaining) time = Formats::durationText(*state.estimatedSecondsRemaining);
    estimate_->setVisible(time.has_value());
    if (time) FormText::setText(estimate_, QStringLiteral("~") + *time + QStringLiteral(" remaining"));
    QList<QPointF> points;
    points.reserve(state.progressHistory.size());
    for (const ProgressPoint& point : state.progressHistory) points.append(QPointF(point.elapsed, point.completed));
    if (points != chart_->points()) chart_->setPoints(points);
    total_->setVisible(state.totalFilesSearched >= 1);
    total_->setText(QStringLiteral("Total files searched: %1").arg(Formats::groupedInteger(state.totalFilesSearched)));
    progress_->show();
}

void ScanView::renderDrives(const ScanScreenState& state) {
    QStringList labels = state.grantedDriveLabels;
    QStringList ungranted;
    for (const QString& label : state.selectedDriveLabels)
        if (!state.grantedDriveLabels.contains(label)) ungranted.append(label);
    ungranted.sort();
    labels += ungranted;

    if (labels != toggleLabels_) {
        while (QLayoutItem* item = driveToggles_->takeAt(0)) {
            if (QWidget* widget = item->widget()) discard(widget);
            delete item;
        }
        for (const QString& label : labels) {
            const bool granted = state.grantedDriveLabels.contains(label);
            // A name of any length keeps to a line the form can hold; the tooltip has it whole.
            const QString text = granted ? label : label + notGrantedSuffix;
            auto* toggle = new QCheckBox(driveToggles_->parentWidget());
            toggle->setText(toggle->fontMetrics().elidedText(text, Qt::ElideMiddle,
                                                             toggle->fontMetrics().averageCharWidth() * 40));
            if (toggle->text() != text) toggle->setToolTip(text);
            toggle->setObjectName(QStringLiteral("scan.drive"));
            toggle->setProperty("driveLabel", label);
            connect(toggle, &QCheckBox::clicked, this, [this, label](bool on) { model_.setDriveSelected(label, on); });
            driveToggles_->addWidget(toggle);
        }
        toggleLabels_ = labels;
    }
    const bool running = state.isRunning();
    for (int i = 0; i < driveToggles_->count(); ++i) {
        auto* toggle = qobject_cast<QCheckBox*>(driveToggles_->itemAt(i)->widget());
        if (!toggle) continue;
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(state.selectedDriveLabels.contains(toggle->property("driveLabel").toString()));
        toggle->setEnabled(!running);
    }
    noDrives_->setVisible(state.grantedDriveLabels.isEmpty());
    allDrivesNote_->setVisible(!state.grantedDriveLabels.isEmpty() && state.selectedDriveLabels.isEmpty());
}

QWidget* makeScanView(MainWindow& window) { return new ScanView(window.models().scan()); }

}  // namespace brindlecove
