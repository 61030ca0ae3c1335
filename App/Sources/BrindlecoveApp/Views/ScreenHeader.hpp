#pragma once
// A section's title line: the title in the one screen-title style at the margins every section
// shares, with an optional widget at its trailing edge (a menu button). `install` also lays the
// screen out as a margin-free column, so every section's title stands at the same place; the
// section's body goes below it, plain or scrolling, with the body margins all sections share.
// Main thread.

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace brindlecove {

class ScreenHeader : public QWidget {
public:
    // `titleName` is the title label's objectName; sections whose tests know their title by
    // another name pass it here.
    explicit ScreenHeader(const QString& title, QWidget* parent,
                          const QString& titleName = QStringLiteral("screen.title"));

    // Gives `screen` a margin-free, gap-free column layout with a header for `title` at its top.
    // `screen` must not have a layout yet.
    static ScreenHeader* install(QWidget* screen, const QString& title,
                                 const QString& titleName = QStringLiteral("screen.title"));

    QLabel* title() const { return title_; }

    // Puts `widget` at the trailing edge of the title line, top-aligned with the title.
    void setTrailing(QWidget* widget);

    // A frameless, resizable scroll area over a content widget whose column has the body margins.
    struct ScrollingBody {
        QScrollArea* area;
        QVBoxLayout* column;  // column->parentWidget() is the content
    };
    static ScrollingBody scrollingBody(QWidget* parent);

    // Below an installed header: a column with the body margins, taking the rest of the screen.
    QVBoxLayout* addBody();
    // Below an installed header: a frameless, resizable scroll area taking the rest of the
    // screen; returns the column of its content, with the body margins.
    QVBoxLayout* addScrollingBody();

private:
    QVBoxLayout* screenColumn() const;

    QLabel* title_;
    QHBoxLayout* row_;
};

}  // namespace brindlecove
