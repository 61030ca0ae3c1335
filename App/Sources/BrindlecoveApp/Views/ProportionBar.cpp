#include "BrindlecoveApp/Views/ProportionBar.hpp"

#include "BrindlecoveApp/Views/Style.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace brindlecove {

namespace {
constexpr qreal barHeight = 12.0;
}

ProportionBar::ProportionBar(std::vector<Segment> segments, QWidget* parent)
    : QWidget(parent), segments_(std::move(segments)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProportionBar::setSegments(std::vector<Segment> segments) {
    segments_ = std::move(segments);
    update();
}

std::vector<QRectF> ProportionBar::segmentRects(qreal width, const std::vector<Segment>& segments) {
    long long total = 0;
    for (const auto& s : segments) total += std::max(0LL, s.value);
    total = std::max(1LL, total);
    std::vector<QRectF> rects;
    qreal x = 0;
    for (const auto& s : segments) {
        if (s.value < 1) continue;
        qreal w = width * static_cast<qreal>(s.value) / static_cast<qreal>(total);
        rects.emplace_back(x, 0, w, barHeight);
        x += w;
    }
    return rects;
}

QSize ProportionBar::sizeHint() const { return {120, static_cast<int>(barHeight)}; }
QSize ProportionBar::minimumSizeHint() const { return {12, static_cast<int>(barHeight)}; }

void ProportionBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF bar(0, (height() - barHeight) / 2, width(), barHeight);
    QPainterPath capsule;
    capsule.addRoundedRect(bar, barHeight / 2, barHeight / 2);
    painter.setClipPath(capsule);
    painter.fillPath(capsule, Style::quaternaryFill(this));
    auto rects = segmentRects(bar.width(), segments_);
    size_t i = 0;
    for (const auto& s : segments_) {
        if (s.value < 1) continue;
        painter.fillRect(rects[i++].translated(0, bar.top()), s.color);
    }
}

}  // namespace brindlecove
