#pragma once
// Paints one row of the report's file list from the model's precomputed texts: status
// symbol, thumbnail (or the file-type icon while there is none), names, status line, date
// and size; missing clips on a red tint. Painting a row asks the thumbnail service for its
// picture, so only rows that are shown are ever requested. Main thread.

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include "BrindlecoveApp/Views/WrappingToolTipDelegate.hpp"

namespace brindlecove {

class ThumbnailService;

class FileRowDelegate : public WrappingToolTipDelegate {
    Q_OBJECT
public:
    FileRowDelegate(ThumbnailService& thumbnails, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The placeholder icon of a file's type, by its extension only (nothing is read).
    static QIcon fileTypeIcon(const QString& path);

private:
    QPixmap symbol(const QString& name, int size, const QColor& color) const;

    ThumbnailService& thumbnails_;
    mutable QHash<QString, QPixmap> symbols_;
};

}  // namespace brindlecove
