#include "BrindlecoveApp/Views/WrappedToolTips.hpp"

#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QTextDocument>
#include <QWidget>

namespace brindlecove {

namespace {

// The item view whose rows `widget` shows, when it is that view's viewport.
QAbstractItemView* viewOfViewport(QWidget* widget) {
    auto* view = qobject_cast<QAbstractItemView*>(widget->parentWidget());
    return view && view->viewport() == widget ? view : nullptr;
}

}  // namespace

void WrappedToolTips::install() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->findChild<WrappedToolTips*>(QString(), Qt::FindDirectChildrenOnly)) return;
    app->installEventFilter(new WrappedToolTips(app));
}

bool WrappedToolTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    const auto& help = *static_cast<QHelpEvent*>(event);
    QString text;
    QWidget* owner = widget;
    if (QAbstractItemView* view = viewOfViewport(widget)) {
        text = view->indexAt(help.pos()).data(Qt::ToolTipRole).toString();
        owner = view;
    } else {
        text = widget->toolTip();
    }
    // Nothing to show, or rich text that Qt wraps itself: the usual path.
    if (text.isEmpty() || Qt::mightBeRichText(text)) return false;
    ToolTipText::show(help, text, owner);
    return true;
}

}  // namespace brindlecove
