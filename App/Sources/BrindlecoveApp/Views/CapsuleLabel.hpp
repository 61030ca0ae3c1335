#pragma once
// A small label on a capsule: a count next to a job's name, the "COPY"/"SCAN" tag of a log
// row. Plain text in the caption-2 size, semibold, padded 6 points left and right and 1
// point above and below, on a fill colour. Main thread.

#include <QColor>
#include <QLabel>

namespace brindlecove {

class CapsuleLabel : public QLabel {
    Q_OBJECT
public:
    // An invalid text colour keeps the palette's.
    CapsuleLabel(const QString& text, const QColor& fill, const QColor& textColor = QColor(),
                 QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

}  // namespace brindlecove
