#include "BrindlecoveApp/Views/CopyView.hpp"

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/TrendChart.hpp"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <variant>

namespace brindlecove {

namespace {

QLabel* label(const QString& name, QWidget* parent, Style::TextStyle style = Style::TextStyle::body,
              bool secondary = false) {
    auto* text = new QLabel(parent);
    text->setObjectName(name);
    text->setTextFormat(Qt::PlainText);
    text->setFont(Style::font(style, text->font()));
    if (secondary) Style::makeSecondary(text);
    return text;
}

void setTextColor(QLabel* text, const QColor& color) {
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, color);
    text->setPalette(palette);
}

void setTextIfChanged(QLabel* text, const QString& value) {
    if (text->text() != value) text->setText(value);
}

// A line with a text at the left and one at the right.
QHBoxLayout* splitLine(QLabel* left, QLabel* right) {
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(left, 1);
    line->addWidget(right, 0, Qt::AlignRight);
    return line;
}

}  // namespace

CopyView::CopyView(CopyViewModel& model, QWidget* parent)
    : QWidget(parent), model_(model), coalescer_(this, [this] { render(); }) {
    setObjectName(QStringLiteral("copy"));
    QVBoxLayout* column =
        ScreenHeader::install(this, QStringLiteral("Copy"), QStringLiteral("copy.title"))->addScrollingBody();
    QWidget* content = column->parentWidget();
    column->setSpacing(14);

    // Card
    auto* card = new QGroupBox(QStringLiteral("Card"), content);
    card->setObjectName(QStringLiteral("copy.cardGroup"));
    auto* cardLayout = new QVBoxLayout(card);
    cardRow_ = new QWidget(card);
    auto* cardForm = new QFormLayout(cardRow_);
    cardForm->setContentsMargins(0, 0, 0, 0);
    cardPath_ = new ElidedLabel(cardRow_);
    cardPath_->setObjectName(QStringLiteral("copy.cardPath"));
    cardPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cardForm->addRow(QStringLiteral("From"), cardPath_);
    cardLayout->addWidget(cardRow_);
    noCard_ = label(QStringLiteral("copy.noCard"), card, Style::TextStyle::body, true);
    noCard_->setText(QStringLiteral("No card selected."));
    cardLayout->addWidget(noCard_);
    chooseCard_ = new QPushButton(QStringLiteral("Choose Card…"), card);
    chooseCard_->setObjectName(QStringLiteral("copy.chooseCard"));
    cardLayout->addWidget(chooseCard_, 0, Qt::AlignLeft);
    column->addWidget(card);

    // Destination
    auto* destination = new QGroupBox(QStringLiteral("Destination"), content);
    destination->setObjectName(QStringLiteral("copy.destinationGroup"));
    auto* destinationLayout = new QVBoxLayout(destination);
    destinationRow_ = new QWidget(destination);
    auto* destinationForm = new QFormLayout(destinationRow_);
    destinationForm->setContentsMargins(0, 0, 0, 0);
    destinationPath_ = new ElidedLabel(destinationRow_);
    destinationPath_->setObjectName(QStringLiteral("copy.destinationPath"));
    destinationPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    destinationForm->addRow(QStringLiteral("To"), destinationPath_);
    destinationLayout->addWidget(destinationRow_);
    noDestination_ = label(QStringLiteral("copy.noDestination"), destination, Style::TextStyle::body, true);
    noDestination_->setText(QStringLiteral("No destination selected."));
    destinationLayout->addWidget(noDestination_);
    chooseDestination_ = new QPushButton(QStringLiteral("Choose Destination…"), destination);
    chooseDestination_->setObjectName(QStringLiteral("copy.chooseDestination"));
    destinationLayout->addWidget(chooseDestination_, 0, Qt::AlignLeft);
    column->addWidget(destination);

    // Options
    auto* options = new QGroupBox(QStringLiteral("Options"), content);
    options->setObjectName(QStringLiteral("copy.optionsGroup"));
    auto* optionsLayout = new QVBoxLayout(options);
    preserve_ = new QCheckBox(QStringLiteral("Preserve folder structure"), options);
    preserve_->setObjectName(QStringLiteral("copy.preserve"));
    optionsLayout->addWidget(preserve_);
    preserveCaption_ = label(QStringLiteral("copy.preserveCaption"), options, Style::TextStyle::caption, true);
    optionsLayout->addWidget(preserveCaption_);
    column->addWidget(options);

    // Copy
    auto* copy = new QGroupBox(QStringLiteral("Copy"), content);
    copy->setObjectName(QStringLiteral("copy.copyGroup"));
    auto* copyLayout = new QVBoxLayout(copy);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(QStringLiteral("Start Verified Copy"), copy);
    start_->setObjectName(QStringLiteral("copy.start"));
    start_->setDefault(true);
    buttons->addWidget(start_, 0, Qt::AlignVCenter);
    stop_ = new QPushButton(QStringLiteral("Stop"), copy);
    stop_->setObjectName(QStringLiteral("copy.stop"));
    {
        QPalette palette = stop_->palette();
        palette.setColor(QPalette::ButtonText, Style::bad());
        stop_->setPalette(palette);
    }
    buttons->addWidget(stop_, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    copyLayout->addLayout(buttons);
    copyLayout->addWidget(buildStatus());
    column->addWidget(copy);
    column->addStretch(1);

    // Writes to the view model come only from user actions.
    connect(chooseCard_, &QPushButton::clicked, this, [this] { model_.pickCard(); });
    connect(chooseDestination_, &QPushButton::clicked, this, [this] { model_.pickDestination(); });
    connect(preserve_, &QCheckBox::clicked, this, [this](bool on) { model_.setPreserveStructure(on); });
    connect(start_, &QPushButton::clicked, this, [this] { model_.start(); });
    connect(stop_, &QPushButton::clicked, this, [this] { model_.stop(); });
    connect(&model_, &CopyViewModel::changed, this, [this] { coalescer_.schedule(); });
    render();
}

QWidget* CopyView::buildStatus() {
    auto* status = new QWidget;
    status->setObjectName(QStringLiteral("copy.status"));
    auto* stack = new QVBoxLayout(status);
    stack->setContentsMargins(0, 0, 0, 0);

    settlingPage_ = new QWidget(status);
    settlingPage_->setObjectName(QStringLiteral("copy.settling"));
    auto* settling = FormText::column(settlingPage_, 4);
    settlingBar_ = FormText::progressBar(QStringLiteral("copy.settlingBar"), settlingPage_);
    settlingBar_->setRange(0, 0);
    settling->addWidget(settlingBar_);
    settlingText_ = label(QStringLiteral("copy.settlingText"), settlingPage_, Style::TextStyle::caption, true);
    settling->addWidget(settlingText_);
    stack->addWidget(settlingPage_);

    copyingPage_ = new QWidget(status);
    copyingPage_->setObjectName(QStringLiteral("copy.copying"));
    auto* copying = FormText::column(copyingPage_, 6);
    progress_ = FormText::progressBar(QStringLiteral("copy.progress"), copyingPage_);
    copying->addWidget(progress_);
    fileLine_ = label(QStringLiteral("copy.fileLine"), copyingPage_, Style::TextStyle::caption, true);
    fileLine_->setMinimumWidth(1);
    estimate_ = label(QStringLiteral("copy.estimate"), copyingPage_, Style::TextStyle::caption, true);
    copying->addLayout(splitLine(fileLine_, estimate_));
    bytes_ = label(QStringLiteral("copy.bytes"), copyingPage_, Style::TextStyle::caption, true);
    speed_ = label(QStringLiteral("copy.speed"), copyingPage_, Style::TextStyle::caption, true);
    // Digits of equal width, so the speed does not jitter as it changes.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(speed_->font().pointSizeF());
    speed_->setFont(fixed);
    copying->addLayout(splitLine(bytes_, speed_));
    chart_ = new TrendChart(Style::accent(this), QStringLiteral("MB/s"), copyingPage_);
    chart_->setObjectName(QStringLiteral("copy.speedChart"));
    copying->addWidget(chart_);
    stack->addWidget(copyingPage_);

    donePage_ = new QWidget(status);
    donePage_->setObjectName(QStringLiteral("copy.done"));
    auto* done = FormText::column(donePage_, 4);
    auto* verdictLine = new QHBoxLayout;
    verdictSymbol_ = label(QStringLiteral("copy.verdictSymbol"), donePage_);
    verdict_ = label(QStringLiteral("copy.verdict"), donePage_);
    verdict_->setWordWrap(true);
    verdictLine->addWidget(verdictSymbol_, 0, Qt::AlignTop);
    verdictLine->addWidget(verdict_, 1);
    done->addLayout(verdictLine);
    counts_ = label(QStringLiteral("copy.counts"), donePage_, Style::TextStyle::caption, true);
    done->addWidget(counts_);
    auto* hint = label(QStringLiteral("copy.hint"), donePage_, Style::TextStyle::caption, true);
    hint->setText(QStringLiteral("See the Production Log tab to export the verified transfer log (PDF / ASC-MHL)."));
    hint->setWordWrap(true);
    done->addWidget(hint);
    filingNotice_ = label(QStringLiteral("copy.filingNotice"), donePage_, Style::TextStyle::caption);
    filingNotice_->setWordWrap(true);
    setTextColor(filingNotice_, Style::warn());
    filingNotice_->hide();
    done->addWidget(filingNotice_);
    stack->addWidget(donePage_);

    failedPage_ = new QWidget(status);
    failedPage_->setObjectName(QStringLiteral("copy.failed"));
    auto* failed = new QHBoxLayout(failedPage_);
    failed->setContentsMargins(0, 0, 0, 0);
    auto* failedSymbol = label(QStringLiteral("copy.failureSymbol"), failedPage_);
    const QString warning = QStringLiteral("exclamationmark.triangle.fill");
    failedSymbol->setPixmap(Symbols::pixmap(warning, QFontMetrics(font()).height(), Style::bad()));
    Symbols::tag(failedSymbol, warning);
    failed->addWidget(failedSymbol, 0, Qt::AlignTop);
    failure_ = label(QStringLiteral("copy.failure"), failedPage_);
    failure_->setWordWrap(true);
    setTextColor(failure_, Style::bad());
    failed->addWidget(failure_, 1);
    stack->addWidget(failedPage_);
    return status;
}

void CopyView::render() {
    const CopyViewModel& model = model_;
    const bool running = model.isRunning();

    cardRow_->setVisible(model.cardPath().has_value());
    noCard_->setVisible(!model.cardPath());
    cardPath_->setFullText(model.cardPath().value_or(QString()));
    destinationRow_->setVisible(model.destinationPath().has_value());
    noDestination_->setVisible(!model.destinationPath());
    destinationPath_->setFullText(model.destinationPath().value_or(QString()));
    chooseCard_->setEnabled(!running);
    chooseDestination_->setEnabled(!running);

    if (preserve_->isChecked() != model.preserveStructure()) {
        QSignalBlocker block(preserve_);
        preserve_->setChecked(model.preserveStructure());
    }
    preserve_->setEnabled(!running);
    setTextIfChanged(preserveCaption_, model.preserveStructure()
                                           ? QStringLiteral("Mirror the card's DCIM/folder layout into the destination.")
                                           : QStringLiteral("Copy every file into the destination folder, flattened."));
    start_->setEnabled(model.canStart());
    stop_->setVisible(running);

    const auto& phase = model.phase();
    // The settle wait and the checks that copy nothing share one page: a busy bar and what is done.
    settlingPage_->setVisible(std::holds_alternative<CopyViewModel::SettlingPhase>(phase) ||
                              std::holds_alternative<CopyViewModel::CheckingPhase>(phase));
    copyingPage_->setVisible(std::holds_alternative<CopyViewModel::CopyingPhase>(phase));
    donePage_->setVisible(std::holds_alternative<CopyViewModel::DonePhase>(phase));
    failedPage_->setVisible(std::holds_alternative<CopyViewModel::FailedPhase>(phase));

    if (const auto* settling = std::get_if<CopyViewModel::SettlingPhase>(&phase)) {
        settlingBar_->setRange(0, 0);
        setTextIfChanged(settlingText_, TransferTexts::settling(settling->quietRemaining));
    } else if (const auto* checking = std::get_if<CopyViewModel::CheckingPhase>(&phase)) {
        // A check that reads a file's bytes shows how far it is; one that counts files only, a busy bar.
        QString text = TransferTexts::checking(checking->check);
        if (const auto bytes = TransferTexts::checkedBytes(checking->check)) {
            settlingBar_->setRange(0, 10000);
            settlingBar_->setValue(static_cast<int>(TransferTexts::checkedFraction(checking->check) * 10000));
            text += QStringLiteral(" — ") + *bytes;
        } else {
            settlingBar_->setRange(0, 0);
        }
        setTextIfChanged(settlingText_, text);
    } else if (const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&phase)) {
        const bool sized = copying->overallBytes >= 1;
        if (sized) {
            progress_->setRange(0, 10000);
            // In 64 bits: copied × 10000 overflows 32 bits from 215 KB on.
            const int64_t copied = std::clamp<int64_t>(copying->overallBytesCopied, 0, copying->overallBytes);
            progress_->setValue(static_cast<int>(copied * 10000 / copying->overallBytes));
        } else {
            progress_->setRange(0, 0);
        }
        // While its copy is read back, the file's line says so and the bytes are those read back.
        const auto readBack = copying->readBack ? TransferTexts::checkedBytes(*copying->readBack) : std::nullopt;
        setTextIfChanged(fileLine_, readBack ? TransferTexts::verifyingFile(copying->fileName, copying->fileIndex,
                                                                            copying->fileTotal)
                                             : TransferTexts::copyingFile(copying->fileName, copying->fileIndex,
                                                                          copying->fileTotal));
        setTextIfChanged(bytes_, readBack.value_or(TransferTexts::bytesOf(copying->overallBytesCopied,
                                                                          copying->overallBytes)));
        // Speed, estimate and chart only for a run that has bytes to copy. The estimate counts
        // bytes still to copy, not what is still to be read back: while a copy is read back
        // (the whole of it, for the last file) it would promise too little, so none shows.
        const auto remaining =
            sized && !readBack ? TransferTexts::remaining(model.estimatedSecondsRemaining()) : std::nullopt;
        estimate_->setVisible(remaining.has_value());
        setTextIfChanged(estimate_, remaining.value_or(QString()));
        const auto speed = sized ? TransferTexts::speed(model.currentBytesPerSec()) : std::nullopt;
        speed_->setVisible(speed.has_value());
        setTextIfChanged(speed_, speed.value_or(QString()));
        const auto& history = model.progressHistory();
        // The chart is fed again only when a sample was added (or a run began).
        const QUuid newest = sized && !history.isEmpty() ? history.back().id : QUuid();
        if (newest != chartNewest_ || (!sized && !chart_->points().isEmpty())) {
            QList<QPointF> points;
            if (sized) {
                points.reserve(history.size());
                for (const auto& point : history) points.append(QPointF(point.elapsed, point.mbPerSec));
            }
            chart_->setPoints(points);
            chartNewest_ = newest;
        }
    } else if (const auto* done = std::get_if<CopyViewModel::DonePhase>(&phase)) {
        const auto verdict = TransferTexts::copyVerdict(model.wasStopped(), *done->log);
        const QColor color = ResultBanner::colorFor(ResultBanner::toneOf(verdict.tone), this);
        setTextIfChanged(verdict_, verdict.text);
        setTextColor(verdict_, color);
        if (verdictSymbolName_ != verdict.symbol + color.name()) {
            verdictSymbol_->setPixmap(Symbols::pixmap(verdict.symbol, QFontMetrics(font()).height(), color));
            Symbols::tag(verdictSymbol_, verdict.symbol);
            verdictSymbolName_ = verdict.symbol + color.name();
        }
        setTextIfChanged(counts_, TransferTexts::copyCounts(*done->log));
        setTextIfChanged(filingNotice_, model.filingNotice().value_or(QString()));
        filingNotice_->setVisible(model.filingNotice().has_value());
    } else if (const auto* failed = std::get_if<CopyViewModel::FailedPhase>(&phase)) {
        setTextIfChanged(failure_, failed->message);
    }
}

QWidget* makeCopyView(MainWindow& window) { return new CopyView(window.models().copy()); }

}  // namespace brindlecove
