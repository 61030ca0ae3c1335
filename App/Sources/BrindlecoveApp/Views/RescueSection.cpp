#include "BrindlecoveApp/Views/RescueSection.hpp"

#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

QLabel* makeLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

RescueSection::RescueSection(MissingSyncViewModel& rescue, QWidget* parent) : QFrame(parent), rescue_(rescue) {
    setObjectName(QStringLiteral("report.rescue"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    auto* header = makeLabel(QStringLiteral("rescue.header"), this);
    header->setText(QStringLiteral("Rescue the Red Files"));
    QFont headerFont = Style::font(Style::TextStyle::title3, font());
    headerFont.setBold(true);
    header->setFont(headerFont);
    layout->addWidget(header);

    erasedNote_ = makeLabel(QStringLiteral("rescue.erasedNote"), this);
    erasedNote_->setText(ReportTexts::erasedRescueNote());
    erasedNote_->setWordWrap(true);
    QPalette erasedPalette = erasedNote_->palette();
    erasedPalette.setColor(QPalette::WindowText, Style::warn());
    erasedNote_->setPalette(erasedPalette);
    layout->addWidget(erasedNote_);

    // Everything that offers the copy, in one box that an erased card hides.
    copyControls_ = new QWidget(this);
    copyControls_->setObjectName(QStringLiteral("rescue.copyControls"));
    auto* controls = FormText::column(copyControls_, 8);
    auto* outerLayout = layout;
    layout = controls;

    auto* destination = new QHBoxLayout;
    destinationLabel_ = makeLabel(QStringLiteral("rescue.destinationLabel"), this);
    destination->addWidget(destinationLabel_);
    // A long path is shortened in its middle (whole in its tooltip) rather than widening the
    // section beyond the window.
    destinationPath_ = new ElidedLabel(this);
    destinationPath_->setObjectName(QStringLiteral("rescue.destinationPath"));
    destinationPath_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    destination->addWidget(destinationPath_, 1);
    layout->addLayout(destination);
    suggestionNote_ = makeLabel(QStringLiteral("rescue.suggestionNote"), this);
    suggestionNote_->setFont(Style::font(Style::TextStyle::caption, font()));
    suggestionNote_->setWordWrap(true);
    Style::makeSecondary(suggestionNote_);
    layout->addWidget(suggestionNote_);
    pickHint_ = makeLabel(QStringLiteral("rescue.pickHint"), this);
    pickHint_->setText(QStringLiteral("Pick the folder your other media was transferred to."));
    Style::makeSecondary(pickHint_);
    layout->addWidget(pickHint_);

    auto* options = new QHBoxLayout;
    change_ = new QPushButton(QStringLiteral("Change…"), this);
    change_->setObjectName(QStringLiteral("rescue.change"));
    options->addWidget(change_);
    mirror_ = new QCheckBox(QStringLiteral("Mirror card folder structure"), this);
    mirror_->setObjectName(QStringLiteral("rescue.mirror"));
    mirror_->setToolTip(QStringLiteral("Off: files land directly in the folder, next to the media that's already there. "
                                       "On: recreates DCIM/… subfolders."));
    options->addWidget(mirror_);
    options->addStretch(1);
    layout->addLayout(options);

    auto* actions = new QHBoxLayout;
    sync_ = new QPushButton(this);
    sync_->setObjectName(QStringLiteral("rescue.sync"));
    sync_->setDefault(true);
    sync_->setIcon(Symbols::icon(QStringLiteral("arrow.down.doc.fill"), Qt::white, Qt::white));
    // The prominent button: filled with the accent colour, grey while it cannot be used.
    sync_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 5px;"
                                        " padding: 5px 12px; } QPushButton:disabled { background: %2; color: %3; }")
                             .arg(Style::accent(this).name(), Style::quaternaryFill(this).name(QColor::HexArgb),
                                  Style::secondaryText(this).name(QColor::HexArgb)));
    Symbols::tag(sync_, QStringLiteral("arrow.down.doc.fill"));
    // Its title is fitted to the group's width (fitSyncTitle), so it may be narrower than it.
    sync_->setMinimumWidth(80);
    actions->addWidget(sync_);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("rescue.stop"));
    QPalette stopPalette = stop_->palette();
    stopPalette.setColor(QPalette::ButtonText, Style::bad());
    stop_->setPalette(stopPalette);
    actions->addWidget(stop_);
    actions->addStretch(1);
    layout->addLayout(actions);
    outerLayout->addWidget(copyControls_);
    layout = outerLayout;

    running_ = new QWidget(this);
    running_->setObjectName(QStringLiteral("rescue.running"));
    auto* runningLayout = FormText::column(running_, 6);
    progress_ = FormText::progressBar(QStringLiteral("rescue.progress"), running_);
    runningLayout->addWidget(progress_);
    runningText_ = makeLabel(QStringLiteral("rescue.runningText"), running_);
    runningText_->setFont(Style::font(Style::TextStyle::caption, font()));
    Style::makeSecondary(runningText_);
    runningLayout->addWidget(runningText_);
    layout->addWidget(running_);

    done_ = new QWidget(this);
    done_->setObjectName(QStringLiteral("rescue.done"));
    auto* doneLayout = FormText::column(done_, 4);
    auto* outcomeRow = new QHBoxLayout;
    outcomeSymbol_ = makeLabel(QStringLiteral("rescue.outcomeSymbol"), done_);
    outcomeRow->addWidget(outcomeSymbol_);
    outcomeText_ = makeLabel(QStringLiteral("rescue.outcome"), done_);
    outcomeText_->setWordWrap(true);
    outcomeRow->addWidget(outcomeText_, 1);
    doneLayout->addLayout(outcomeRow);
    rerunNote_ = makeLabel(QStringLiteral("rescue.rerunNote"), done_);
    rerunNote_->setFont(Style::font(Style::TextStyle::caption, font()));
    Style::makeSecondary(rerunNote_);
    doneLayout->addWidget(rerunNote_);
    filingNotice_ = makeLabel(QStringLiteral("rescue.filingNotice"), done_);
    filingNotice_->setFont(Style::font(Style::TextStyle::caption, font()));
    filingNotice_->setWordWrap(true);
    QPalette warning = filingNotice_->palette();
    warning.setColor(QPalette::WindowText, Style::warn());
    filingNotice_->setPalette(warning);
    filingNotice_->hide();
    doneLayout->addWidget(filingNotice_);
    layout->addWidget(done_);

    connect(change_, &QPushButton::clicked, this, [this] { rescue_.pickDestination(); });
    connect(mirror_, &QCheckBox::clicked, this, [this](bool on) { rescue_.setPreserveStructure(on); });
    connect(sync_, &QPushButton::clicked, this, [this] {
        // The report shown when the button was pressed, whatever arrives later; never one
        // whose card was erased since.
        if (auto report = report_; report && !cardErased_) rescue_.start(*report);
    });
    connect(stop_, &QPushButton::clicked, this, [this] { rescue_.stop(); });
    connect(&rescue_, &MissingSyncViewModel::changed, this, [this] { render(); });
    render();
}

void RescueSection::setReport(std::shared_ptr<const tessaline::VerificationReport> report) {
    report_ = std::move(report);
    const auto counts = report_ ? ReportTexts::countsOf(*report_) : ReportTexts::Counts{};
    missingClips_ = counts.missing;
    rescueFiles_ = report_ ? static_cast<int>(MissingSyncViewModel::filesToRescue(*report_).size()) : 0;
    clipFiles_ = report_ ? MissingSyncViewModel::clipFilesToRescue(*report_) : 0;
    confirmedCount_ = counts.confirmed;
    render();
}

void RescueSection::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    fitSyncTitle();
}

void RescueSection::fitSyncTitle() {
    // The room the group's own margins and the copy controls' leave, beside Stop when shown.
    int room = contentsRect().width();
    for (const QWidget* holder : {static_cast<const QWidget*>(this), static_cast<const QWidget*>(copyControls_)})
        if (const QLayout* lay = holder->layout()) room -= lay->contentsMargins().left() + lay->contentsMargins().right();
    if (stop_->isVisibleTo(this)) room -= stop_->sizeHint().width() + 6;
    const QFontMetrics metrics(sync_->font());
    const int chrome = sync_->sizeHint().width() - metrics.horizontalAdvance(sync_->text());
    const QString shown = metrics.elidedText(syncTitle_, Qt::ElideMiddle, std::max(40, room - chrome));
    if (sync_->text() != shown) sync_->setText(shown);
    sync_->setToolTip(shown == syncTitle_ ? QString() : syncTitle_);
}

void RescueSection::setCardErased(bool erased) {
    if (cardErased_ == erased) return;
    cardErased_ = erased;
    render();
}

void RescueSection::render() {
    const auto& destination = rescue_.destination();
    const bool running = rescue_.isRunning();
    destinationLabel_->setVisible(destination.has_value());
    destinationPath_->setVisible(destination.has_value());
    if (destination) {
        destinationLabel_->setText(rescue_.destinationIsSuggested() ? QStringLiteral("Copy to (suggested)")
                                                                    : QStringLiteral("Copy to"));
        destinationPath_->setFullText(*destination);
    }
    suggestionNote_->setVisible(destination && rescue_.destinationIsSuggested());
    suggestionNote_->setText(ReportTexts::suggestionNote(confirmedCount_));
    pickHint_->setVisible(!destination);

    change_->setEnabled(!running);
    mirror_->setEnabled(!running);
    if (mirror_->isChecked() != rescue_.preserveStructure()) {
        QSignalBlocker block(mirror_);
        mirror_->setChecked(rescue_.preserveStructure());
    }
    syncTitle_ = ReportTexts::syncButtonTitle(missingClips_, clipFiles_, rescueFiles_ - clipFiles_);
    fitSyncTitle();
    sync_->setEnabled(destination.has_value() && !running);
    stop_->setVisible(running);
    // A run already going on is shown to its end (and can be stopped); no new one is offered.
    erasedNote_->setVisible(cardErased_);
    copyControls_->setVisible(!cardErased_ || running);
    sync_->setVisible(!cardErased_);

    const auto& phase = rescue_.phase();
    running_->setVisible(running);
    using CheckPhase = tessaline::CopyEngine::CheckingEvent::Phase;
    const auto* run = std::get_if<MissingSyncViewModel::Running>(&phase);
    // A copy read back is shown with the copy it proves, over the run's bar.
    const bool readingBack = run && run->checking && run->checking->phase == CheckPhase::readBack &&
                             run->checking->bytesToRead >= 1 && !run->fileName.isEmpty();
    if (run && run->checking && !readingBack) {
        progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(TransferTexts::checkedFraction(*run->checking) * 1000));
        QString text = TransferTexts::checking(*run->checking);
        if (const auto bytes = TransferTexts::checkedBytes(*run->checking)) text += QStringLiteral(" — ") + *bytes;
        runningText_->setText(text);
    } else if (run) {
        if (run->total >= 1) {
            progress_->setRange(0, 1000);
            progress_->setValue(static_cast<int>(std::clamp<qint64>(run->copied * 1000 / run->total, 0, 1000)));
        } else {
            progress_->setRange(0, 0);
        }
        runningText_->setText(readingBack ? ReportTexts::verifyingText(run->fileName, *run->checking)
                                          : ReportTexts::runningText(run->fileName, run->copied, run->total));
    }
    const auto* done = std::get_if<MissingSyncViewModel::Done>(&phase);
    done_->setVisible(done != nullptr);
    if (done) {
        const auto outcome = ReportTexts::outcome(done->log, rescue_.wasStopped(), done->goneFromCard);
        const QString rerun = ReportTexts::rerunNote(done->log, rescue_.wasStopped(), done->goneFromCard, cardErased_);
        rerunNote_->setText(rerun);
        rerunNote_->setVisible(!rerun.isEmpty());
        const QColor color = ResultBanner::colorFor(ResultBanner::toneOf(outcome.tone));
        outcomeSymbol_->setPixmap(Symbols::pixmap(outcome.symbol, QFontMetrics(font()).height(), color));
        Symbols::tag(outcomeSymbol_, outcome.symbol);
        outcomeText_->setText(outcome.text);
        QPalette palette = outcomeText_->palette();
        palette.setColor(QPalette::WindowText, color);
        outcomeText_->setPalette(palette);
        filingNotice_->setText(rescue_.filingNotice().value_or(QString()));
        filingNotice_->setVisible(rescue_.filingNotice().has_value());
    }
}

}  // namespace brindlecove
