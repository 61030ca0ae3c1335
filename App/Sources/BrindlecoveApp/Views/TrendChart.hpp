#pragma once
// A small line-and-area chart of one series (the scan's per-stage progress, the copy's
// speed): 60 px high, no legend, no animation, no margins, the x axis hidden and a value
// axis on the right starting at 0. Built once and fed whole point lists; it hides itself
// below two points. Main thread.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QWidget>

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

namespace brindlecove {

class TrendChart : public QWidget {
    Q_OBJECT
public:
    // `valueTitle`: the value axis' title ("MB/s"), or empty for none.
    explicit TrendChart(const QColor& color, const QString& valueTitle = QString(), QWidget* parent = nullptr);

    // Replaces the points (x ascending). Fewer than two points hide the chart.
    void setPoints(const QList<QPointF>& points);
    const QList<QPointF>& points() const { return points_; }
    // The upper end of the value axis now shown (for tests).
    double valueAxisMaximum() const;

    // The smallest "nice" number (1, 2, 2.5, 5 times a power of ten) at or above `value`; 1 for
    // values at or below 0.
    static double niceCeiling(double value);

private:
    QList<QPointF> points_;
    QChartView* view_ = nullptr;
    QLineSeries* line_ = nullptr;
    QLineSeries* upper_ = nullptr;
    QValueAxis* x_ = nullptr;
    QValueAxis* y_ = nullptr;
};

}  // namespace brindlecove
