#include "BrindlecoveApp/Views/FileRowDelegate.hpp"

#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace brindlecove {

namespace {

constexpr int thumbWidth = 56;
constexpr int thumbHeight = 40;
constexpr int spacing = 10;
constexpr int statusSize = 18;

struct StatusLook {
    const char* symbol;
    QColor color;
};

StatusLook lookOf(ReportRow::Status status) {
    switch (status) {
        case ReportRow::Status::confirmed: return {"checkmark.circle.fill", Style::good()};
        case ReportRow::Status::nameMismatch: return {"questionmark.circle.fill", Style::warn()};
        case ReportRow::Status::duplicate: return {"checkmark.circle.badge.questionmark", Style::good()};
        case ReportRow::Status::missing: break;
    }
    return {"xmark.circle.fill", Style::bad()};
}

}  // namespace

FileRowDelegate::FileRowDelegate(ThumbnailService& thumbnails, QObject* parent)
    : WrappingToolTipDelegate(parent), thumbnails_(thumbnails) {}

QIcon FileRowDelegate::fileTypeIcon(const QString& path) {
    static QHash<QString, QIcon> byExtension;
    const QString extension = QFileInfo(path).suffix().toLower();
    auto found = byExtension.constFind(extension);
    if (found != byExtension.constEnd()) return *found;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    byExtension.insert(extension, icon);
    return icon;
}

QPixmap FileRowDelegate::symbol(const QString& name, int size, const QColor& color) const {
    const QString key = name + u'|' + QString::number(size) + u'|' + color.name(QColor::HexArgb);
    auto found = symbols_.constFind(key);
    if (found != symbols_.constEnd()) return *found;
    QPixmap pixmap = Symbols::pixmap(name, size, color);
    symbols_.insert(key, pixmap);
    return pixmap;
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics body(option.font);
    const QFontMetrics caption(Style::font(Style::TextStyle::caption, option.font));
    const int text = body.height() + 2 * caption.height() + 4;
    return {200, std::max(thumbHeight, text) + 4 + 8};
}

void FileRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* model = qobject_cast<const ReportFileListModel*>(index.model());
    if (!model) return;
    const ReportRow& row = model->row(index.row());
    const bool missing = row.status == ReportRow::Status::missing;
    const QWidget* widget = option.widget;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (missing) painter->fillRect(option.rect, Style::withAlpha(Style::bad(), 0.14));
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, Style::withAlpha(option.palette.color(QPalette::Highlight), 0.25));

    QRect area = option.rect.adjusted(8, 4, -8, -4);
    int x = area.left();
    const int middle = area.center().y();

    const StatusLook look = lookOf(row.status);
    painter->drawPixmap(QPoint(x, middle - statusSize / 2), symbol(QString::fromLatin1(look.symbol), statusSize, look.color));
    x += statusSize + spacing;

    if (!row.firstFilePath.isEmpty()) {
        const QRectF frame(x, middle - thumbHeight / 2, thumbWidth, thumbHeight);
        QPainterPath rounded;
        rounded.addRoundedRect(frame, 5, 5);
        std::optional<QImage> picture = thumbnails_.thumbnail(row.firstFilePath, row.firstFileBytes);
        painter->save();
        painter->setClipPath(rounded);
        if (picture && !picture->isNull()) {
            QSizeF scaled = QSizeF(picture->size()).scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
            QRectF target(QPointF(0, 0), scaled);
            target.moveCenter(frame.center());
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(target, *picture);
        } else {
            const QRect inset = frame.toRect().adjusted(5, 5, -5, -5);
            fileTypeIcon(row.firstFilePath).paint(painter, inset, Qt::AlignCenter);
        }
        painter->restore();
        painter->setPen(QPen(Style::withAlpha(option.palette.color(QPalette::Text), 0.18), 0.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(rounded);
        if (row.isVideo) {
            const int badge = 13;
            const QPoint corner(static_cast<int>(frame.left()) + 2, static_cast<int>(frame.bottom()) - badge - 2);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(0, 0, 0, 140));
            painter->drawEllipse(QRect(corner, QSize(badge, badge)));
            painter->drawPixmap(corner, symbol(QStringLiteral("play.circle.fill"), badge, Qt::white));
        }
        x += thumbWidth + spacing;
    }

    QFont nameFont = option.font;
    if (missing) nameFont.setBold(true);
    else nameFont.setWeight(QFont::Medium);
    const QFont captionFont = Style::font(Style::TextStyle::caption, option.font);
    QFont caption2Font = captionFont;
    caption2Font.setPointSizeF(option.font.pointSizeF() * 0.77);
    const QColor secondary = Style::secondaryText(widget);
    const QColor primary = option.palette.color(QPalette::Text);

    // Right column: date (when known) and size.
    const QFontMetrics captionMetrics(captionFont);
    const int rightWidth =
        std::max(captionMetrics.horizontalAdvance(row.dateText), captionMetrics.horizontalAdvance(row.sizeText));
    const QRect right(area.right() - rightWidth, area.top(), rightWidth, area.height());
    painter->setFont(captionFont);
    painter->setPen(secondary);
    const int rightLines = row.dateText.isEmpty() ? 1 : 2;
    int ry = middle - (rightLines * captionMetrics.height() + (rightLines - 1) * 2) / 2;
    if (!row.dateText.isEmpty()) {
        painter->drawText(QRect(right.left(), ry, rightWidth, captionMetrics.height()), Style::oneLine(Qt::AlignRight),
                          row.dateText);
        ry += captionMetrics.height() + 2;
    }
    painter->drawText(QRect(right.left(), ry, rightWidth, captionMetrics.height()), Style::oneLine(Qt::AlignRight),
                      row.sizeText);

    // Middle column: name, other names, status line.
    const int textWidth = std::max(10, right.left() - spacing - x);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics caption2Metrics(caption2Font);
    int lines = nameMetrics.height() + 2 + captionMetrics.height();
    if (!row.extraNames.isEmpty()) lines += caption2Metrics.height() + 2;
    int y = middle - lines / 2;
    painter->setFont(nameFont);
    painter->setPen(missing ? Style::bad() : primary);
    painter->drawText(QRect(x, y, textWidth, nameMetrics.height()), Style::oneLine(Qt::AlignLeft),
                      nameMetrics.elidedText(row.name, Qt::ElideMiddle, textWidth));
    y += nameMetrics.height() + 2;
    if (!row.extraNames.isEmpty()) {
        painter->setFont(caption2Font);
        painter->setPen(secondary);
        painter->drawText(QRect(x, y, textWidth, caption2Metrics.height()), Style::oneLine(Qt::AlignLeft),
                          caption2Metrics.elidedText(row.extraNames, Qt::ElideRight, textWidth));
        y += caption2Metrics.height() + 2;
    }
    painter->setFont(captionFont);
    painter->setPen(missing ? Style::withAlpha(Style::bad(), 0.85) : secondary);
    // A path is cut in its middle, keeping its folder's name; a missing clip's line begins with
    // the files that have no proven copy, which stay.
    painter->drawText(QRect(x, y, textWidth, captionMetrics.height()), Style::oneLine(Qt::AlignLeft),
                      captionMetrics.elidedText(row.statusLine, missing ? Qt::ElideRight : Qt::ElideMiddle, textWidth));
    painter->restore();
}

}  // namespace brindlecove
