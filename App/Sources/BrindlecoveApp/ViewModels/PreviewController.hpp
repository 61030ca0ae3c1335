#pragma once
// Stepping through the report's files in the preview: the list, the current position, and
// the one current file that the preview window shows. Main thread.

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace brindlecove {

class PreviewController : public QObject {
    Q_OBJECT
public:
    explicit PreviewController(QObject* parent = nullptr);

    // The files to step through (the report's first files, in list order).
    void setItems(QStringList items);
    const QStringList& items() const { return items_; }

    // Shows `path`; an empty path closes the preview. A path not in the list is shown, but
    // stepping is then off.
    void show(const QString& path);
    void next();
    void previous();
    void close();

    const std::optional<QString>& current() const { return current_; }
    // -1 when nothing is shown or the shown file is not in the list.
    int index() const { return index_; }
    bool canStep() const { return index_ >= 0; }

Q_SIGNALS:
    // The current file changed (nullopt: the preview closes).
    void currentChanged();

private:
    void moveTo(int index);

    QStringList items_;
    std::optional<QString> current_;
    int index_ = -1;
};

}  // namespace brindlecove
