#include "BrindlecoveApp/Views/WheelGuard.hpp"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QWheelEvent>

namespace brindlecove {

namespace {

// A control whose value the wheel would change.
QWidget* chooser(QObject* object) {
    if (auto* combo = qobject_cast<QComboBox*>(object)) return combo;
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(object)) return spin;
    return nullptr;
}

}  // namespace

void WheelGuard::install() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->findChild<WheelGuard*>(QString(), Qt::FindDirectChildrenOnly)) return;
    app->installEventFilter(new WheelGuard(app));
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Wheel && type != QEvent::Polish) return false;
    QWidget* control = chooser(watched);
    if (!control) return false;
    if (type == QEvent::Polish) {
        // Qt::WheelFocus (the combo box's default) would let the wheel focus the control and
        // so change it at once.
        if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
        return false;
    }
    if (control->hasFocus()) return false;
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
