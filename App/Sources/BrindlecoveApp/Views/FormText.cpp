#include "BrindlecoveApp/Views/FormText.hpp"

#include "BrindlecoveApp/Views/Style.hpp"

#include <QFontDatabase>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace brindlecove::FormText {

QLabel* caption(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(Style::font(Style::TextStyle::caption, label->font()));
    Style::makeSecondary(label);
    return label;
}

QFont caption2(const QFont& base, bool monospaced) {
    QFont font = Style::font(Style::TextStyle::caption2, base);
    if (!monospaced) return font;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font.pointSizeF());
    return fixed;
}

QProgressBar* progressBar(const QString& objectName, QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setTextVisible(false);
    return bar;
}

QProgressBar* spinner(const QString& objectName, QWidget* parent) {
    QProgressBar* bar = progressBar(objectName, parent);
    bar->setRange(0, 0);
    bar->setFixedSize(48, 10);
    return bar;
}

QVBoxLayout* column(QWidget* page, int spacing) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QPushButton* destructiveButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setProperty("destructive", true);
    QPalette palette = button->palette();
    // Red while usable; a disabled button keeps the style's grey so it does not look live.
    palette.setColor(QPalette::Active, QPalette::ButtonText, Style::bad());
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, Style::bad());
    button->setPalette(palette);
    return button;
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

QString breakable(const QString& text) {
    constexpr int longRun = 24;
    constexpr int piece = 12;
    QString out;
    out.reserve(text.size() + text.size() / piece);
    int run = 0;
    for (QChar c : text) {
        if (c.isSpace()) {
            run = 0;
        } else if (++run > longRun && run % piece == 1) {
            out += QChar(0x200B);
        }
        out += c;
    }
    return out;
}

}  // namespace brindlecove::FormText
