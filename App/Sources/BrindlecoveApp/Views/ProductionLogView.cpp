#include "BrindlecoveApp/Views/ProductionLogView.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"
#include "BrindlecoveApp/ViewModels/TransferOutcomeListModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/EmptyStateView.hpp"
#include "BrindlecoveApp/Views/ExportButton.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ProportionBar.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/TransferOutcomeDelegate.hpp"

#include <QAction>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace brindlecove {

using Artifact = TransferLogFiles::Artifact;
using tessaline::TransferLog;

namespace {

// Takes a replaced display out of the section at once and deletes it later.
void retire(QWidget* widget) {
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

QColor gray() { return QColor(0x8e, 0x8e, 0x93); }
QColor blue() { return QColor(0x0a, 0x84, 0xff); }

}  // namespace

ProductionLogView::ProductionLogView(LatestTransfer& model, Dialogs dialogs, TransferLogFiles files, QWidget* parent)
    : QWidget(parent),
      model_(model),
      dialogs_(std::move(dialogs)),
      files_(std::move(files)),
      coalescer_(this, [this] { render(); }) {
    setObjectName(QStringLiteral("productionLog"));
    ScreenHeader* header =
        ScreenHeader::install(this, QStringLiteral("Production Log"), QStringLiteral("productionLog.title"));
    export_ = makeExportButton(QStringLiteral("productionLog.export"), this);
    QMenu* menu = export_->menu();
    auto addEntry = [&](const QString& name, const QString& text, std::optional<Artifact> artifact) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        // The log is taken when the entry fires, before the panel's nested event loop runs.
        connect(action, &QAction::triggered, this, [this, artifact] {
            auto log = shown_;
            if (!log) return;
            if (artifact) exportOne(std::move(log), *artifact);
            else exportAll(std::move(log));
        });
    };
    addEntry(QStringLiteral("productionLog.export.mhl"), QStringLiteral("ASC-MHL (.mhl)…"), Artifact::mhl);
    addEntry(QStringLiteral("productionLog.export.pdf"), QStringLiteral("Production Log (PDF)…"), Artifact::pdf);
    addEntry(QStringLiteral("productionLog.export.csv"), QStringLiteral("CSV…"), Artifact::csv);
    addEntry(QStringLiteral("productionLog.export.json"), QStringLiteral("JSON…"), Artifact::json);
    menu->addSeparator();
    addEntry(QStringLiteral("productionLog.export.all"), QStringLiteral("All four (choose folder)…"), std::nullopt);
    header->setTrailing(export_);
    QVBoxLayout* outer = header->addBody();

    pages_ = new QStackedWidget(this);
    outer->addWidget(pages_, 1);
    empty_ = new EmptyStateView(QStringLiteral("doc.badge.gearshape"), QStringLiteral("No Transfer Yet"),
                                QStringLiteral("Run a verified copy from the Copy tab to produce a production log."));
    pages_->addWidget(empty_);

    logPage_ = new QWidget;
    logPage_->setObjectName(QStringLiteral("productionLog.log"));
    auto* column = new QVBoxLayout(logPage_);
    column->setContentsMargins(0, 0, 0, 0);
    auto* summaryHeader = new QLabel(QStringLiteral("Transfer Summary"), logPage_);
    summaryHeader->setObjectName(QStringLiteral("productionLog.summaryHeader"));
    QFont headerFont = Style::font(Style::TextStyle::title3, summaryHeader->font());
    headerFont.setBold(true);
    summaryHeader->setFont(headerFont);
    column->addWidget(summaryHeader);
    auto* summary = new QWidget(logPage_);
    summary->setObjectName(QStringLiteral("productionLog.summary"));
    summary_ = new QVBoxLayout(summary);
    summary_->setContentsMargins(0, 4, 0, 4);
    summary_->setSpacing(14);
    bar_ = new ProportionBar({}, summary);
    bar_->setObjectName(QStringLiteral("productionLog.bar"));
    summary_->addWidget(bar_);
    column->addWidget(summary);

    filesHeader_ = new QLabel(logPage_);
    filesHeader_->setObjectName(QStringLiteral("productionLog.filesHeader"));
    filesHeader_->setFont(headerFont);
    column->addWidget(filesHeader_);
    rows_ = new TransferOutcomeListModel(this);
    delegate_ = new TransferOutcomeDelegate(this);
    list_ = new QListView(logPage_);
    list_->setObjectName(QStringLiteral("productionLog.files"));
    list_->setModel(rows_);
    list_->setItemDelegate(delegate_);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    column->addWidget(list_, 1);
    pages_->addWidget(logPage_);

    connect(&model_, &LatestTransfer::lastLogChanged, this, [this] { coalescer_.schedule(); });
    render();
}

void ProductionLogView::render() {
    auto log = model_.lastLog();
    export_->setVisible(log != nullptr);
    pages_->setCurrentWidget(log ? logPage_ : empty_);
    if (log != shown_) showLog(log);
}

void ProductionLogView::showLog(const std::shared_ptr<const TransferLog>& log) {
    shown_ = log;
    if (!log) {
        rows_->setLog(nullptr);
        return;
    }
    // The banner and the tiles are plain displays with fixed contents: made afresh for each
    // log (never while one of them handles an event of its own).
    const auto text = TransferTexts::banner(*log);
    auto* banner = new ResultBanner(ResultBanner::toneOf(text.tone), text.title, text.subtitle);
    banner->setObjectName(QStringLiteral("productionLog.banner"));
    if (banner_) {
        summary_->replaceWidget(banner_, banner);
        retire(banner_);
    } else {
        summary_->insertWidget(0, banner);
    }
    banner_ = banner;

    bar_->setSegments({{QUuid::createUuid(), log->verifiedCount(), Style::good()},
                       {QUuid::createUuid(), log->skippedCount(), blue()},
                       {QUuid::createUuid(), log->unverifiedCount(), gray()},
                       {QUuid::createUuid(), log->failedCount(), Style::bad()}});

    auto* tiles = new QWidget;
    tiles->setObjectName(QStringLiteral("productionLog.tiles"));
    auto* row = new QHBoxLayout(tiles);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* verified = new StatCard(log->verifiedCount(), QStringLiteral("Verified"), QStringLiteral("checkmark.seal.fill"),
                                  Style::good(), true, tiles);
    verified->setObjectName(QStringLiteral("productionLog.tile.verified"));
    auto* present = new StatCard(log->skippedCount(), QStringLiteral("Present"), QStringLiteral("checkmark.circle"),
                                 blue(), false, tiles);
    present->setObjectName(QStringLiteral("productionLog.tile.present"));
    auto* failed = new StatCard(log->failedCount(), QStringLiteral("Failed"), QStringLiteral("xmark.octagon.fill"),
                                Style::bad(), true, tiles);
    failed->setObjectName(QStringLiteral("productionLog.tile.failed"));
    row->addWidget(verified);
    row->addWidget(present);
    row->addWidget(failed);
    if (tiles_) {
        summary_->replaceWidget(tiles_, tiles);
        retire(tiles_);
    } else {
        summary_->addWidget(tiles);
    }
    tiles_ = tiles;

    filesHeader_->setText(QStringLiteral("Files (%1)").arg(Formats::groupedInteger(log->fileCount())));
    delegate_->setFailureLines(log->failedCount() > 0);
    rows_->setLog(log);
}

void ProductionLogView::exportOne(std::shared_ptr<const TransferLog> log, Artifact artifact) {
    if (!log || !dialogs_.saveFile) return;
    auto path = dialogs_.saveFile(
        SaveRequest{QStringLiteral("Brindlecove Transfer Log.") + TransferLogFiles::extension(artifact), QStringLiteral("Export"), QString()});
    if (!path || path->isEmpty()) return;
    try {
        files_.write(artifact, *log, *path);
    } catch (const std::exception& error) {
        showExportError(QString::fromStdString(error.what()));
    }
}

void ProductionLogView::exportAll(std::shared_ptr<const TransferLog> log) {
    if (!log || !dialogs_.chooseFolder) return;
    auto folder = dialogs_.chooseFolder(FolderRequest{QStringLiteral("Export Here"), QString(), true, QString()});
    if (!folder || folder->isEmpty()) return;
    const QString stem = QStringLiteral("Brindlecove-transfer-log");
    // Files of an earlier export (another card's log, often) are replaced only when the user
    // says so; without an answer nothing is written.
    const QStringList existing = TransferLogFiles::existingNames(*folder, stem);
    if (!existing.isEmpty()) {
        const QString where = QDir::toNativeSeparators(*folder);
        const bool replace =
            dialogs_.confirm &&
            dialogs_.confirm(Confirmation{QStringLiteral("Replace %1 in %2?").arg(existing.join(QStringLiteral(", ")), where),
                                          QStringLiteral("The folder already holds these files. Replacing them "
                                                         "overwrites the earlier export."),
                                          QStringLiteral("Replace"), true, false});
        if (!replace) return;
    }
    try {
        files_.writeAll(*log, *folder, stem);
    } catch (const std::exception& error) {
        showExportError(QString::fromStdString(error.what()));
    }
}

void ProductionLogView::showExportError(const QString& message) {
    exportError_ = message;
    // One alert at a time: a newer failure replaces the text of the one shown.
    if (!alert_) {
        alert_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export Failed"), QString(), QMessageBox::Ok, this);
        alert_->setObjectName(QStringLiteral("productionLog.exportFailed"));
        alert_->setWindowModality(Qt::WindowModal);
        alert_->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert_, &QMessageBox::finished, this, [this] { exportError_.reset(); });
    }
    alert_->setText(QStringLiteral("Export Failed"));
    alert_->setInformativeText(message);
    alert_->open();
}

QWidget* makeProductionLogView(MainWindow& window) {
    return new ProductionLogView(window.models().latestTransfer(), window.services().dialogs);
}

}  // namespace brindlecove
