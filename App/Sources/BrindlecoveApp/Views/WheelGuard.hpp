#pragma once
// Keeps the mouse wheel from changing a choice the user has not taken up. Combo boxes and
// spin boxes take the wheel only while they hold keyboard focus that the user gave them: a
// click on the control, or Tab, Backtab or a shortcut key moving to it. Focus the program
// gives (a window activated again after a dialog, the focus handed on from a control that was
// disabled, focus set at start) does not count, and any loss of focus other than to the
// control's own popup ends it. Otherwise the wheel event goes to the nearest scroll area
// around the control, so the page under the pointer scrolls. The wheel itself never gives
// them focus (they are made Qt::StrongFocus when polished). One filter on the application
// serves every window and dialog. Main thread.

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace brindlecove {

class WheelGuard : public QObject {
    Q_OBJECT
public:
    // Installs the guard on the running application once; later calls do nothing.
    static void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;

    bool takesWheel(const QWidget* control) const;
    void noteKeyPress(const QEvent* event);
    bool forwardToPage(QWidget* control, QEvent* event);

    // The control whose focus the user gave it, while it keeps that focus.
    QPointer<QWidget> chosen_;
    // True from a focus-moving key press until the events queued before it are handled:
    // focus that arrives meanwhile with a keyboard reason is the user's move.
    bool focusKeyDown_ = false;
};

}  // namespace brindlecove
