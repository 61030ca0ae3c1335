#pragma once
// A one-line label that shortens its text in the middle ("/media/…/Brindlecove Logs") when
// it is wider than the label, and shows the whole text as its tooltip. text() is the shown
// text; fullText() gives it back. The tooltip is shown wrapped within the screen. Main thread.

#include <QLabel>

namespace brindlecove {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString full_;
};

}  // namespace brindlecove
