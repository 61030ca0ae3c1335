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
    // The tone of a text's tone (ReportTexts::Tone, TransferTexts::Tone: the same four names).
    template <class TextTone>
    static Tone toneOf(TextTone tone) {
        switch (tone) {
            case TextTone::good: return Tone::good;
            case TextTone::bad: return Tone::bad;
            case TextTone::warn: return Tone::warn;
            case TextTone::neutral: break;
        }
        return Tone::neutral;
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_;
};

}  // namespace brindlecove
