#include "BrindlecoveApp/Views/TransferOutcomeDelegate.hpp"

#include "BrindlecoveApp/ViewModels/TransferOutcomeListModel.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>

namespace brindlecove {

namespace {

constexpr int padding = 6;
constexpr int gap = 8;
constexpr int lineGap = 2;

QFont pathFont(const QFont& base) { return Style::font(Style::TextStyle::callout, base); }

QFont checksumFont(const QFont& base) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(Style::font(Style::TextStyle::caption, base).pointSizeF() * 0.95);
    return fixed;
}

QFont failureFont(const QFont& base) { return Style::font(Style::TextStyle::caption, base); }
QFont sizeFont(const QFont& base) { return Style::font(Style::TextStyle::caption, base); }

QColor markColor(TransferOutcomeListModel::Mark mark, const QWidget* widget) {
    switch (mark) {
        case TransferOutcomeListModel::Mark::failed: return Style::bad();
        case TransferOutcomeListModel::Mark::unverified: return Style::secondaryText(widget);
        case TransferOutcomeListModel::Mark::verified: return Style::good();
    }
    return Style::secondaryText(widget);
}

}  // namespace

TransferOutcomeDelegate::TransferOutcomeDelegate(QObject* parent) : WrappingToolTipDelegate(parent) {}

QSize TransferOutcomeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    int height = QFontMetrics(pathFont(option.font)).height() + lineGap + QFontMetrics(checksumFont(option.font)).height();
    if (failureLines_) height += lineGap + QFontMetrics(failureFont(option.font)).height();
    return QSize(200, height + 2 * padding);
}

void TransferOutcomeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    painter->save();
    const auto mark = static_cast<TransferOutcomeListModel::Mark>(index.data(TransferOutcomeListModel::markRole).toInt());
    const QRect area = option.rect.adjusted(padding, padding, -padding, -padding);
    const QFont pathF = pathFont(option.font);
    const int symbolSize = QFontMetrics(pathF).height();
    const QPixmap symbol = Symbols::pixmap(index.data(TransferOutcomeListModel::symbolRole).toString(), symbolSize,
                                           markColor(mark, widget));
    const int symbolTop = option.rect.top() + (option.rect.height() - symbolSize) / 2;
    painter->drawPixmap(QRect(area.left(), symbolTop, symbolSize, symbolSize), symbol);

    const QFont sizeF = sizeFont(option.font);
    const QString size = index.data(TransferOutcomeListModel::sizeRole).toString();
    const int sizeWidth = QFontMetrics(sizeF).horizontalAdvance(size);
    painter->setFont(sizeF);
    painter->setPen(Style::secondaryText(widget));
    painter->drawText(QRect(area.right() - sizeWidth, area.top(), sizeWidth, area.height()),
                      Style::oneLine(Qt::AlignRight), size);

    const int left = area.left() + symbolSize + gap;
    const int width = std::max(0, area.right() - sizeWidth - gap - left);
    int top = area.top();
    auto line = [&](const QFont& font, const QColor& color, const QString& text) {
        const QFontMetrics metrics(font);
        painter->setFont(font);
        painter->setPen(color);
        painter->drawText(QRect(left, top, width, metrics.height()), Style::oneLine(Qt::AlignLeft),
                          metrics.elidedText(text, Qt::ElideMiddle, width));
        top += metrics.height() + lineGap;
    };
    const QColor text = (option.state & QStyle::State_Selected) ? option.palette.color(QPalette::HighlightedText)
                                                                 : option.palette.color(QPalette::Text);
    line(pathF, text, index.data(TransferOutcomeListModel::pathRole).toString());
    line(checksumFont(option.font), Style::secondaryText(widget), index.data(TransferOutcomeListModel::checksumRole).toString());
    const QString failure = index.data(TransferOutcomeListModel::failureRole).toString();
    if (!failure.isEmpty()) line(failureFont(option.font), Style::bad(), failure);
    painter->restore();
}

}  // namespace brindlecove
