#include "BrindlecoveApp/Views/CardPrepView.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/DriveFormatView.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"
#include "Tessaline/Volumes/VolumeWatcher.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <pwd.h>
#include <unistd.h>

namespace brindlecove {

namespace {

using Kind = VerificationStanding::Kind;
using Issue = CardPrepViewModel::CardRootIssue;

QString joined(const std::vector<std::string>& parts, const QString& separator) {
    QStringList list;
    for (const auto& part : parts) list << QString::fromStdString(part);
    return list.join(separator);
}

// Where removable volumes mount for this user, for the folder-inside-a-card sentence.
QString mountFolder() {
    QString folder = RemovableMounts::parentFolder();
    if (!folder.isEmpty() && folder != QStringLiteral("/media")) return folder;
    QString user = qEnvironmentVariable("USER");
    if (passwd* entry = getpwuid(geteuid()); entry && entry->pw_name) user = QString::fromLocal8Bit(entry->pw_name);
    return QStringLiteral("/media/") + user;
}

struct BannerText {
    QString symbol;
    QString text;
    QColor color;
    bool emphasized = false;
};

BannerText bannerFor(bool hasCard, const std::optional<Issue>& issue, const VerificationStanding& standing,
                     const QString& cardName) {
    const QString stop = QStringLiteral("xmark.octagon.fill");
    const QString triangle = QStringLiteral("exclamationmark.triangle.fill");
    if (!hasCard)
        return {QStringLiteral("sdcard.fill"),
                QStringLiteral("No card picked yet. Choose the card to erase — its last scan is checked here."),
                QColor(), false};
    if (issue) {
        switch (*issue) {
            case Issue::dangerousSystemLocation:
                return {stop, QStringLiteral("That's a system location and can't be erased. Pick the actual camera card."),
                        Style::bad(), true};
            case Issue::notAVolumeRoot:
                return {stop,
                        QStringLiteral("That's a folder, not a memory card. Pick a mounted card/drive (it shows up "
                                       "under %1), not a folder inside one.")
                            .arg(mountFolder()),
                        Style::bad(), true};
            case Issue::internalDisk:
                return {stop,
                        QStringLiteral("That's this computer's internal disk \u2014 not a removable card. Erase is only "
                                       "for external cards and drives."),
                        Style::bad(), true};
        }
    }
    switch (standing.kind) {
        case Kind::safe:
            return {QStringLiteral("checkmark.seal.fill"),
                    standing.count == 1
                        ? QStringLiteral("Verified \u2014 the 1 clip on this card is confirmed on your drives. Safe to "
                                         "erase.")
                        : QStringLiteral("Verified \u2014 all %1 on this card are confirmed on your drives. Safe to "
                                         "erase.")
                              .arg(Formats::count(standing.count, "clip", "clips")),
                    Style::good(), false};
        case Kind::missing:
        case Kind::otherFilesOnlyOnCard:
            return {stop, EraseTexts::stopText(standing), Style::bad(), true};
        case Kind::mismatch:
            return {triangle,
                    QStringLiteral("CHECK \u2014 %1 %2 a same-named but different file on your drive. %3 backed "
                                   "up but %4. Verify before erasing.")
                        .arg(Formats::count(standing.count, "clip", "clips"),
                             standing.count == 1 ? QStringLiteral("has") : QStringLiteral("have"),
                             standing.count == 1 ? QStringLiteral("It looks") : QStringLiteral("They look"),
                             standing.count == 1 ? QStringLiteral("isn't") : QStringLiteral("aren't")),
                    Style::warn(), true};
        case Kind::notFullyRead:
            return {stop,
                    QStringLiteral("STOP \u2014 your last scan couldn't read %1 on this card, so %2 files "
                                   "were never checked. Erasing now may lose them. Copy or re-scan first.")
                        .arg(Formats::count(standing.count, "folder", "folders"),
                             standing.count == 1 ? QStringLiteral("its") : QStringLiteral("their")),
                    Style::bad(), true};
        case Kind::differentCard:
            return {triangle,
                    QStringLiteral("DIFFERENT CARD \u2014 the scan for this slot was of another card that had the same "
                                   "name. This card has NOT been verified. Scan it before erasing."),
                    Style::bad(), true};
        case Kind::notInserted:
            return {triangle,
                    QStringLiteral("CARD NOT INSERTED \u2014 \u201C%1\u201D isn't in the reader. Insert it again to "
                                   "check it against your last scan before erasing.")
                        .arg(cardName),
                    Style::warn(), true};
        case Kind::changedSinceScan: return {stop, EraseTexts::changedText(standing), Style::bad(), true};
        case Kind::remounted: return {triangle, EraseTexts::remountedText(), Style::bad(), true};
        case Kind::erasedSinceScan: return {triangle, EraseTexts::erasedText(), Style::warn(), true};
        case Kind::checking:
            return {QStringLiteral("hourglass"), EraseTexts::checkingText(standing), QColor(), false};
        case Kind::notVerified: break;
    }
    return {triangle, EraseTexts::notVerifiedText(standing), Style::warn(), false};
}

// Whether `widget` keeps its room in the layout while hidden, so that showing it moves nothing.
void keepRoom(QWidget* widget, bool keep) {
    QSizePolicy policy = widget->sizePolicy();
    if (policy.retainSizeWhenHidden() == keep) return;
    policy.setRetainSizeWhenHidden(keep);
    widget->setSizePolicy(policy);
}

QGroupBox* group(const QString& title, const QString& objectName, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(objectName);
    return box;
}

}  // namespace

CardPrepView::CardPrepView(CardPrepViewModel& vm, ScanViewModel& scan, DriveFormatViewModel& formatVM, QWidget* parent)
    : QWidget(parent), vm_(vm), scan_(scan) {
    setObjectName(QStringLiteral("screen.eraseCard"));
    setWindowTitle(QStringLiteral("Erase Card"));
    ScreenHeader::install(this, QStringLiteral("Erase Card"));
    auto* outer = static_cast<QVBoxLayout*>(layout());

    auto* switchRow = new QHBoxLayout;
    switchRow->setContentsMargins(12, 8, 12, 8);
    switchRow->setSpacing(0);
    switchRow->addStretch(1);
    modes_ = new QButtonGroup(this);
    modes_->setExclusive(true);
    const QStringList modeNames{QStringLiteral("Erase & Prep for Camera"), QStringLiteral("Reformat Volume")};
    // "&" marks a mnemonic in button texts; the segments show it literally.
    for (int i = 0; i < modeNames.size(); ++i) {
        auto* segment = new QToolButton(this);
        segment->setObjectName(i == 0 ? QStringLiteral("erase.mode.camera") : QStringLiteral("erase.mode.reformat"));
        segment->setText(QString(modeNames[i]).replace(u'&', QStringLiteral("&&")));
        segment->setCheckable(true);
        segment->setChecked(i == 0);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        segment->setAccessibleName(QStringLiteral("Mode: ") + modeNames[i]);
        modes_->addButton(segment, i);
        switchRow->addWidget(segment);
    }
    switchRow->addStretch(1);
    outer->addLayout(switchRow);

    stack_ = new QStackedWidget(this);
    stack_->setObjectName(QStringLiteral("erase.modes"));
    stack_->addWidget(buildCameraForm());
    stack_->addWidget(new DriveFormatView(formatVM, this));
    outer->addWidget(stack_, 1);
    connect(modes_, &QButtonGroup::idClicked, stack_, &QStackedWidget::setCurrentIndex);

    connect(&vm_, &CardPrepViewModel::changed, this, &CardPrepView::scheduleRender);
    connect(&scan_, &ScanViewModel::lastReportChanged, this, &CardPrepView::scheduleRender);

    // The banner follows the card in the reader: mounts and unmounts redraw it, and a volume
    // mounted at the card's path is counted again.
    QPointer<CardPrepView> self(this);
    watcher_ = std::make_unique<tessaline::VolumeWatcher>(
        [self](const tessaline::VolumeWatcher::Event& event) {
            if (!self) return;
            if (const auto* mounted = std::get_if<tessaline::VolumeWatcher::Mounted>(&event))
                self->onVolumeEvent(true, QString::fromStdString(mounted->volume.url.string()));
            else if (const auto* gone = std::get_if<tessaline::VolumeWatcher::Unmounted>(&event))
                self->onVolumeEvent(false, QString::fromStdString(gone->url.string()));
        },
        [self](std::function<void()> work) {
            MainThread::post([self, work = std::move(work)] {
                if (self) work();
            });
        });

    // The card may have changed while the section was away.
    vm_.recount();
    render();
}

CardPrepView::~CardPrepView() {
    if (watcher_) watcher_->stop();
}

void CardPrepView::onVolumeEvent(bool mounted, const QString& path) {
    if (mounted && vm_.cardPath() && QDir::cleanPath(*vm_.cardPath()) == QDir::cleanPath(path)) vm_.recount();
    scheduleRender();
}

QWidget* CardPrepView::buildCameraForm() {
    auto [scroll, column] = ScreenHeader::scrollingBody(this);
    scroll->setObjectName(QStringLiteral("erase.cameraForm"));
    cameraScroll_ = scroll;
    // A scroll bar that came and went with the status rows would narrow the form and rewrap
    // the rows above Erase and Stop.
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QWidget* body = column->parentWidget();
    column->setSpacing(12);

    // Card to Erase
    auto* cardBox = group(QStringLiteral("Card to Erase"), QStringLiteral("erase.group.card"), body);
    auto* cardColumn = new QVBoxLayout(cardBox);
    cardRows_ = new QFormLayout;
    cardPath_ = new ElidedLabel(cardBox);
    cardPath_->setObjectName(QStringLiteral("erase.cardPath"));
    cardPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The count and the counting row take turns in one place, at one height (the taller's).
    contentsSlot_ = new QStackedWidget(cardBox);
    contentsSlot_->setObjectName(QStringLiteral("erase.contentsSlot"));
    contents_ = new QLabel(contentsSlot_);
    contents_->setObjectName(QStringLiteral("erase.contents"));
    contents_->setTextFormat(Qt::PlainText);
    contentsSlot_->addWidget(contents_);
    cardRows_->addRow(QStringLiteral("Card"), cardPath_);
    cardRows_->addRow(QStringLiteral("Contents"), contentsSlot_);
    cardColumn->addLayout(cardRows_);
    counting_ = new QWidget(contentsSlot_);
    counting_->setObjectName(QStringLiteral("erase.counting"));
    auto* countingRow = new QHBoxLayout(counting_);
    countingRow->setContentsMargins(0, 0, 0, 0);
    countingRow->setSpacing(8);
    countingRow->addWidget(FormText::spinner(QStringLiteral("erase.countingSpinner"), counting_), 0, Qt::AlignVCenter);
    countingText_ = new QLabel(QStringLiteral("Counting what's on the card\u2026"), counting_);
    countingText_->setObjectName(QStringLiteral("erase.countingText"));
    // One line, as the count it stands in for: a wrapping text would make the row's height
    // follow the page shown.
    Style::makeSecondary(countingText_);
    countingRow->addWidget(countingText_, 1, Qt::AlignVCenter);
    contentsSlot_->addWidget(counting_);
    noCard_ = new QLabel(QStringLiteral("No card selected."), cardBox);
    noCard_->setObjectName(QStringLiteral("erase.noCard"));
    Style::makeSecondary(noCard_);
    cardColumn->addWidget(noCard_);
    choose_ = new QPushButton(QStringLiteral("Choose Card\u2026"), cardBox);
    choose_->setObjectName(QStringLiteral("erase.choose"));
    cardColumn->addWidget(choose_, 0, Qt::AlignLeft);
    column->addWidget(cardBox);
    connect(choose_, &QPushButton::clicked, this, [this] { vm_.pickCard(); });

    // Safety Check
    auto* safetyBox = group(QStringLiteral("Safety Check"), QStringLiteral("erase.group.safety"), body);
    // The banner keeps room for the verdict an erase leaves (erased since the scan), hidden in
    // its cell, so that the erase's end moves nothing below it.
    auto* safetyCell = new QGridLayout(safetyBox);
    banner_ = new SymbolLabel(QString(), safetyBox);
    banner_->setObjectName(QStringLiteral("erase.banner"));
    bannerRoom_ = new SymbolLabel(QString(), safetyBox);
    bannerRoom_->setObjectName(QStringLiteral("erase.bannerRoom"));
    bannerRoom_->set(QStringLiteral("exclamationmark.triangle.fill"), EraseTexts::erasedText(), Style::warn(), true);
    bannerRoom_->hide();
    safetyCell->addWidget(bannerRoom_, 0, 0, Qt::AlignTop);
    safetyCell->addWidget(banner_, 0, 0, Qt::AlignTop);
    column->addWidget(safetyBox);

    // Camera
    auto* cameraBox = group(QStringLiteral("Camera"), QStringLiteral("erase.group.camera"), body);
    auto* cameraColumn = new QVBoxLayout(cameraBox);
    auto* profileRow = new QFormLayout;
    profile_ = new QComboBox(cameraBox);
    profile_->setObjectName(QStringLiteral("erase.profile"));
    for (const auto& profile : tessaline::CameraFormatProfile::all())
        profile_->addItem(QString::fromStdString(profile.displayName), QString::fromStdString(profile.id));
    profileRow->addRow(QStringLiteral("Format for"), profile_);
    cameraColumn->addLayout(profileRow);
    profileNote_ = FormText::caption(QStringLiteral("erase.profileNote"), cameraBox);
    cameraColumn->addWidget(profileNote_);
    profileFolders_ = FormText::caption(QStringLiteral("erase.profileFolders"), cameraBox);
    profileFolders_->setFont(FormText::caption2(font(), true));
    cameraColumn->addWidget(profileFolders_);
    column->addWidget(cameraBox);
    connect(profile_, &QComboBox::activated, this,
            [this](int index) { vm_.setSelectedProfileID(profile_->itemData(index).toString()); });

    // Erase & Prep
    auto* eraseBox = group(QStringLiteral("Erase && Prep"), QStringLiteral("erase.group.erase"), body);
    auto* eraseColumn = new QVBoxLayout(eraseBox);
    warning_ = new SymbolLabel(QString(), eraseBox);
    warning_->setObjectName(QStringLiteral("erase.warning"));
    eraseColumn->addWidget(warning_);
    confirmation_ = new QLineEdit(eraseBox);
    confirmation_->setObjectName(QStringLiteral("erase.confirmation"));
    eraseColumn->addWidget(confirmation_);
    connect(confirmation_, &QLineEdit::textEdited, this, [this](const QString& text) { vm_.setConfirmationText(text); });
    acknowledgeRow_ = new QWidget(eraseBox);
    acknowledgeRow_->setObjectName(QStringLiteral("erase.acknowledgeRow"));
    auto* ackLayout = new QHBoxLayout(acknowledgeRow_);
    ackLayout->setContentsMargins(0, 0, 0, 0);
    acknowledge_ = new QCheckBox(acknowledgeRow_);
    acknowledge_->setObjectName(QStringLiteral("erase.acknowledge"));
    auto* ackText = new QLabel(
        QStringLiteral("I understand this card isn't verified as backed up here \u2014 erase anyway."), acknowledgeRow_);
    ackText->setObjectName(QStringLiteral("erase.acknowledgeText"));
    ackText->setWordWrap(true);
    ackText->setFont(Style::font(Style::TextStyle::callout, ackText->font()));
    ackText->setBuddy(acknowledge_);
    acknowledge_->setAccessibleName(ackText->text());
    ackLayout->addWidget(acknowledge_, 0, Qt::AlignTop);
    ackLayout->addWidget(ackText, 1);
    eraseColumn->addWidget(acknowledgeRow_);
    connect(acknowledge_, &QCheckBox::clicked, this, [this](bool on) { vm_.setAcknowledgedUnverified(on); });

    // Stop takes Erase's place, at its size, while the card is erased or counted.
    auto* buttons = new QHBoxLayout;
    actions_ = new QStackedWidget(eraseBox);
    actions_->setObjectName(QStringLiteral("erase.actions"));
    actions_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    run_ = FormText::destructiveButton(QStringLiteral("Erase && Prep Card"), QStringLiteral("erase.run"), actions_);
    stop_ = new QPushButton(QStringLiteral("Stop"), actions_);
    stop_->setObjectName(QStringLiteral("erase.stop"));
    actions_->addWidget(run_);
    actions_->addWidget(stop_);
    buttons->addWidget(actions_);
    buttons->addStretch(1);
    eraseColumn->addLayout(buttons);
    // The click re-checks the gate against the report of this moment: the enabled state
    // drawn a moment ago may be stale (a swapped card publishes nothing).
    connect(run_, &QPushButton::clicked, this, [this] { vm_.runChecked(vm_.reportFor(scan_.sessionReports())); });
    connect(stop_, &QPushButton::clicked, this, [this] { vm_.cancel(); });

    running_ = new QWidget(eraseBox);
    running_->setObjectName(QStringLiteral("erase.running"));
    auto* runningColumn = FormText::column(running_, 6);
    progress_ = FormText::progressBar(QStringLiteral("erase.progress"), running_);
    runningColumn->addWidget(progress_);
    progressText_ = FormText::caption(QStringLiteral("erase.progressText"), running_);
    runningColumn->addWidget(progressText_);
    eraseColumn->addWidget(running_);

    outcome_ = new SymbolLabel(QString(), eraseBox);
    outcome_->setObjectName(QStringLiteral("erase.outcome"));
    eraseColumn->addWidget(outcome_);
    outcomeCounts_ = FormText::caption(QStringLiteral("erase.outcomeCounts"), eraseBox);
    eraseColumn->addWidget(outcomeCounts_);
    outcomeFolders_ = FormText::caption(QStringLiteral("erase.outcomeFolders"), eraseBox);
    outcomeFolders_->setFont(FormText::caption2(font(), true));
    eraseColumn->addWidget(outcomeFolders_);
    column->addWidget(eraseBox);
    column->addStretch(1);

    return scroll;
}

void CardPrepView::scheduleRender() { renderer_.schedule(); }

void CardPrepView::settleLayout() {
    QWidget* body = cameraScroll_->widget();
    if (!body || !body->layout()) return;
    // The body's new size first (the scroll area asks the layouts for it), then every layout
    // placed in it, outermost first, so that no box is laid out in a size it no longer has.
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(cameraScroll_, &request);
    body->layout()->activate();
    for (QWidget* box : body->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        if (box->layout()) box->layout()->activate();
}

void CardPrepView::render() {
    // The card is judged by its own latest scan of this session, whichever card was scanned last.
    const auto report = vm_.reportFor(scan_.sessionReports());
    const VerificationStanding standing = vm_.gate(report);
    const bool hasCard = vm_.cardPath().has_value();
    const bool busy = vm_.isBusy();
    const auto& preview = vm_.preview();
    const auto& phase = vm_.phase();

    // Card to Erase
    cardPath_->setFullText(vm_.cardPath().value_or(QString()));
    cardRows_->setRowVisible(cardPath_, hasCard);
    if (preview)
        FormText::setText(contents_, QStringLiteral("%1 \u00b7 %2")
                                         .arg(Formats::count(preview->fileCount, "file", "files"),
                                              Formats::fileByteCount(preview->totalBytes)));
    // Never a count that was not made: while the card is counted without one (after a stopped
    // erase too) its place says so.
    const bool countingShown =
        !preview && (vm_.isCounting() || std::holds_alternative<CardPrepViewModel::Previewing>(phase));
    contentsSlot_->setCurrentWidget(countingShown ? counting_ : static_cast<QWidget*>(contents_));
    cardRows_->setRowVisible(contentsSlot_, hasCard && (preview.has_value() || countingShown));
    noCard_->setVisible(!hasCard);
    choose_->setEnabled(!busy);

    // Safety Check
    const BannerText banner = bannerFor(hasCard, vm_.cardIssue(), standing, vm_.cardName());
    banner_->set(banner.symbol, banner.text, banner.color, banner.emphasized);
    // Rows that come and go with the verdict keep their room while a card that may be erased
    // is picked: an erase starting, stopping or ending moves nothing.
    const bool erasable = hasCard && !vm_.cardIssue();
    keepRoom(bannerRoom_, erasable);

    // Camera
    const auto profile = vm_.selectedProfile();
    const int profileIndex = profile_->findData(QString::fromStdString(profile.id));
    if (profileIndex != profile_->currentIndex()) {
        const QSignalBlocker block(profile_);
        profile_->setCurrentIndex(profileIndex);
    }
    FormText::setText(profileNote_, QString::fromStdString(profile.note));
    FormText::setText(profileFolders_, QStringLiteral("Creates: ") + joined(profile.folders, QStringLiteral(" \u00b7 ")));
    profileFolders_->setVisible(!profile.folders.empty());

    // Erase & Prep
    const QString name = vm_.cardName();
    const bool warn = hasCard && preview && preview->fileCount >= 1;
    if (warn)
        warning_->set(QStringLiteral("exclamationmark.triangle.fill"),
                      QStringLiteral("This permanently deletes %1 (%2) on \u201c%3\u201d. There is no undo.")
                          .arg(preview->fileCount == 1 ? QStringLiteral("the 1 file")
                                                       : QStringLiteral("all %1 files").arg(Formats::groupedInteger(preview->fileCount)),
                               Formats::fileByteCount(preview->totalBytes), name),
                      Style::bad());
    warning_->setVisible(warn);
    keepRoom(warning_, erasable);
    const QString placeholder =
        QStringLiteral("Type the card's name (%1) to confirm").arg(name.isEmpty() ? QStringLiteral("\u2026") : name);
    if (confirmation_->placeholderText() != placeholder) confirmation_->setPlaceholderText(placeholder);
    if (confirmation_->text() != vm_.confirmationText()) confirmation_->setText(vm_.confirmationText());
    confirmation_->setEnabled(hasCard && !busy);
    // Offered only while the gate has a verdict that is not safe (none while the card is judged,
    // nor for a card that is to be picked again).
    acknowledgeRow_->setVisible(erasable && !standing.isSafe() && standing.kind != Kind::checking &&
                                standing.kind != Kind::remounted);
    keepRoom(acknowledgeRow_, erasable);
    acknowledge_->setEnabled(!busy);
    if (acknowledge_->isChecked() != vm_.acknowledgedUnverified()) {
        const QSignalBlocker block(acknowledge_);
        acknowledge_->setChecked(vm_.acknowledgedUnverified());
    }
    run_->setEnabled(vm_.canRun(standing));
    actions_->setCurrentWidget(busy ? stop_ : run_);
    // From the click on, the erase says it is stopping: it ends at the next file.
    const bool stopping = vm_.isStopping();
    stop_->setEnabled(!stopping);
    const QString stopTitle = stopping ? QStringLiteral("Stopping\u2026") : QStringLiteral("Stop");
    if (stop_->text() != stopTitle) stop_->setText(stopTitle);

    // Status
    const auto* runningPhase = std::get_if<CardPrepViewModel::Running>(&phase);
    running_->setVisible(runningPhase != nullptr);
    if (runningPhase) {
        // The bar counts what its text counts: files read again, then files deleted.
        const auto& checking = vm_.checking();
        const EraseTexts::RunProgress shown = EraseTexts::runProgress(
            runningPhase->item, runningPhase->filesDeleted, runningPhase->filesPlanned, checking.has_value(),
            checking ? checking->done : 0, checking ? checking->total : 0, stopping);
        if (shown.total >= 1) {
            progress_->setRange(0, shown.total);
            progress_->setValue(std::min(shown.done, shown.total));
        } else {
            progress_->setRange(0, 0);
        }
        FormText::setText(progressText_, shown.text);
    }
    bool showOutcome = false, showCounts = false, showFolders = false;
    if (const auto* done = std::get_if<CardPrepViewModel::Done>(&phase)) {
        const auto& summary = done->summary;
        showOutcome = true;
        // Nothing was deleted or made: no counts to give.
        showCounts = !summary.untouched;
        // Files an erase kept because they changed during it are named whatever else happened.
        const QString kept = EraseTexts::keptText(summary.kept);
        if (summary.untouched)
            outcome_->set(QStringLiteral("stop.circle.fill"), EraseTexts::stoppedUntouchedText(), Style::warn());
        else if (summary.cancelled)
            outcome_->set(QStringLiteral("stop.circle.fill"), EraseTexts::stoppedText(summary.filesDeleted) +
                                                              (kept.isEmpty() ? QString() : QStringLiteral(" ") + kept),
                          Style::warn());
        else if (!summary.failures.empty())
            outcome_->set(QStringLiteral("exclamationmark.triangle.fill"),
                          QStringLiteral("Erased with %1 that couldn't be deleted: %2")
                                  .arg(Formats::count(qint64(summary.failures.size()), "item", "items"),
                                       joined(summary.failures, QStringLiteral(", "))) +
                              (kept.isEmpty() ? QString() : QStringLiteral(". ") + kept),
                          Style::warn());
        else if (!kept.isEmpty())
            outcome_->set(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("Erased with %1").arg(kept),
                          Style::warn());
        else
            outcome_->set(QStringLiteral("checkmark.seal.fill"),
                          QStringLiteral("Card erased and prepped for %1").arg(QString::fromStdString(profile.displayName)),
                          Style::good());
        // Files, as the card's contents are counted: the top-level entries removed say little.
        QString counts = QStringLiteral("Deleted %1 \u00b7 freed %2")
                             .arg(Formats::count(summary.filesDeleted, "file", "files"),
                                  Formats::fileByteCount(summary.bytesFreed));
        // Only the folders this erase made: the profile's folders it found in place (kept by a
        // stop, say) were not created.
        if (!summary.foldersMade.empty())
            counts += QStringLiteral(" \u00b7 created %1")
                          .arg(Formats::count(qint64(summary.foldersMade.size()), "folder", "folders"));
        FormText::setText(outcomeCounts_, counts);
        showFolders = !summary.foldersMade.empty();
        FormText::setText(outcomeFolders_, joined(summary.foldersMade, QStringLiteral(" \u00b7 ")));
    } else if (const auto* failed = std::get_if<CardPrepViewModel::Failed>(&phase)) {
        showOutcome = true;
        outcome_->set(QStringLiteral("exclamationmark.triangle.fill"), failed->message, Style::bad());
    }
    outcome_->setVisible(showOutcome);
    outcomeCounts_->setVisible(showCounts);
    outcomeFolders_->setVisible(showFolders);
    settleLayout();
}

QWidget* makeCardPrepView(MainWindow& window) {
    auto& models = window.models();
    return new CardPrepView(models.cardPrep(), models.scan(), models.renewDriveFormat());
}

}  // namespace brindlecove
