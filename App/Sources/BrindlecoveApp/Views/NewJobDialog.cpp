#include "BrindlecoveApp/Views/NewJobDialog.hpp"

#include "BrindlecoveApp/Views/Style.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace brindlecove {

NewJobDialog::NewJobDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("newJob"));
    setWindowTitle(QStringLiteral("New Job"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("New Job"), this);
    title->setFont(Style::font(Style::TextStyle::headline, title->font()));
    layout->addWidget(title);
    auto* message = new QLabel(
        QStringLiteral("Name this job \u2014 a client, shoot, or project. New scans and copies will file under it."),
        this);
    message->setObjectName(QStringLiteral("newJob.message"));
    message->setWordWrap(true);
    layout->addWidget(message);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("newJob.name"));
    name_->setPlaceholderText(QStringLiteral("Job name"));
    layout->addWidget(name_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("newJob.cancel"));
    cancel->setAutoDefault(false);
    auto* create = new QPushButton(QStringLiteral("Create"), this);
    create->setObjectName(QStringLiteral("newJob.create"));
    create->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(create);
    layout->addLayout(buttons);
    setMinimumWidth(340);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(create, &QPushButton::clicked, this, &QDialog::accept);
    // The answer is handed over after the dialog is hidden, once.
    connect(this, &QDialog::accepted, this, [this] { Q_EMIT created(name_->text()); });
    connect(this, &QDialog::rejected, this, &NewJobDialog::cancelled);
}

}  // namespace brindlecove
