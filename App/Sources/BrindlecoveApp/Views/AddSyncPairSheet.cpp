#include "BrindlecoveApp/Views/AddSyncPairSheet.hpp"

#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/Views/ElidedComboBox.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

constexpr auto noLabel = u"\u2014";

QLineEdit* field(const QString& placeholder, const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setObjectName(name);
    return edit;
}

}  // namespace

AddSyncPairSheet::AddSyncPairSheet(Dependencies dependencies, QWidget* parent)
    : QDialog(parent), dependencies_(std::move(dependencies)) {
    setObjectName(QStringLiteral("addPair"));
    setWindowTitle(QStringLiteral("Add Sync Pair"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setFixedSize(460, 420);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    auto* nameBox = new QGroupBox(QStringLiteral("Name"), this);
    auto* nameLayout = new QVBoxLayout(nameBox);
    name_ = field(QStringLiteral("e.g. A-Cam \u2192 Backup"), QStringLiteral("sheet.name"), nameBox);
    nameLayout->addWidget(name_);
    layout->addWidget(nameBox);

    auto* sourceBox = new QGroupBox(QStringLiteral("Source drive (by volume label)"), this);
    auto* sourceLayout = new QVBoxLayout(sourceBox);
    insertedRow_ = new QWidget(sourceBox);
    auto* insertedLayout = new QHBoxLayout(insertedRow_);
    insertedLayout->setContentsMargins(0, 0, 0, 0);
    insertedLayout->addWidget(new QLabel(QStringLiteral("Inserted"), insertedRow_));
    // A label of any length is cut in the middle, in the box and in its list, whole in the tooltip.
    inserted_ = new ElidedComboBox(insertedRow_);
    inserted_->setObjectName(QStringLiteral("sheet.inserted"));
    insertedLayout->addWidget(inserted_, 1);
    insertedRow_->hide();
    sourceLayout->addWidget(insertedRow_);
    sourceLabel_ = field(QStringLiteral("Volume label"), QStringLiteral("sheet.sourceLabel"), sourceBox);
    sourceLayout->addWidget(sourceLabel_);
    subpath_ = field(QStringLiteral("Subfolder (optional, e.g. DCIM)"), QStringLiteral("sheet.subpath"), sourceBox);
    sourceLayout->addWidget(subpath_);
    layout->addWidget(sourceBox);

    auto* destinationBox = new QGroupBox(QStringLiteral("Destination"), this);
    auto* destinationLayout = new QVBoxLayout(destinationBox);
    auto* destinationRow = new QHBoxLayout;
    destination_ = new QLabel(destinationBox);
    destination_->setObjectName(QStringLiteral("sheet.destination"));
    destination_->setTextFormat(Qt::PlainText);
    destination_->setWordWrap(true);
    destinationRow->addWidget(destination_, 1);
    auto* choose = new QPushButton(QStringLiteral("Choose\u2026"), destinationBox);
    choose->setObjectName(QStringLiteral("sheet.choose"));
    choose->setAutoDefault(false);
    destinationRow->addWidget(choose);
    destinationLayout->addLayout(destinationRow);
    warning_ = new QLabel(destinationBox);
    warning_->setObjectName(QStringLiteral("sheet.warning"));
    warning_->setTextFormat(Qt::PlainText);
    warning_->setWordWrap(true);
    warning_->setFont(Style::font(Style::TextStyle::caption, warning_->font()));
    QPalette warnPalette = warning_->palette();
    warnPalette.setColor(QPalette::WindowText, Style::warn());
    warning_->setPalette(warnPalette);
    Symbols::tag(warning_, QStringLiteral("exclamationmark.triangle.fill"));
    warning_->hide();
    destinationLayout->addWidget(warning_);
    layout->addWidget(destinationBox);

    auto* preserveBox = new QGroupBox(this);
    auto* preserveLayout = new QVBoxLayout(preserveBox);
    preserve_ = new QCheckBox(QStringLiteral("Preserve folder structure"), preserveBox);
    preserve_->setObjectName(QStringLiteral("sheet.preserve"));
    preserve_->setChecked(form_.preserve);
    preserveLayout->addWidget(preserve_);
    layout->addWidget(preserveBox);

    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("sheet.cancel"));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    add_ = new QPushButton(QStringLiteral("Add"), this);
    add_->setObjectName(QStringLiteral("sheet.add"));
    add_->setDefault(true);
    buttons->addWidget(add_);
    layout->addLayout(buttons);

    connect(name_, &QLineEdit::textChanged, this, [this](const QString& text) { form_.name = text; });
    connect(subpath_, &QLineEdit::textChanged, this, [this](const QString& text) { form_.sourceSubpath = text; });
    connect(sourceLabel_, &QLineEdit::textChanged, this, &AddSyncPairSheet::setSourceLabel);
    connect(inserted_, &QComboBox::activated, this, [this](int index) {
        // "—" stands for no label; picking fills the field, which updates the rest.
        sourceLabel_->setText(index <= 0 ? QString() : inserted_->itemText(index));
    });
    connect(preserve_, &QCheckBox::toggled, this, [this](bool on) { form_.preserve = on; });
    connect(choose, &QPushButton::clicked, this, &AddSyncPairSheet::chooseDestination);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(add_, &QPushButton::clicked, this, [this] {
        if (!form_.canAdd()) return;
        Q_EMIT pairAdded(form_.makePair());
        accept();
    });
    render();
}

void AddSyncPairSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (listed_) return;
    // The volumes inserted as the sheet opens; a drive inserted later needs a new sheet.
    listed_ = true;
    std::vector<tessaline::VolumeInfo> volumes = dependencies_.candidateVolumes
                                                     ? dependencies_.candidateVolumes()
                                                     : tessaline::VolumeDetector::listCandidateVolumes();
    // Pairs follow a volume label: a volume without one (named after its mount folder) has none
    // to offer.
    form_.insertedLabels.clear();
    for (const tessaline::VolumeInfo& volume : volumes)
        if (volume.hasOwnLabel) form_.insertedLabels << QString::fromStdString(volume.label);
    {
        QSignalBlocker blocker(inserted_);
        inserted_->clear();
        inserted_->addItem(QString::fromUtf16(noLabel));
        for (const QString& label : form_.insertedLabels) {
            inserted_->addItem(label);
            inserted_->setItemData(inserted_->count() - 1, label, Qt::ToolTipRole);
        }
    }
    insertedRow_->setVisible(!form_.insertedLabels.isEmpty());
    setSourceLabel(form_.sourceLabel);
}

void AddSyncPairSheet::setSourceLabel(const QString& label) {
    form_.sourceLabel = label;
    QSignalBlocker blocker(inserted_);
    if (label.isEmpty()) {
        inserted_->setCurrentIndex(0);
    } else {
        int index = form_.insertedLabels.indexOf(label);
        inserted_->setCurrentIndex(index < 0 ? -1 : index + 1);
    }
    render();
}

void AddSyncPairSheet::chooseDestination() {
    if (!dependencies_.dialogs.chooseFolder) return;
    FolderRequest request;
    request.prompt = QStringLiteral("Choose Destination");
    request.canCreateFolders = true;
    request.startFolder = RemovableMounts::parentFolder();
    std::optional<QString> folder = dependencies_.dialogs.chooseFolder(request);
    if (!folder || folder->isEmpty()) return;
    form_.destinationPath = *folder;
    render();
}

void AddSyncPairSheet::render() {
    if (form_.destinationPath.isEmpty()) {
        destination_->setText(QStringLiteral("No folder chosen"));
        Style::makeSecondary(destination_);
    } else {
        destination_->setText(form_.destinationPath);
        destination_->setPalette(QPalette());
    }
    std::optional<QString> warning = form_.sameDriveWarning(dependencies_.volumeName);
    warning_->setText(warning.value_or(QString()));
    warning_->setVisible(warning.has_value());
    add_->setEnabled(form_.canAdd());
}

}  // namespace brindlecove
