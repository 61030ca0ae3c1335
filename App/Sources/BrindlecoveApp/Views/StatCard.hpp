#pragma once
// A tile with a symbol, a count and a label; a non-zero emphasized count draws attention
// with a stronger tint and a border. Pure display. Main thread.

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;

namespace brindlecove {

class StatCard : public QWidget {
    Q_OBJECT
public:
    StatCard(long long count, QString label, QString systemImage, QColor color, bool emphasized,
             QWidget* parent = nullptr);

    long long count() const { return count_; }
    QString countText() const;

    // Background opacity: 0.14 when emphasized with a count above 0, else 0.06.
    static qreal fillAlpha(long long count, bool emphasized);
    // Border opacity: 0.4 under the same condition, else 0 (no visible border).
    static qreal borderAlpha(long long count, bool emphasized);
    // The count is shown in the secondary style when it is 0.
    static bool countIsSecondary(long long count) { return count == 0; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    long long count_;
    QString label_;
    QString systemImage_;
    QColor color_;
    bool emphasized_;
};

}  // namespace brindlecove
