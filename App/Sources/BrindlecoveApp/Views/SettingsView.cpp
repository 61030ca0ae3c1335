#include "BrindlecoveApp/Views/SettingsView.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include "Tessaline/Version.hpp"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

// Takes a widget out of the form at once (so lookups no longer find it) but deletes it
// later: it may be the button whose click is being handled.
void discard(QWidget* widget) {
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    return label;
}

QLabel* captionLabel(const QString& text, QWidget* parent, const QColor& color = QColor()) {
    QLabel* label = plainLabel(text, parent);
    label->setFont(Style::font(Style::TextStyle::caption, label->font()));
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    } else {
        Style::makeSecondary(label);
    }
    return label;
}

QPushButton* button(const QString& text, const QString& objectName, QWidget* parent, bool destructive = false,
                    const QString& symbol = {}) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(objectName);
    if (!symbol.isEmpty()) {
        b->setIcon(Symbols::icon(symbol));
        Symbols::tag(b, symbol);
    }
    if (destructive) {
        b->setProperty("destructive", true);
        QPalette palette = b->palette();
        palette.setColor(QPalette::ButtonText, Style::bad());
        b->setPalette(palette);
    }
    return b;
}

}  // namespace

SettingsView::SettingsView(Dialogs dialogs, SettingsModel::Runner runner, QWidget* parent)
    : QWidget(parent), model_(std::move(dialogs), std::move(runner)) {
    setObjectName(QStringLiteral("settings"));
    QVBoxLayout* contentLayout =
        ScreenHeader::install(this, QStringLiteral("Settings"), QStringLiteral("settings.title"))->addScrollingBody();
    QWidget* content = contentLayout->parentWidget();
    contentLayout->addWidget(makeVersionGroup());
    contentLayout->addWidget(makeReportsGroup());
    guideGroup_ = makeGuideGroup();
    contentLayout->addWidget(guideGroup_);
    auto* dynamicHost = new QWidget(content);
    groups_ = new QVBoxLayout(dynamicHost);
    groups_->setContentsMargins(0, 0, 0, 0);
    contentLayout->addWidget(dynamicHost);
    contentLayout->addStretch(1);

    connect(&model_, &SettingsModel::changed, this, &SettingsView::rebuild);
    model_.refresh();
    rebuild();
}

QWidget* SettingsView::makeVersionGroup() {
    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("settings.version"));
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("App"), plainLabel(QStringLiteral("Brindlecove"), group));
    auto* version = plainLabel(QString::fromUtf8(tessaline::tessalineVersion), group);
    version->setObjectName(QStringLiteral("settings.engineVersion"));
    form->addRow(QStringLiteral("Engine (Tessaline)"), version);
    return group;
}

QWidget* SettingsView::makeReportsGroup() {
    // Rebuilt in place by rebuild(): the host keeps its position in the form.
    auto* group = new QGroupBox(QStringLiteral("Save Reports to a Folder"), this);
    group->setObjectName(QStringLiteral("settings.reports"));
    new QVBoxLayout(group);
    return group;
}

QWidget* SettingsView::makeGuideGroup() {
    auto* group = new QGroupBox(QStringLiteral("What Each Tab Does"), this);
    group->setObjectName(QStringLiteral("settings.guide"));
    auto* layout = new QVBoxLayout(group);
    auto* toggle = new QToolButton(group);
    toggle->setObjectName(QStringLiteral("settings.guideToggle"));
    toggle->setText(QStringLiteral("Tab guide"));
    toggle->setCheckable(true);
    toggle->setChecked(false);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setArrowType(Qt::RightArrow);
    toggle->setAutoRaise(true);
    layout->addWidget(toggle);

    auto* rows = new QWidget(group);
    rows->setObjectName(QStringLiteral("settings.guideRows"));
    auto* column = new QVBoxLayout(rows);
    column->setSpacing(10);
    column->setContentsMargins(0, 4, 0, 4);
    for (AppSection section : allAppSections) {
        if (section == AppSection::settings) continue;
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        row->setAlignment(Qt::AlignTop);
        auto* symbol = new QLabel(rows);
        symbol->setFixedWidth(22);
        symbol->setPixmap(Symbols::pixmap(symbolName(section), 18, Style::accent(this)));
        Symbols::tag(symbol, symbolName(section));
        row->addWidget(symbol, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel* title = plainLabel(rawValue(section), rows);
        QFont titleFont = Style::font(Style::TextStyle::callout, title->font());
        titleFont.setWeight(QFont::DemiBold);
        title->setFont(titleFont);
        texts->addWidget(title);
        texts->addWidget(captionLabel(purpose(section), rows));
        row->addLayout(texts, 1);
        column->addLayout(row);
    }
    rows->setVisible(false);
    layout->addWidget(rows);
    connect(toggle, &QToolButton::toggled, rows, [toggle, rows](bool open) {
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        rows->setVisible(open);
    });
    return group;
}

QWidget* SettingsView::makeDrivesGroup() {
    auto* group = new QGroupBox(QStringLiteral("Granted Drives"), this);
    group->setObjectName(QStringLiteral("settings.drives"));
    auto* layout = new QVBoxLayout(group);
    if (model_.grantedLabels().isEmpty()) {
        QLabel* none = plainLabel(QStringLiteral("No drives granted yet."), group);
        Style::makeSecondary(none);
        layout->addWidget(none);
    }
    for (const QString& label : model_.grantedLabels()) {
        auto* row = new QHBoxLayout;
        auto* symbol = new QLabel(group);
        symbol->setPixmap(Symbols::pixmap(QStringLiteral("externaldrive.fill"), 16));
        Symbols::tag(symbol, QStringLiteral("externaldrive.fill"));
        row->addWidget(symbol);
        auto* name = new ElidedLabel(group);
        name->setFullText(label);
        name->setObjectName(QStringLiteral("settings.drive"));
        row->addWidget(name, 1);
        QPushButton* forget = button(QStringLiteral("Forget"), QStringLiteral("settings.forget"), group, true);
        connect(forget, &QPushButton::clicked, this, [this, label] { model_.forget(label); });
        row->addWidget(forget);
        layout->addLayout(row);
    }
    QPushButton* grant = button(QStringLiteral("Grant Access…"), QStringLiteral("settings.grantAccess"), group, false,
                                QStringLiteral("plus"));
    connect(grant, &QPushButton::clicked, this, [this] { model_.grantAccess(); });
    layout->addWidget(grant, 0, Qt::AlignLeft);
    if (model_.lastError()) layout->addWidget(captionLabel(*model_.lastError(), group, Style::bad()));
    return group;
}

QWidget* SettingsView::makeCacheGroup() {
    auto* group = new QGroupBox(QStringLiteral("Scan Cache"), this);
    group->setObjectName(QStringLiteral("settings.cache"));
    auto* layout = new QVBoxLayout(group);
    if (model_.showsCacheStatistics()) {
        const auto& stats = *model_.cacheStats();
        auto* form = new QFormLayout;
        QLabel* rows = plainLabel(Formats::groupedInteger(stats.totalRows), group);
        rows->setObjectName(QStringLiteral("settings.cacheRows"));
        form->addRow(QStringLiteral("Files remembered"), rows);
        form->addRow(QStringLiteral("Disk space"), plainLabel(Formats::fileByteCount(stats.databaseBytes), group));
        for (const auto& volume : stats.volumes) {
            // The volume's name in one line, cut in the middle when long: the form's label
            // column would otherwise take the whole name's width from the counts beside it.
            auto* name = new ElidedLabel(group);
            name->setObjectName(QStringLiteral("settings.cacheVolume"));
            name->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
            name->setMaximumWidth(name->fontMetrics().averageCharWidth() * 40);
            name->setFullText(QString::fromStdString(volume.label));
            form->addRow(name, plainLabel(SettingsModel::volumeRowText(volume), group));
        }
        layout->addLayout(form);
        QPushButton* clear =
            button(QStringLiteral("Clear Cache…"), QStringLiteral("settings.clearCache"), group, true);
        connect(clear, &QPushButton::clicked, this, [this] { model_.confirmAndClearCache(); });
        layout->addWidget(clear, 0, Qt::AlignLeft);
    } else {
        QLabel* empty = plainLabel(QStringLiteral("Empty. The cache fills as you scan — repeat scans and resumed "
                                                  "scans get dramatically faster."),
                                   group);
        empty->setObjectName(QStringLiteral("settings.cacheEmpty"));
        Style::makeSecondary(empty);
        layout->addWidget(empty);
    }
    layout->addWidget(captionLabel(
        QStringLiteral("Remembers each file's identity (size, date, camera info) so unchanged files never need "
                       "re-reading. Files that change are always re-read automatically, and every match is still "
                       "proven against the file's actual bytes."),
        group));
    if (model_.cacheError()) layout->addWidget(captionLabel(*model_.cacheError(), group, Style::bad()));
    return group;
}

void SettingsView::rebuild() {
    // Reports folder group: refilled in place.
    auto* reports = findChild<QGroupBox*>(QStringLiteral("settings.reports"));
    if (reports) {
        QLayout* layout = reports->layout();
        while (QLayoutItem* item = layout->takeAt(0)) {
            if (QWidget* w = item->widget()) discard(w);
            if (QLayout* l = item->layout()) {
                // Bounded by count(): QFormLayout warns on every takeAt() past its end.
                while (l->count() > 0) {
                    QLayoutItem* inner = l->takeAt(0);
                    if (inner->widget()) discard(inner->widget());
                    delete inner;
                }
            }
            delete item;
        }
        auto* box = static_cast<QVBoxLayout*>(layout);
        if (model_.reportsFolderPath()) {
            auto* row = new QFormLayout;
            QLabel* path = plainLabel(*model_.reportsFolderPath(), reports);
            path->setObjectName(QStringLiteral("settings.reportsFolder"));
            row->addRow(QStringLiteral("Folder"), path);
            box->addLayout(row);
            QPushButton* change = button(QStringLiteral("Change…"), QStringLiteral("settings.changeReports"), reports);
            connect(change, &QPushButton::clicked, this, [this] { model_.chooseReportsFolder(); });
            QPushButton* stop =
                button(QStringLiteral("Stop Saving Here"), QStringLiteral("settings.stopReports"), reports, true);
            connect(stop, &QPushButton::clicked, this, [this] { model_.stopSavingReports(); });
            auto* buttons = new QHBoxLayout;
            buttons->addWidget(change);
            buttons->addWidget(stop);
            buttons->addStretch(1);
            box->addLayout(buttons);
        } else {
            QPushButton* choose = button(QStringLiteral("Choose Folder…"), QStringLiteral("settings.chooseReports"),
                                         reports, false, QStringLiteral("folder.badge.plus"));
            connect(choose, &QPushButton::clicked, this, [this] { model_.chooseReportsFolder(); });
            box->addWidget(choose, 0, Qt::AlignLeft);
        }
        box->addWidget(captionLabel(
            QStringLiteral("When set, Brindlecove saves a plain-text (.txt) copy of every scan report into this folder — "
                           "handy for your own records, or to hand to an AI assistant as reference."),
            reports));
        if (model_.reportsError()) box->addWidget(captionLabel(*model_.reportsError(), reports, Style::bad()));
    }
    // Drives and cache groups: replaced whole.
    while (QLayoutItem* item = groups_->takeAt(0)) {
        if (QWidget* w = item->widget()) discard(w);
        delete item;
    }
    groups_->addWidget(makeDrivesGroup());
    groups_->addWidget(makeCacheGroup());
}

}  // namespace brindlecove
