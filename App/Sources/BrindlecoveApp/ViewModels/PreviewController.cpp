#include "BrindlecoveApp/ViewModels/PreviewController.hpp"

namespace brindlecove {

PreviewController::PreviewController(QObject* parent) : QObject(parent) {}

void PreviewController::setItems(QStringList items) {
    items_ = std::move(items);
    index_ = current_ ? static_cast<int>(items_.indexOf(*current_)) : -1;
}

void PreviewController::show(const QString& path) {
    if (path.isEmpty()) {
        close();
        return;
    }
    if (current_ == path) return;
    current_ = path;
    index_ = static_cast<int>(items_.indexOf(path));
    Q_EMIT currentChanged();
}

void PreviewController::moveTo(int index) {
    if (index < 0 || index >= items_.size() || index == index_) return;
    index_ = index;
    current_ = items_[index];
    Q_EMIT currentChanged();
}

void PreviewController::next() {
    if (canStep()) moveTo(index_ + 1);
}

void PreviewController::previous() {
    if (canStep()) moveTo(index_ - 1);
}

void PreviewController::close() {
    if (!current_) return;
    current_.reset();
    index_ = -1;
    Q_EMIT currentChanged();
}

}  // namespace brindlecove
