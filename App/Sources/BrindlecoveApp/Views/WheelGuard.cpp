#include "BrindlecoveApp/Views/WheelGuard.hpp"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

namespace brindlecove {

namespace {

// A control whose value the wheel would change.
QWidget* chooser(QObject* object) {
    if (auto* combo = qobject_cast<QComboBox*>(object)) return combo;
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(object)) return spin;
    return nullptr;
}

// The chooser that `object` is or lies in (the line edit of an editable combo box or of a spin
// box receives the clicks).
QWidget* enclosingChooser(QObject* object) {
    for (auto* widget = qobject_cast<QWidget*>(object); widget; widget = widget->parentWidget()) {
        if (QWidget* control = chooser(widget)) return control;
        if (widget->isWindow()) break;
    }
    return nullptr;
}

bool keyboardReason(Qt::FocusReason reason) {
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

}  // namespace

void WheelGuard::install() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->findChild<WheelGuard*>(QString(), Qt::FindDirectChildrenOnly)) return;
    app->installEventFilter(new WheelGuard(app));
}

bool WheelGuard::takesWheel(const QWidget* control) const {
    return control->hasFocus() && chosen_ == control;
}

void WheelGuard::noteKeyPress(const QEvent* event) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    const bool moves = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
                       (key->modifiers() & Qt::AltModifier) != 0;
    if (!moves || focusKeyDown_) return;
    // The focus moves while this key press is delivered; the reset runs after it.
    focusKeyDown_ = true;
    QTimer::singleShot(0, this, [this] { focusKeyDown_ = false; });
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        noteKeyPress(event);
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (QWidget* control = enclosingChooser(watched)) chosen_ = control;
        return false;
    case QEvent::FocusIn: {
        QWidget* control = chooser(watched);
        if (!control) return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::MouseFocusReason || (keyboardReason(reason) && focusKeyDown_))
            chosen_ = control;
        else if (reason != Qt::PopupFocusReason && chosen_ == control)
            chosen_ = nullptr;
        return false;
    }
    case QEvent::FocusOut:
        // A popup (the control's own list, a context menu) keeps the user's choice; every other
        // loss ends it.
        if (chooser(watched) == chosen_ && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
            !QApplication::activePopupWidget())
            chosen_ = nullptr;
        return false;
    case QEvent::Polish:
        if (QWidget* control = chooser(watched)) {
            // Qt::WheelFocus (the combo box's default) would let the wheel focus the control
            // and so change it at once.
            if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
        }
        return false;
    case QEvent::Wheel: {
        QWidget* control = chooser(watched);
        if (!control || takesWheel(control)) return false;
        return forwardToPage(control, event);
    }
    default:
        return false;
    }
}

bool WheelGuard::forwardToPage(QWidget* control, QEvent* event) {
    // The page around the control scrolls; the control never sees the event.
    const auto* wheel = static_cast<QWheelEvent*>(event);
    for (QWidget* around = control->parentWidget(); around; around = around->parentWidget()) {
        auto* page = qobject_cast<QAbstractScrollArea*>(around);
        if (!page) continue;
        // A scroll area takes wheel events through its viewport.
        QWidget* viewport = page->viewport();
        QWheelEvent forwarded(viewport->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(),
                              wheel->pixelDelta(), wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                              wheel->phase(), wheel->inverted(), wheel->source(), wheel->pointingDevice());
        QCoreApplication::sendEvent(viewport, &forwarded);
        event->accept();
        return true;
    }
    // No page to scroll: ignored, the application hands it on to the parents.
    event->ignore();
    return true;
}

}  // namespace brindlecove
