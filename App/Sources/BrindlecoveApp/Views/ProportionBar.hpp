#pragma once
// A thin capsule split into coloured parts in proportion to counts. Pure display: it reads
// nothing and does nothing when touched. Main thread.

#include <QColor>
#include <QRectF>
#include <QUuid>
#include <QWidget>

#include <vector>

namespace brindlecove {

class ProportionBar : public QWidget {
    Q_OBJECT
public:
    struct Segment {
        QUuid id = QUuid::createUuid();
        long long value = 0;
        QColor color;
    };

    explicit ProportionBar(std::vector<Segment> segments = {}, QWidget* parent = nullptr);
    void setSegments(std::vector<Segment> segments);
    const std::vector<Segment>& segments() const { return segments_; }

    // The rectangles drawn for a bar `width` wide and 12 tall, left to right, one per segment
    // whose value is at least 1. The total counts only positive values and is at least 1, so
    // a negative value can never shrink the total and push the others past the end.
    static std::vector<QRectF> segmentRects(qreal width, const std::vector<Segment>& segments);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Segment> segments_;
};

}  // namespace brindlecove
