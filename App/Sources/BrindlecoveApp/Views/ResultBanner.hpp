#pragma once
// A one-line verdict with a tone, a title and an optional subtitle. Pure display. Main thread.

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

namespace brindlecove {

class ResultBanner : public QWidget {
    Q_OBJECT
public:
    enum class Tone { good, bad, warn, neutral };

    ResultBanner(Tone tone, QString title, std::optional<QString> subtitle = std::nullopt, QWidget* parent = nullptr);

    Tone tone() const { return tone_; }
    static QString symbolFor(Tone tone);
    static QColor colorFor(Tone tone, const QWidget* widget = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_;
};

}  // namespace brindlecove
