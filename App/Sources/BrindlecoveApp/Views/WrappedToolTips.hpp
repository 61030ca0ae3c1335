#pragma once
// Every tooltip of the application wraps and stays on the screen, however long the name in
// it: one filter on the application catches each tooltip request before the widget answers
// it and shows the text through ToolTipText (wrapped at about 80 characters, breaking inside
// long names). It serves widgets' own tooltips and the rows of every item view, the lists
// that combo boxes open included. A tooltip already written as rich text is left to Qt, which
// wraps it. Main thread.

#include <QObject>

namespace brindlecove {

class WrappedToolTips : public QObject {
    Q_OBJECT
public:
    // Installs the filter on the running application once; later calls do nothing.
    static void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

}  // namespace brindlecove
