#include "BrindlecoveApp/Views/TrendChart.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace brindlecove {

TrendChart::TrendChart(const QColor& color, const QString& valueTitle, QWidget* parent) : QWidget(parent) {
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    // Axis margins would otherwise swallow most of a 60 px chart.
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    chart->setBackgroundVisible(false);

    line_ = new QLineSeries;
    QPen pen(color);
    pen.setWidthF(1.5);
    line_->setPen(pen);
    // An area series cannot share the chart's line series: it gets its own copy of the points.
    upper_ = new QLineSeries;
    auto* area = new QAreaSeries(upper_);
    QColor fill = color;
    fill.setAlphaF(0.15);
    area->setBrush(fill);
    area->setPen(Qt::NoPen);
    chart->addSeries(area);
    chart->addSeries(line_);

    x_ = new QValueAxis;
    x_->setVisible(false);
    y_ = new QValueAxis;
    y_->setLabelFormat(QStringLiteral("%d"));
    y_->setMin(0);
    y_->setTickCount(3);
    // The label space is measured before the first real range arrives: never elide a label.
    y_->setTruncateLabels(false);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.77);
    y_->setLabelsFont(small);
    if (!valueTitle.isEmpty()) {
        y_->setTitleText(valueTitle);
        y_->setTitleFont(small);
    }
    chart->addAxis(x_, Qt::AlignBottom);
    chart->addAxis(y_, Qt::AlignRight);
    for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(area), static_cast<QAbstractSeries*>(line_)}) {
        series->attachAxis(x_);
        series->attachAxis(y_);
    }

    view_ = new QChartView(chart, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setFixedHeight(60);
    view_->setStyleSheet(QStringLiteral("background: transparent"));
    view_->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setVisible(false);
}

void TrendChart::setPoints(const QList<QPointF>& points) {
    points_ = points;
    if (points.size() < 2) {
        setVisible(false);
        return;
    }
    line_->replace(points);
    upper_->replace(points);
    double minX = points.front().x(), maxX = points.back().x(), maxY = 0;
    for (const QPointF& p : points) maxY = std::max(maxY, p.y());
    x_->setRange(minX, std::max(maxX, minX + 1e-6));
    y_->setRange(0, niceCeiling(maxY));
    setVisible(true);
}

double TrendChart::valueAxisMaximum() const { return y_->max(); }

double TrendChart::niceCeiling(double value) {
    if (!(value > 0) || !std::isfinite(value)) return 1;
    double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (step * power >= value) return step * power;
    return 10 * power;
}

}  // namespace brindlecove
