#include "BrindlecoveApp/Views/ReportFileList.hpp"

#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

QWidget* legend(const QString& text, const QString& symbolName, const QColor& color, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* icon = new QLabel(box);
    const QFont caption = Style::font(Style::TextStyle::caption, parent->font());
    icon->setPixmap(Symbols::pixmap(symbolName, QFontMetrics(caption).height(), color));
    Symbols::tag(icon, symbolName);
    layout->addWidget(icon);
    auto* label = new QLabel(text, box);
    label->setFont(caption);
    layout->addWidget(label);
    return box;
}

}  // namespace

QString ReportFileList::footerText() {
    return QStringLiteral(
        "Click any file to preview it — video plays right here (MP4/MOV and other supported formats); use ← → to step "
        "through. Cinema-raw formats like R3D/ARRIRAW show file info instead (this computer can't decode them without "
        "the maker's software).");
}

ReportFileList::ReportFileList(FileRevealer revealer, ThumbnailService& thumbnails, QWidget* parent)
    : QWidget(parent), revealer_(std::move(revealer)) {
    setObjectName(QStringLiteral("report.fileList"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("All Files (A–Z)"), this);
    title->setObjectName(QStringLiteral("fileList.title"));
    title->setFont(Style::font(Style::TextStyle::title3, font()));
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(legend(QStringLiteral("synced"), QStringLiteral("checkmark.circle.fill"), Style::good(), this));
    header->addWidget(
        legend(QStringLiteral("still only on card"), QStringLiteral("xmark.circle.fill"), Style::bad(), this));
    layout->addLayout(header);

    model_ = new ReportFileListModel(this);
    delegate_ = new FileRowDelegate(thumbnails, this);
    view_ = new QListView(this);
    view_->setObjectName(QStringLiteral("fileList.view"));
    view_->setModel(model_);
    view_->setItemDelegate(delegate_);
    view_->setUniformItemSizes(true);
    // Every row has the same height: a grid of that height spares the view asking the
    // delegate per row when it lays out a report of 100,000 clips.
    QStyleOptionViewItem option;
    option.initFrom(view_);
    const int rowHeight = delegate_->sizeHint(option, QModelIndex()).height();
    view_->setGridSize(QSize(1, rowHeight));
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    // A few whole rows at the least; the section scrolls when the window is smaller.
    view_->setMinimumHeight(minimumRows * rowHeight + 2 * view_->frameWidth());
    layout->addWidget(view_, 1);

    auto* footer = new QLabel(footerText(), this);
    footer->setObjectName(QStringLiteral("fileList.footer"));
    footer->setWordWrap(true);
    QFont caption2 = font();
    caption2.setPointSizeF(font().pointSizeF() * 0.77);
    footer->setFont(caption2);
    Style::makeSecondary(footer);
    layout->addWidget(footer);

    connect(view_, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) Q_EMIT previewRequested(model_->row(index.row()).firstFilePath);
    });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QModelIndex index = view_->indexAt(pos);
        if (!index.isValid()) return;
        makeContextMenu(index)->popup(view_->viewport()->mapToGlobal(pos));
    });
    connect(&thumbnails, &ThumbnailService::thumbnailReady, view_->viewport(), [this] { view_->viewport()->update(); });
}

void ReportFileList::setReport(std::shared_ptr<const tessaline::VerificationReport> report) {
    model_->setReport(std::move(report));
}

QMenu* ReportFileList::makeContextMenu(const QModelIndex& index) {
    auto* menu = new QMenu(view_);
    menu->setObjectName(QStringLiteral("fileList.menu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The row's file is captured now: a new report may replace the rows while the menu is open.
    const QString path = index.isValid() ? model_->row(index.row()).firstFilePath : QString();
    QAction* preview = menu->addAction(Symbols::icon(QStringLiteral("eye")), QStringLiteral("Preview"));
    preview->setObjectName(QStringLiteral("fileList.preview"));
    connect(preview, &QAction::triggered, this, [this, path] { Q_EMIT previewRequested(path); });
    QAction* reveal = menu->addAction(Symbols::icon(QStringLiteral("folder")), QStringLiteral("Show in File Manager"));
    reveal->setObjectName(QStringLiteral("fileList.reveal"));
    connect(reveal, &QAction::triggered, this, [this, path] { this->reveal(path); });
    return menu;
}

void ReportFileList::reveal(const QString& path) const {
    if (path.isEmpty() || !revealer_.reveal) return;
    revealer_.reveal(path, {});
}

}  // namespace brindlecove
