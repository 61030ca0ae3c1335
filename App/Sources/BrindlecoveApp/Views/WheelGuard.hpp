#pragma once
// Keeps the mouse wheel from changing a choice. Combo boxes and spin boxes take the wheel
// only while they have keyboard focus (given by a click or Tab); otherwise the wheel event
// goes to the nearest scroll area around them, so the page under the pointer scrolls. The wheel
// itself never gives them focus (they are made Qt::StrongFocus when polished). One filter
// on the application serves every window and dialog. Main thread.

#include <QObject>

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
};

}  // namespace brindlecove
