#pragma once
// The "New Job" question: a message, the "Job name" field, "Cancel" and "Create" (the
// default button). Opened window-modal without blocking (open()); it deletes itself when
// closed. created() carries the text as typed; cancelled() follows "Cancel", Esc or the
// window's close button. Main thread.

#include <QDialog>

class QLineEdit;

namespace brindlecove {

class NewJobDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewJobDialog(QWidget* parent = nullptr);

    QLineEdit* nameField() const { return name_; }

Q_SIGNALS:
    void created(const QString& name);
    void cancelled();

private:
    QLineEdit* name_ = nullptr;
};

}  // namespace brindlecove
