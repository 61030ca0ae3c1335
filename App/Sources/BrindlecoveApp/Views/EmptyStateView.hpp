#pragma once
// The centred empty state of a section: a large symbol, a bold title and a secondary
// description. Main thread.

#include <QWidget>

class QLabel;

namespace brindlecove {

class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    EmptyStateView(const QString& symbol, const QString& title, const QString& description = QString(),
                   QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setDescription(const QString& description);

private:
    QLabel* title_ = nullptr;
    QLabel* description_ = nullptr;
};

}  // namespace brindlecove
