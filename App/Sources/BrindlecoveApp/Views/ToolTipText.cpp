#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

namespace brindlecove::ToolTipText {

namespace {

constexpr int longestUnbrokenRun = 30;
constexpr QChar zeroWidthSpace(0x200B);

bool breaksAfter(QChar c) {
    return c == u'/' || c == u'\\' || c == u'_' || c == u'-' || c == u'.' || c == u',' || c == u'\u2192';
}

}  // namespace

QString wrapped(const QString& plain) {
    if (plain.isEmpty()) return {};
    QString text;
    text.reserve(plain.size() + plain.size() / 8);
    int run = 0;
    for (QChar c : plain) {
        text += c;
        if (c.isSpace()) {
            run = 0;
        } else if (breaksAfter(c) || ++run >= longestUnbrokenRun) {
            text += zeroWidthSpace;
            run = 0;
        }
    }
    // Rich text is what a tooltip wraps; convertFromPlainText keeps line breaks and escapes
    // the name's own markup characters.
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

bool show(const QHelpEvent& event, const QString& plain, QWidget* widget) {
    if (plain.isEmpty()) {
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event.globalPos(), wrapped(plain), widget);
    return true;
}

}  // namespace brindlecove::ToolTipText
