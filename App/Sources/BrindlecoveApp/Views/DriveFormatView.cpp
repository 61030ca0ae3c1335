#include "BrindlecoveApp/Views/DriveFormatView.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/Views/ElidedComboBox.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

using VM = DriveFormatViewModel;

// `text` without blanks and tabs at either end (line breaks stay).
QString trimBlanksAndTabs(const QString& text) {
    qsizetype begin = 0, end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

QLabel* valueLabel(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* busyRow(const QString& objectName, const QString& text, bool caption, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(objectName);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(FormText::spinner(objectName + QStringLiteral("Spinner"), row), 0, Qt::AlignVCenter);
    auto* label = caption ? FormText::caption(objectName + QStringLiteral("Text"), row) : new QLabel(row);
    label->setText(text);
    if (!caption) Style::makeSecondary(label);
    layout->addWidget(label, 1, Qt::AlignVCenter);
    return row;
}

}  // namespace

DriveFormatView::DriveFormatView(DriveFormatViewModel& vm, QWidget* parent) : QWidget(parent), vm_(&vm) {
    setObjectName(QStringLiteral("format.form"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto [scroll, column] = ScreenHeader::scrollingBody(this);
    scroll_ = scroll;
    QWidget* body = column->parentWidget();
    column->setSpacing(12);

    // Volume to Reformat
    auto* volumeBox = new QGroupBox(QStringLiteral("Volume to Reformat"), body);
    volumeBox->setObjectName(QStringLiteral("format.group.volume"));
    auto* volumeColumn = new QVBoxLayout(volumeBox);
    empty_ = new SymbolLabel(QString(), volumeBox);
    empty_->setObjectName(QStringLiteral("format.empty"));
    empty_->set(QStringLiteral("externaldrive.badge.questionmark"),
                QStringLiteral("No external drives or cards detected. Connect one, then click Refresh. (Internal disks "
                               "are never offered \u2014 that's deliberate.)"),
                QColor());
    volumeColumn->addWidget(empty_);
    volumeRows_ = new QFormLayout;
    volume_ = new ElidedComboBox(volumeBox);
    volume_->setObjectName(QStringLiteral("format.volume"));
    volumeRows_->addRow(QStringLiteral("Volume"), volume_);
    volumeColumn->addLayout(volumeRows_);
    hint_ = FormText::caption(QStringLiteral("format.hint"), volumeBox);
    hint_->setText(QStringLiteral("Pick the drive or card above \u2014 the format choices, new-name field, and typed "
                                  "confirmation appear once it's checked."));
    volumeColumn->addWidget(hint_);
    refresh_ = new QPushButton(Symbols::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("Refresh"), volumeBox);
    refresh_->setObjectName(QStringLiteral("format.refresh"));
    Symbols::tag(refresh_, QStringLiteral("arrow.clockwise"));
    volumeColumn->addWidget(refresh_, 0, Qt::AlignLeft);
    inspecting_ = busyRow(QStringLiteral("format.inspecting"), QStringLiteral("Checking the volume\u2026"), false, volumeBox);
    volumeColumn->addWidget(inspecting_);
    factRows_ = new QFormLayout;
    device_ = valueLabel(QStringLiteral("format.device"), volumeBox);
    filesystem_ = valueLabel(QStringLiteral("format.filesystem"), volumeBox);
    capacity_ = valueLabel(QStringLiteral("format.capacity"), volumeBox);
    factRows_->addRow(QStringLiteral("Device"), device_);
    factRows_->addRow(QStringLiteral("Current format"), filesystem_);
    factRows_->addRow(QStringLiteral("Capacity"), capacity_);
    volumeColumn->addLayout(factRows_);
    refused_ = new SymbolLabel(QString(), volumeBox);
    refused_->setObjectName(QStringLiteral("format.refused"));
    volumeColumn->addWidget(refused_);
    // The done message of a reformat whose volume is not listed again (not mounted here).
    doneAlone_ = new SymbolLabel(QString(), volumeBox);
    doneAlone_->setObjectName(QStringLiteral("format.doneAlone"));
    volumeColumn->addWidget(doneAlone_);
    column->addWidget(volumeBox);

    // New Format
    auto* formatBox = new QGroupBox(QStringLiteral("New Format"), body);
    formatBox->setObjectName(QStringLiteral("format.group.newFormat"));
    newFormat_ = formatBox;
    auto* formatColumn = new QVBoxLayout(formatBox);
    auto* formatRows = new QFormLayout;
    // An option's reason may be longer than the box: it is cut at its end with an ellipsis,
    // and read whole in the tooltip.
    auto* format = new ElidedComboBox(formatBox);
    format->setElideMode(Qt::ElideRight);
    format_ = format;
    format_->setObjectName(QStringLiteral("format.fileSystem"));
    for (const auto& each : tessaline::DriveFormat::allCases()) {
        format_->addItem(QString::fromStdString(each.displayName()), QString::fromStdString(each.id()));
        format_->setItemData(format_->count() - 1, format_->itemText(format_->count() - 1), Qt::ToolTipRole);
    }
    formatRows->addRow(QStringLiteral("File system"), format_);
    formatColumn->addLayout(formatRows);
    blurb_ = FormText::caption(QStringLiteral("format.blurb"), formatBox);
    formatColumn->addWidget(blurb_);
    auto* nameRows = new QFormLayout;
    newName_ = new QLineEdit(formatBox);
    newName_->setObjectName(QStringLiteral("format.newName"));
    nameRows->addRow(QStringLiteral("Volume name"), newName_);
    formatColumn->addLayout(nameRows);
    preview_ = FormText::caption(QStringLiteral("format.preview"), formatBox);
    preview_->setFont(FormText::caption2(font()));
    formatColumn->addWidget(preview_);
    column->addWidget(formatBox);

    // Reformat
    auto* reformatBox = new QGroupBox(QStringLiteral("Reformat"), body);
    reformatBox->setObjectName(QStringLiteral("format.group.reformat"));
    reformat_ = reformatBox;
    auto* reformatColumn = new QVBoxLayout(reformatBox);
    warning_ = new SymbolLabel(QString(), reformatBox);
    warning_->setObjectName(QStringLiteral("format.warning"));
    reformatColumn->addWidget(warning_);
    routeProblem_ = new SymbolLabel(QString(), reformatBox);
    routeProblem_->setObjectName(QStringLiteral("format.routeProblem"));
    reformatColumn->addWidget(routeProblem_);
    confirmRows_ = new QFormLayout;
    // In a narrow window the field goes below its title rather than off the page.
    confirmRows_->setRowWrapPolicy(QFormLayout::WrapLongRows);
    confirmTitle_ = new QLabel(reformatBox);
    confirmTitle_->setObjectName(QStringLiteral("format.confirmationTitle"));
    confirmTitle_->setTextFormat(Qt::PlainText);
    confirmation_ = new QLineEdit(reformatBox);
    confirmation_->setObjectName(QStringLiteral("format.confirmation"));
    confirmRows_->addRow(confirmTitle_, confirmation_);
    reformatColumn->addLayout(confirmRows_);
    auto* runRow = new QHBoxLayout;
    run_ = FormText::destructiveButton(QStringLiteral("Erase && Reformat"), QStringLiteral("format.run"), reformatBox);
    runRow->addWidget(run_);
    formatting_ = busyRow(QStringLiteral("format.formatting"),
                          QStringLiteral("Reformatting \u2014 don't unplug the drive\u2026"), true, reformatBox);
    runRow->addWidget(formatting_);
    runRow->addStretch(1);
    reformatColumn->addLayout(runRow);
    runReason_ = FormText::caption(QStringLiteral("format.runReason"), reformatBox);
    reformatColumn->addWidget(runReason_);
    outcome_ = new SymbolLabel(QString(), reformatBox);
    outcome_->setObjectName(QStringLiteral("format.outcome"));
    reformatColumn->addWidget(outcome_);
    failedNote_ = FormText::caption(QStringLiteral("format.failedNote"), reformatBox);
    failedNote_->setFont(FormText::caption2(font()));
    failedNote_->setText(QStringLiteral("Nothing was formatted if the error came from a safety check. If the system "
                                        "refused the operation, Disks can do it \u2014 this is the same engine."));
    reformatColumn->addWidget(failedNote_);
    column->addWidget(reformatBox);
    column->addStretch(1);
    outer->addWidget(scroll);

    // Only user signals write to the view model.
    connect(volume_, &QComboBox::activated, this, [this](int index) {
        if (!vm_) return;
        const QVariant data = volume_->itemData(index);
        vm_->setSelectedVolumePath(data.isValid() ? std::optional<QString>(data.toString()) : std::nullopt);
    });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        if (vm_) vm_->refreshVolumes();
    });
    connect(format_, &QComboBox::activated, this, [this](int index) {
        if (!vm_) return;
        if (auto format = tessaline::DriveFormat::fromId(format_->itemData(index).toString().toStdString()))
            vm_->setFormat(*format);
    });
    connect(newName_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (vm_) vm_->setNewName(text);
    });
    connect(confirmation_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (vm_) vm_->setConfirmationText(text);
    });
    connect(run_, &QPushButton::clicked, this, [this] {
        if (vm_) vm_->run();
    });
    connect(&vm, &DriveFormatViewModel::volumesChanged, this, &DriveFormatView::repopulateVolumes);
    connect(&vm, &DriveFormatViewModel::changed, this, &DriveFormatView::scheduleRender);
    repopulateVolumes();
    render();
}

void DriveFormatView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (vm_ && !vm_->isBusy()) vm_->refreshVolumes();
}

void DriveFormatView::scheduleRender() { renderer_.schedule(); }

void DriveFormatView::repopulateVolumes() {
    if (!vm_) return;
    const QSignalBlocker block(volume_);
    volume_->clear();
    volume_->addItem(QStringLiteral("Choose\u2026"));
    for (size_t i = 0; i < vm_->volumes().size(); ++i) {
        volume_->addItem(vm_->entryTitle(i), VM::path(vm_->volumes()[i]));
        volume_->setItemData(volume_->count() - 1, vm_->entryTitle(i), Qt::ToolTipRole);
    }
    const auto& selected = vm_->selectedVolumePath();
    volume_->setCurrentIndex(selected ? std::max(0, volume_->findData(*selected)) : 0);
}

void DriveFormatView::render() {
    if (!vm_) return;
    const VM& vm = *vm_;
    const auto& phase = vm.phase();
    const bool busy = vm.isBusy();
    const bool hasVolumes = !vm.volumes().empty();
    const auto& selected = vm.selectedVolumePath();
    const auto& facts = vm.facts();

    // Volume to Reformat
    empty_->setVisible(!hasVolumes);
    volumeRows_->setRowVisible(volume_, hasVolumes);
    const int index = selected ? std::max(0, volume_->findData(*selected)) : 0;
    if (volume_->currentIndex() != index) {
        const QSignalBlocker block(volume_);
        volume_->setCurrentIndex(index);
    }
    volume_->setEnabled(!busy);
    hint_->setVisible(hasVolumes && !selected);
    refresh_->setEnabled(!busy);
    inspecting_->setVisible(std::holds_alternative<VM::Inspecting>(phase));
    const QString capacity = facts ? Formats::fileByteCount(facts->totalBytes) : QString();
    if (facts) {
        FormText::setText(device_, QString::fromStdString(facts->deviceIdentifier));
        FormText::setText(filesystem_, QString::fromStdString(facts->filesystem));
        FormText::setText(capacity_, capacity);
    }
    for (QLabel* row : {device_, filesystem_, capacity_}) factRows_->setRowVisible(row, facts.has_value());
    if (const auto* refused = std::get_if<VM::Refused>(&phase))
        refused_->set(QStringLiteral("hand.raised.fill"), refused->message, Style::bad());
    refused_->setVisible(std::holds_alternative<VM::Refused>(phase));
    const auto* done = std::get_if<VM::Done>(&phase);
    if (done && !facts) doneAlone_->set(QStringLiteral("checkmark.seal.fill"), done->message, Style::good());
    doneAlone_->setVisible(done && !facts);

    newFormat_->setVisible(facts.has_value());
    reformat_->setVisible(facts.has_value());
    if (!facts) return;

    // New Format
    const auto format = vm.format();
    const QString displayName = QString::fromStdString(format.displayName());
    const int formatIndex = format_->findData(QString::fromStdString(format.id()));
    if (format_->currentIndex() != formatIndex) {
        const QSignalBlocker block(format_);
        format_->setCurrentIndex(formatIndex);
    }
    format_->setEnabled(!busy);
    if (auto* items = qobject_cast<QStandardItemModel*>(format_->model())) {
        for (int i = 0; i < format_->count(); ++i) {
            auto each = tessaline::DriveFormat::fromId(format_->itemData(i).toString().toStdString());
            if (!each) continue;
            const auto problem = vm.formatProblem(*each);
            QString title = QString::fromStdString(each->displayName());
            if (problem) title += QStringLiteral(" \u2014 ") + *problem;
            if (format_->itemText(i) != title) {
                format_->setItemText(i, title);
                format_->setItemData(i, title, Qt::ToolTipRole);
            }
            if (QStandardItem* item = items->item(i)) item->setEnabled(!problem);
        }
    }
    FormText::setText(blurb_, QString::fromStdString(format.blurb()));
    if (newName_->text() != vm.newName()) newName_->setText(vm.newName());
    newName_->setEnabled(!busy);
    const QString label = vm.effectiveLabel();
    const bool showPreview = label.normalized(QString::NormalizationForm_C) !=
                             trimBlanksAndTabs(vm.newName()).normalized(QString::NormalizationForm_C);
    FormText::setText(preview_,
                      QStringLiteral("Will be named \u201c%1\u201d (%2 label rules).").arg(label, displayName));
    preview_->setVisible(showPreview);

    // Reformat
    const QString volumeName = QString::fromStdString(facts->volumeName);
    warning_->set(QStringLiteral("exclamationmark.triangle.fill"),
                  QStringLiteral("This erases EVERYTHING on \u201c%1\u201d (%2) and rebuilds it as %3. There is no undo.")
                      .arg(volumeName, capacity, displayName),
                  Style::bad());
    const auto routeProblem = vm.routeProblem();
    if (routeProblem) routeProblem_->set(QStringLiteral("xmark.octagon.fill"), *routeProblem, Style::bad());
    routeProblem_->setVisible(routeProblem.has_value());
    const QString title = QStringLiteral("Type the volume's name (%1) to confirm").arg(volumeName);
    // A long name is cut in the middle here (the warning above shows it whole), so the field
    // beside it keeps its room.
    const QString shortName = confirmTitle_->fontMetrics().elidedText(
        volumeName, Qt::ElideMiddle, confirmTitle_->fontMetrics().averageCharWidth() * 16);
    FormText::setText(confirmTitle_, QStringLiteral("Type the volume's name (%1) to confirm").arg(shortName));
    confirmTitle_->setToolTip(shortName == volumeName ? QString() : title);
    if (confirmation_->placeholderText() != title) {
        confirmation_->setPlaceholderText(title);
        confirmation_->setAccessibleName(title);
    }
    if (confirmation_->text() != vm.confirmationText()) confirmation_->setText(vm.confirmationText());
    confirmation_->setEnabled(!busy && !routeProblem);
    run_->setEnabled(vm.canRun());
    const auto whyNot = vm.whyCannotRun();
    if (whyNot) FormText::setText(runReason_, *whyNot);
    runReason_->setVisible(whyNot.has_value());
    formatting_->setVisible(std::holds_alternative<VM::Formatting>(phase));
    if (done)
        outcome_->set(QStringLiteral("checkmark.seal.fill"), done->message, Style::good());
    else if (const auto* failed = std::get_if<VM::Failed>(&phase))
        outcome_->set(QStringLiteral("exclamationmark.triangle.fill"), failed->message, Style::bad());
    const bool showOutcome = std::holds_alternative<VM::Done>(phase) || std::holds_alternative<VM::Failed>(phase);
    outcome_->setVisible(showOutcome);
    failedNote_->setVisible(std::holds_alternative<VM::Failed>(phase));
    // The outcome sits at the foot of the form, below the fold of a small window: a new one is
    // brought into view once the layout has placed it.
    const QString outcomeText = showOutcome ? outcome_->text() : QString();
    if (showOutcome && outcomeText != shownOutcome_)
        QTimer::singleShot(0, this, [this] {
            scroll_->ensureWidgetVisible(failedNote_->isVisible() ? static_cast<QWidget*>(failedNote_) : outcome_);
        });
    shownOutcome_ = outcomeText;
}

}  // namespace brindlecove
