#include "BrindlecoveApp/Views/ReportView.hpp"

#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/EmptyStateView.hpp"
#include "BrindlecoveApp/Views/ExportButton.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PreviewWindow.hpp"
#include "BrindlecoveApp/Views/ProportionBar.hpp"
#include "BrindlecoveApp/Views/ReportFileList.hpp"
#include "BrindlecoveApp/Views/RescueSection.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brindlecove {

namespace {

QColor blue() { return QColor(0x0a, 0x84, 0xff); }

// A list of file lines under the tiles, each marked ✗ in `color`, the whole line as its tool
// tip; up to six rows shown, more scroll inside the list.
QListWidget* markedFileList(const QString& name, const QStringList& lines, const QColor& color, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setTextElideMode(Qt::ElideMiddle);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setUniformItemSizes(true);
    for (const QString& line : lines) {
        auto* item = new QListWidgetItem(QStringLiteral("\u2717  ") + line, list);
        item->setForeground(color);
        item->setToolTip(line);
    }
    const int rows = std::min(static_cast<int>(lines.size()), 6);
    list->setFixedHeight(rows * list->sizeHintForRow(0) + 2 * list->frameWidth() + 2);
    return list;
}

// A wrapped line of plain text under the tiles in `color`.
QLabel* colouredNote(const QString& name, const QString& text, const QColor& color, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setObjectName(name);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText, color);
    note->setPalette(palette);
    return note;
}

}  // namespace

ReportView::ReportView(ScanViewModel& scan, MissingSyncViewModel& rescue, const ErasedReports& erased, Dialogs dialogs,
                       FileRevealer revealer, ThumbnailService& thumbnails, QWidget* parent)
    : QWidget(parent),
      scan_(scan),
      rescue_(rescue),
      erased_(erased),
      dialogs_(std::move(dialogs)),
      thumbnails_(thumbnails) {
    setObjectName(QStringLiteral("screen.Report"));
    ScreenHeader* header = ScreenHeader::install(this, QStringLiteral("Report"));
    export_ = makeExportButton(QStringLiteral("report.export"), this);
    QMenu* menu = export_->menu();
    QAction* pdf = menu->addAction(QStringLiteral("Export as PDF…"));
    pdf->setObjectName(QStringLiteral("report.exportPdf"));
    QAction* csv = menu->addAction(QStringLiteral("Export as CSV…"));
    csv->setObjectName(QStringLiteral("report.exportCsv"));
    header->setTrailing(export_);
    // The summary, the rescue group and the list scroll together as every section's body does,
    // so at the window's least size nothing is squeezed below its own size. The list keeps a
    // bounded height of its own (at least a few rows, else the visible height), so it still
    // lays out only the rows in view.
    QVBoxLayout* layout = header->addScrollingBody();
    layout->setSpacing(10);

    // The menu's entries act on the report shown when the menu opened.
    connect(menu, &QMenu::aboutToShow, this, [this] { menuReport_ = shown_; });
    connect(menu, &QMenu::aboutToHide, this, [this] {
        QMetaObject::invokeMethod(this, [this] { menuReport_.reset(); }, Qt::QueuedConnection);
    });
    auto exportWith = [this](ReportExport::Format format) {
        auto report = menuReport_ ? menuReport_ : shown_;
        if (report) exportReport(report, format);
    };
    connect(pdf, &QAction::triggered, this, [exportWith] { exportWith(ReportExport::Format::pdf); });
    connect(csv, &QAction::triggered, this, [exportWith] { exportWith(ReportExport::Format::csv); });

    pages_ = new QStackedWidget(this);
    pages_->addWidget(new EmptyStateView(QStringLiteral("list.bullet.clipboard"), QStringLiteral("No Report Yet"),
                                         QStringLiteral("Run a scan from the Scan tab to see what's still only on the card."),
                                         pages_));
    reportPage_ = new QWidget(pages_);
    reportPage_->setObjectName(QStringLiteral("report.page"));
    auto* page = FormText::column(reportPage_, 12);
    summary_ = new QWidget(reportPage_);
    summary_->setObjectName(QStringLiteral("report.summary"));
    summaryLayout_ = new QVBoxLayout(summary_);
    summaryLayout_->setContentsMargins(12, 8, 12, 8);
    page->addWidget(summary_);
    rescueSection_ = new RescueSection(rescue_, reportPage_);
    page->addWidget(rescueSection_);
    fileList_ = new ReportFileList(std::move(revealer), thumbnails, reportPage_);
    page->addWidget(fileList_, 1);
    pages_->addWidget(reportPage_);
    layout->addWidget(pages_, 1);

    previewController_ = new PreviewController(this);
    connect(fileList_, &ReportFileList::previewRequested, this, [this](const QString& path) { preview(path); });
    connect(&scan_, &ScanViewModel::lastReportChanged, this, [this] {
        render();
        // A new report while the list is shown may bring a better suggestion.
        if (isVisible() && shown_) rescue_.adoptSuggestionIfNeeded(*shown_);
    });
    connect(&erased_, &ErasedReports::changed, this, [this] {
        if (erased_.contains(shown_) != shownErased_) renderSummary();
        rescueSection_->setCardErased(shownErased_);
    });
    render();
}

ReportView::~ReportView() {
    // The preview window is a top-level child; closing it first lets its player go of the file.
    if (previewWindow_) delete previewWindow_.data();
}

PreviewWindow* ReportView::previewWindow() const { return previewWindow_.data(); }

QMessageBox* ReportView::exportAlert() const { return exportAlert_.data(); }

void ReportView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) rescue_.adoptSuggestionIfNeeded(*shown_);
}

void ReportView::render() {
    auto report = scan_.lastReport();
    const bool changed = report != shown_;
    shown_ = report;
    export_->setVisible(shown_ != nullptr);
    pages_->setCurrentIndex(shown_ ? 1 : 0);
    if (!changed) return;
    renderSummary();
    rescueSection_->setReport(shown_);
    rescueSection_->setCardErased(shownErased_);
    rescueSection_->setVisible(shown_ && ReportTexts::countsOf(*shown_).toRescue() > 0);
    thumbnails_.dropPending();
    fileList_->setReport(shown_);
    previewController_->setItems(fileList_->model().previewPaths());
}

void ReportView::renderSummary() {
    if (summaryContent_) {
        // Pure display (banner, bar, tiles): nothing in it can be running a slot now.
        delete summaryContent_;
        summaryContent_ = nullptr;
    }
    shownErased_ = erased_.contains(shown_);
    if (!shown_) return;
    summaryContent_ = new QWidget(summary_);
    auto* stack = new QVBoxLayout(summaryContent_);
    stack->setContentsMargins(0, 4, 0, 4);
    stack->setSpacing(14);
    const auto banner = shownErased_ ? ReportTexts::erasedBanner() : ReportTexts::banner(*shown_);
    auto* bannerWidget = new ResultBanner(ResultBanner::toneOf(banner.tone), banner.title, banner.subtitle, summaryContent_);
    bannerWidget->setObjectName(QStringLiteral("report.banner"));
    stack->addWidget(bannerWidget);

    const auto counts = ReportTexts::countsOf(*shown_);
    const long long confirmed = counts.confirmed;
    const long long duplicates = counts.duplicates;
    const long long mismatches = counts.mismatches;
    const long long missing = counts.missing;
    auto* bar = new ProportionBar({{QUuid::createUuid(), confirmed, Style::good()},
                                   {QUuid::createUuid(), duplicates, blue()},
                                   {QUuid::createUuid(), mismatches, Style::warn()},
                                   {QUuid::createUuid(), missing, Style::bad()}},
                                  summaryContent_);
    bar->setObjectName(QStringLiteral("report.bar"));
    stack->addWidget(bar);

    // The tiles' row is a container of its own, so a line can stand beneath the tiles.
    auto* tilesBox = new QWidget(summaryContent_);
    tilesBox->setObjectName(QStringLiteral("report.tiles"));
    auto* tilesColumn = new QVBoxLayout(tilesBox);
    tilesColumn->setContentsMargins(0, 0, 0, 0);
    tilesColumn->setSpacing(6);
    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(8);
    tilesColumn->addLayout(tiles);
    struct Tile {
        const char* name;
        long long count;
        QString label;
        QString symbol;
        QColor color;
        bool emphasized;
    };
    const Tile list[] = {
        {"report.tile.missing", missing, QStringLiteral("Missing"), QStringLiteral("sdcard.fill"), Style::bad(), true},
        {"report.tile.confirmed", confirmed, QStringLiteral("Confirmed"), QStringLiteral("checkmark.circle.fill"),
         Style::good(), false},
        {"report.tile.duplicates", duplicates, QStringLiteral("Duplicates"), QStringLiteral("doc.on.doc"), blue(), false},
        {"report.tile.mismatches", mismatches, QStringLiteral("Name ≠"), QStringLiteral("questionmark.circle"),
         Style::warn(), false},
    };
    for (const Tile& tile : list) {
        auto* card = new StatCard(tile.count, tile.label, tile.symbol, tile.color, tile.emphasized, summaryContent_);
        card->setObjectName(QString::fromLatin1(tile.name));
        tiles->addWidget(card, 1);
    }
    // The files that are no clip's footage get one line of their own under the clip tiles.
    if (const QString line = ReportTexts::otherFilesLine(counts); !line.isEmpty()) {
        auto* others = new QLabel(line, tilesBox);
        others->setObjectName(QStringLiteral("report.otherFiles"));
        others->setTextFormat(Qt::PlainText);
        others->setWordWrap(true);
        if (counts.otherOnlyOnCard > 0) {
            QPalette palette = others->palette();
            palette.setColor(QPalette::WindowText, Style::bad());
            others->setPalette(palette);
        } else {
            Style::makeSecondary(others);
        }
        tilesColumn->addWidget(others);
        // The other files only on the card, by name with their folder: an erase would lose them.
        const auto onlyOnCard = shown_->otherFilesOnlyOnCard();
        if (!onlyOnCard.empty()) {
            QStringList places;
            for (const auto& file : onlyOnCard) {
                QString place = QString::fromStdString(shown_->placeOnCard(file.url));
                // Why it was not proven, when its search stopped at the bound on reading.
                if (const auto* unread = shown_->unreadOf(file.url))
                    place += QStringLiteral(" — ") + ReportTexts::unreadRowReason(*unread);
                places << place;
            }
            tilesColumn->addWidget(markedFileList(QStringLiteral("report.otherFilesList"), places, Style::bad(), tilesBox));
        }
    }
    // Drive files passed over for where they lie (an overlay, a disk image on the card): named,
    // so a clip they leave missing is explained.
    if (const QStringList lines = ReportTexts::uncountedLines(*shown_); !lines.isEmpty()) {
        tilesColumn->addWidget(
            colouredNote(QStringLiteral("report.uncounted"), ReportTexts::uncountedHeading(*shown_), Style::warn(), tilesBox));
        tilesColumn->addWidget(markedFileList(QStringLiteral("report.uncountedList"), lines, Style::warn(), tilesBox));
    }
    // Card files whose copies were not looked for among every drive file of their kind: how
    // to prove them (each row of the list says why it was not proven).
    if (const QString note = ReportTexts::unreadNote(*shown_); !note.isEmpty())
        tilesColumn->addWidget(colouredNote(QStringLiteral("report.unread"), note, Style::bad(), tilesBox));
    stack->addWidget(tilesBox);
    summaryLayout_->addWidget(summaryContent_);
}

void ReportView::exportReport(std::shared_ptr<const tessaline::VerificationReport> report, ReportExport::Format format) {
    if (!report) return;
    auto error = ReportExport::run(*report, format, dialogs_);
    if (!error) return;
    if (exportAlert_) exportAlert_->close();
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export Failed"), *error, QMessageBox::Ok, this);
    alert->setObjectName(QStringLiteral("report.exportAlert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    exportAlert_ = alert;
    alert->open();
}

void ReportView::preview(const QString& path) {
    if (path.isEmpty()) {
        previewController_->close();
        return;
    }
    if (!previewWindow_) {
        previewWindow_ = new PreviewWindow(*previewController_, this);
        previewWindow_->setWindowFlag(Qt::Window, true);
    }
    previewController_->show(path);
}

QWidget* makeReportView(MainWindow& window) {
    return new ReportView(window.models().scan(), window.models().missingSync(), window.models().erasedReports(),
                          window.services().dialogs,
                          window.services().revealer, ThumbnailService::shared());
}

}  // namespace brindlecove
