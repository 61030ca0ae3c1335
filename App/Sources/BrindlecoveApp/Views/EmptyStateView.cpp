#include "BrindlecoveApp/Views/EmptyStateView.hpp"

#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace brindlecove {

EmptyStateView::EmptyStateView(const QString& symbol, const QString& title, const QString& description,
                               QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("emptyState.symbol"));
    icon->setPixmap(Symbols::pixmap(symbol, 40, Style::secondaryText(this)));
    Symbols::tag(icon, symbol);
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("emptyState.title"));
    title_->setFont(Style::font(Style::TextStyle::title2, title_->font()));
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    layout->addWidget(title_);
    description_ = new QLabel(description, this);
    description_->setObjectName(QStringLiteral("emptyState.description"));
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    description_->setVisible(!description.isEmpty());
    Style::makeSecondary(description_);
    layout->addWidget(description_);
    layout->addStretch(1);
}

void EmptyStateView::setTitle(const QString& title) { title_->setText(title); }

void EmptyStateView::setDescription(const QString& description) {
    description_->setText(description);
    description_->setVisible(!description.isEmpty());
}

}  // namespace brindlecove
