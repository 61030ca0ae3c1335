#include "BrindlecoveApp/Views/LogRowDelegate.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include "BrindlecoveApp/ViewModels/LogsModel.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QApplication>
#include <QPainter>
#include <QTreeWidgetItem>

namespace brindlecove {

namespace {

constexpr int iconSize = 38;
constexpr int padding = 4;   // above and below
constexpr int spacing = 12;  // between the row's parts

QColor blue() { return QColor(0x1f, 0x6f, 0xeb); }

QFont styled(const QFont& base, Style::TextStyle style, QFont::Weight weight = QFont::Normal) {
    QFont f = Style::font(style, base);
    f.setWeight(weight);
    return f;
}

struct Fonts {
    QFont subtitle, caption, caption2, tag;
    explicit Fonts(const QFont& base)
        : subtitle(styled(base, Style::TextStyle::callout, QFont::Medium)),
          caption(styled(base, Style::TextStyle::caption)),
          caption2(styled(base, Style::TextStyle::caption2)),
          tag(styled(base, Style::TextStyle::caption2, QFont::DemiBold)) {}
};

// A copy that the user stopped and in which no file failed: it needs finishing, but nothing
// went wrong.
bool stoppedCleanly(const tessaline::ArchivedLog& log) {
    if (log.kind != tessaline::LogKind::transfer || !log.wasStopped) return false;
    const auto failed = log.counts.find("failed");
    return failed == log.counts.end() || failed->second == 0;
}

// A finished copy in which no file failed but files of the card were left without a proven
// copy (changed or added on the card during the copy): not a failure, and not safe either.
bool onlyNotProven(const tessaline::ArchivedLog& log) {
    auto count = [&](const char* key) {
        auto it = log.counts.find(key);
        return it == log.counts.end() ? int64_t(0) : it->second;
    };
    return log.kind == tessaline::LogKind::transfer && count("failed") == 0 && count("notProvenOnCard") > 0;
}

}  // namespace

QColor LogRowDelegate::iconColor(const tessaline::ArchivedLog& log) {
    if (log.kind == tessaline::LogKind::transfer)
        return !log.hasProblem ? Style::good() : stoppedCleanly(log) ? Style::warn() : Style::bad();
    return log.hasProblem ? Style::warn() : blue();
}

QString LogRowDelegate::problemWord(const tessaline::ArchivedLog& log) {
    if (!log.hasProblem) return {};
    if (log.kind != tessaline::LogKind::transfer) return QStringLiteral("missing");
    if (stoppedCleanly(log)) return QStringLiteral("stopped");
    return onlyNotProven(log) ? QStringLiteral("not proven") : QStringLiteral("failed");
}

QColor LogRowDelegate::problemWordColor(const tessaline::ArchivedLog& log) {
    return stoppedCleanly(log) ? Style::warn() : Style::bad();
}

void LogRowDelegate::describe(QTreeWidgetItem* item, const tessaline::ArchivedLog& log, bool showJobTag) {
    const bool copy = log.kind == tessaline::LogKind::transfer;
    item->setText(0, QString::fromStdString(log.subtitle));
    item->setData(0, logId, QString::fromStdString(log.id));
    item->setData(0, tag, copy ? QStringLiteral("COPY") : QStringLiteral("SCAN"));
    item->setData(0, iconSymbol, copy ? QStringLiteral("doc.on.doc.fill") : QStringLiteral("magnifyingglass"));
    item->setData(0, color, iconColor(log));
    item->setData(0, summary, LogsModel::summaryText(log));
    item->setData(0, job, showJobTag && log.project ? QString::fromStdString(*log.project) : QString());
    item->setData(0, time, LogsModel::timeText(log));
    item->setData(0, problem, problemWord(log));
    item->setData(0, problemColor, problemWordColor(log));
    item->setToolTip(0, QString::fromStdString(log.subtitle));
}

const QPixmap& LogRowDelegate::symbol(const QString& name, int size, const QColor& tint, qreal ratio) const {
    QString key = name + QLatin1Char('/') + QString::number(size) + QLatin1Char('/') + tint.name(QColor::HexArgb) +
                  QLatin1Char('/') + QString::number(ratio);
    auto it = symbols_.find(key);
    if (it == symbols_.end()) it = symbols_.insert(key, Symbols::pixmap(name, size, tint));
    return *it;
}

QSize LogRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.data(logId).isValid()) return QStyledItemDelegate::sizeHint(option, index);
    Fonts fonts(option.font);
    int text = QFontMetrics(fonts.subtitle).height() + 2 + QFontMetrics(fonts.caption).height();
    return {200, std::max(iconSize, text) + 2 * padding};
}

void LogRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.data(logId).isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget* widget = option.widget;
    const qreal ratio = widget ? widget->devicePixelRatioF() : qApp->devicePixelRatio();
    const QColor tint = index.data(color).value<QColor>();
    const QColor text = option.palette.color(QPalette::Text);
    const QColor secondary = Style::withAlpha(text, 0.55);
    const QColor accent = option.palette.color(QPalette::Highlight);
    Fonts fonts(option.font);
    const QFontMetrics subtitleMetrics(fonts.subtitle), captionMetrics(fonts.caption), caption2Metrics(fonts.caption2),
        tagMetrics(fonts.tag);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_MouseOver) painter->fillRect(option.rect, Style::withAlpha(text, 0.04));
    QRect r = option.rect.adjusted(6, padding, -8, -padding);

    // The kind's circle and symbol.
    QRect circle(r.left(), r.center().y() - iconSize / 2, iconSize, iconSize);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Style::withAlpha(tint, 0.15));
    painter->drawEllipse(circle);
    painter->drawPixmap(QRect(circle.center() - QPoint(8, 8), QSize(18, 18)),
                        symbol(index.data(iconSymbol).toString(), 18, tint, ratio));

    // The chevron and the trailing time and verdict.
    QRect chevron(r.right() - 10, r.center().y() - 5, 10, 10);
    painter->drawPixmap(chevron, symbol(QStringLiteral("chevron.right"), 10, Style::withAlpha(text, 0.3), ratio));
    const QString timeText = index.data(time).toString();
    const QString problemText = index.data(problem).toString();
    int trailingWidth = std::max(captionMetrics.horizontalAdvance(timeText),
                                 problemText.isEmpty() ? 13 : tagMetrics.horizontalAdvance(problemText));
    int trailingRight = chevron.left() - spacing;
    int lineTop = r.center().y() - (subtitleMetrics.height() + 2 + captionMetrics.height()) / 2;
    painter->setFont(fonts.caption);
    painter->setPen(secondary);
    painter->drawText(QRect(trailingRight - trailingWidth, lineTop, trailingWidth, captionMetrics.height()),
                      Style::oneLine(Qt::AlignRight), timeText);
    int secondTop = lineTop + subtitleMetrics.height() + 2;
    if (problemText.isEmpty()) {
        painter->drawPixmap(QRect(trailingRight - 13, secondTop + (captionMetrics.height() - 13) / 2, 13, 13),
                            symbol(QStringLiteral("checkmark.circle.fill"), 13, Style::good(), ratio));
    } else {
        painter->setFont(fonts.tag);
        painter->setPen(index.data(problemColor).value<QColor>());
        painter->drawText(QRect(trailingRight - trailingWidth, secondTop, trailingWidth, captionMetrics.height()),
                          Style::oneLine(Qt::AlignRight), problemText);
    }

    // The tag capsule and the subtitle.
    int left = circle.right() + 1 + spacing;
    int right = trailingRight - trailingWidth - spacing;
    const QString tagText = index.data(tag).toString();
    QRect capsule(left, lineTop + (subtitleMetrics.height() - tagMetrics.height() - 2) / 2,
                  tagMetrics.horizontalAdvance(tagText) + 12, tagMetrics.height() + 2);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Style::withAlpha(tint, 0.15));
    painter->drawRoundedRect(capsule, capsule.height() / 2.0, capsule.height() / 2.0);
    painter->setFont(fonts.tag);
    painter->setPen(tint);
    painter->drawText(capsule, Qt::AlignCenter, tagText);
    int subtitleLeft = capsule.right() + 1 + 6;
    painter->setFont(fonts.subtitle);
    painter->setPen(text);
    painter->drawText(QRect(subtitleLeft, lineTop, std::max(0, right - subtitleLeft), subtitleMetrics.height()),
                      Style::oneLine(Qt::AlignLeft),
                      subtitleMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                 std::max(0, right - subtitleLeft)));

    // The summary, then the job with its folder.
    const QString jobText = index.data(job).toString();
    int jobWidth = jobText.isEmpty() ? 0 : 11 + 3 + caption2Metrics.horizontalAdvance(jobText);
    const QString summaryText = captionMetrics.elidedText(index.data(summary).toString(), Qt::ElideRight,
                                                          std::max(0, right - left - (jobWidth ? jobWidth + 6 : 0)));
    painter->setFont(fonts.caption);
    painter->setPen(secondary);
    painter->drawText(QRect(left, secondTop, std::max(0, right - left), captionMetrics.height()),
                      Style::oneLine(Qt::AlignLeft), summaryText);
    if (!jobText.isEmpty()) {
        int x = left + captionMetrics.horizontalAdvance(summaryText) + 6;
        int width = std::max(0, right - x - 14);
        painter->drawPixmap(QRect(x, secondTop + (captionMetrics.height() - 11) / 2, 11, 11),
                            symbol(QStringLiteral("folder.fill"), 11, accent, ratio));
        painter->setFont(fonts.caption2);
        painter->setPen(accent);
        painter->drawText(QRect(x + 14, secondTop, width, captionMetrics.height()), Style::oneLine(Qt::AlignLeft),
                          caption2Metrics.elidedText(jobText, Qt::ElideRight, width));
    }
    painter->restore();
}

}  // namespace brindlecove
