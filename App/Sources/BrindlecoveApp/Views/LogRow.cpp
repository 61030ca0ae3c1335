#include "BrindlecoveApp/Views/LogRow.hpp"

#include "BrindlecoveApp/Views/CapsuleLabel.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

QColor blue() { return QColor(0x1f, 0x6f, 0xeb); }

QFont styled(const QFont& base, Style::TextStyle style, QFont::Weight weight = QFont::Normal) {
    QFont f = Style::font(style, base);
    f.setWeight(weight);
    return f;
}

// Both text roles: inside the list's viewport (a Base background) labels draw with Text.
void colour(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    widget->setPalette(p);
}

QLabel* textLabel(const QString& text, const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setObjectName(name);
    return label;
}

// The 38-point circle in the kind's colour at 15 % with the kind's symbol.
QPixmap badge(const QString& symbol, const QColor& color, qreal ratio) {
    const int size = 38;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::withAlpha(color, 0.15));
    painter.drawEllipse(QRectF(0, 0, size, size));
    painter.drawPixmap(QRect(10, 10, 18, 18), Symbols::pixmap(symbol, 18, color));
    return pixmap;
}

}  // namespace

QColor LogRow::iconColor(const tessaline::ArchivedLog& log) {
    if (log.kind == tessaline::LogKind::transfer) return log.hasProblem ? Style::bad() : Style::good();
    return log.hasProblem ? Style::warn() : blue();
}

QString LogRow::timeText(const tessaline::ArchivedLog& log) {
    QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(log.date * 1000.0)).toLocalTime();
    return QLocale().toString(when.time(), QLocale::ShortFormat);
}

LogRow::LogRow(const tessaline::ArchivedLog& log, bool showJobTag, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("logs.row"));
    setProperty("logId", QString::fromStdString(log.id));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const bool copy = log.kind == tessaline::LogKind::transfer;
    const QColor tint = iconColor(log);
    setProperty("iconColor", tint);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 8, 4);
    row->setSpacing(12);

    const QString symbol = copy ? QStringLiteral("doc.on.doc.fill") : QStringLiteral("magnifyingglass");
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("row.icon"));
    icon->setFixedSize(38, 38);
    icon->setPixmap(badge(symbol, tint, devicePixelRatioF()));
    Symbols::tag(icon, symbol);
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* first = new QHBoxLayout;
    first->setSpacing(6);
    auto* tag = new CapsuleLabel(copy ? QStringLiteral("COPY") : QStringLiteral("SCAN"), Style::withAlpha(tint, 0.15),
                                 tint, this);
    tag->setObjectName(QStringLiteral("row.tag"));
    first->addWidget(tag);
    auto* subtitle = textLabel(QString::fromStdString(log.subtitle), QStringLiteral("row.subtitle"), this);
    subtitle->setFont(styled(font(), Style::TextStyle::callout, QFont::Medium));
    first->addWidget(subtitle, 1);
    text->addLayout(first);

    auto* second = new QHBoxLayout;
    second->setSpacing(6);
    auto* summary = textLabel(QString::fromStdString(log.summary), QStringLiteral("row.summary"), this);
    summary->setFont(Style::font(Style::TextStyle::caption, font()));
    Style::makeSecondary(summary);
    second->addWidget(summary);
    if (showJobTag && log.project) {
        auto* job = textLabel(QString::fromStdString(*log.project), QStringLiteral("row.job"), this);
        job->setFont(styled(font(), Style::TextStyle::caption2));
        colour(job, Style::accent(this));
        auto* jobIcon = new QLabel(this);
        jobIcon->setPixmap(Symbols::pixmap(QStringLiteral("folder.fill"), 11, Style::accent(this)));
        Symbols::tag(job, QStringLiteral("folder.fill"));
        second->addWidget(jobIcon);
        second->addWidget(job);
    }
    second->addStretch(1);
    text->addLayout(second);
    row->addLayout(text, 1);

    auto* trailing = new QVBoxLayout;
    trailing->setSpacing(2);
    auto* time = textLabel(timeText(log), QStringLiteral("row.time"), this);
    time->setFont(Style::font(Style::TextStyle::caption, font()));
    Style::makeSecondary(time);
    time->setAlignment(Qt::AlignRight);
    trailing->addWidget(time, 0, Qt::AlignRight);
    auto* status = new QLabel(this);
    status->setObjectName(QStringLiteral("row.status"));
    if (!log.hasProblem) {
        status->setPixmap(Symbols::pixmap(QStringLiteral("checkmark.circle.fill"), 13, Style::good()));
        Symbols::tag(status, QStringLiteral("checkmark.circle.fill"));
    } else {
        status->setText(copy ? QStringLiteral("failed") : QStringLiteral("missing"));
        status->setFont(styled(font(), Style::TextStyle::caption2, QFont::DemiBold));
        colour(status, Style::bad());
    }
    trailing->addWidget(status, 0, Qt::AlignRight);
    row->addLayout(trailing);

    auto* chevron = new QLabel(this);
    chevron->setPixmap(Symbols::pixmap(QStringLiteral("chevron.right"), 10, Style::withAlpha(palette().color(QPalette::WindowText), 0.3)));
    Symbols::tag(chevron, QStringLiteral("chevron.right"));
    row->addWidget(chevron, 0, Qt::AlignVCenter);
}

}  // namespace brindlecove
