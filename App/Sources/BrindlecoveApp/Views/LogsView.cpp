#include "BrindlecoveApp/Views/LogsView.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"
#include "BrindlecoveApp/Views/CapsuleLabel.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/EmptyStateView.hpp"
#include "BrindlecoveApp/Views/LogRowDelegate.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/NewJobDialog.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

using tessaline::ArchivedLog;

const QString noLogsDescription = QStringLiteral(
    "Every scan and verified copy is saved here automatically. Create a job to organize them by project.");

QAction* menuEntry(QMenu* menu, const QString& text, const QString& symbol, const QString& name) {
    QAction* action = menu->addAction(Symbols::icon(symbol), text);
    action->setObjectName(name);
    action->setProperty("symbol", symbol);
    return action;
}

QLabel* symbolLabel(const QString& symbol, int size, const QColor& tint, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap(symbol, size, tint));
    Symbols::tag(label, symbol);
    return label;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, Style::quaternaryFill(parent));
    line->setPalette(p);
    return line;
}

// The bars above and below the list are drawn on the window's bar colour.
QWidget* bar(QWidget* parent, const QString& name) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(name);
    widget->setAutoFillBackground(true);
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Window).darker(104));
    widget->setPalette(p);
    return widget;
}

}  // namespace

LogsView::LogsView(LogStore& store, ProjectStore& projects, LogsModel::Dependencies dependencies, QWidget* parent)
    : QWidget(parent), model_(store, projects, std::move(dependencies)) {
    setObjectName(QStringLiteral("logs"));
    // The title line carries the section's "More" menu.
    ScreenHeader* header = ScreenHeader::install(this, QStringLiteral("Logs"));
    auto* outer = static_cast<QVBoxLayout*>(layout());
    auto* more = new QToolButton(this);
    more->setObjectName(QStringLiteral("logs.more"));
    more->setText(QStringLiteral("More"));
    more->setToolTip(QStringLiteral("More"));
    more->setIcon(Symbols::icon(QStringLiteral("ellipsis.circle")));
    Symbols::tag(more, QStringLiteral("ellipsis.circle"));
    more->setPopupMode(QToolButton::InstantPopup);
    more->setAutoRaise(true);
    auto* moreMenu = new QMenu(more);
    moreMenu->setObjectName(QStringLiteral("logs.moreMenu"));
    connect(menuEntry(moreMenu, QStringLiteral("New Job\u2026"), QStringLiteral("folder.badge.plus"),
                      QStringLiteral("more.newJob")),
            &QAction::triggered, this, [this] { openNewJob(std::nullopt); });
    connect(menuEntry(moreMenu, QStringLiteral("Reveal Logs Folder"), QStringLiteral("folder"),
                      QStringLiteral("more.reveal")),
            &QAction::triggered, this, [this] { model_.revealArchiveFolder(); });
    connect(menuEntry(moreMenu, QStringLiteral("Refresh"), QStringLiteral("arrow.clockwise"),
                      QStringLiteral("more.refresh")),
            &QAction::triggered, this, [this] { model_.refresh(); });
    more->setMenu(moreMenu);
    header->setTrailing(more);

    outer->addWidget(makeHeaderBar());
    outer->addWidget(divider(this));

    content_ = new QStackedWidget(this);
    empty_ = new EmptyStateView(QStringLiteral("clock.arrow.circlepath"), QStringLiteral("No Logs Yet"),
                                noLogsDescription, content_);
    empty_->setObjectName(QStringLiteral("logs.empty"));
    content_->addWidget(empty_);
    list_ = new QTreeWidget(content_);
    list_->setObjectName(QStringLiteral("logs.list"));
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(false);
    list_->setIndentation(0);
    list_->setItemsExpandable(false);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setItemDelegate(new LogRowDelegate(list_));
    list_->setMouseTracking(true);
    content_->addWidget(list_);
    outer->addWidget(content_, 1);
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { openItem(item); });
    connect(list_, &QWidget::customContextMenuRequested, this, &LogsView::showRowMenu);

    outer->addWidget(divider(this));
    outer->addWidget(makeSavingBar());

    renderTimer_.setSingleShot(true);
    renderTimer_.setInterval(0);
    connect(&renderTimer_, &QTimer::timeout, this, &LogsView::render);
    connect(&model_, &LogsModel::changed, this, &LogsView::scheduleRender);
    render();
}

QWidget* LogsView::makeHeaderBar() {
    QWidget* header = bar(this, QStringLiteral("logs.header"));
    auto* lines = new QVBoxLayout(header);
    lines->setContentsMargins(12, 8, 12, 8);
    lines->setSpacing(8);

    auto* picker = new QHBoxLayout;
    picker->setSpacing(0);
    modeGroup_ = new QButtonGroup(header);
    modeGroup_->setExclusive(true);
    for (LogsModel::GroupMode mode : {LogsModel::GroupMode::date, LogsModel::GroupMode::job}) {
        auto* segment = new QToolButton(header);
        segment->setText(LogsModel::modeText(mode));
        segment->setObjectName(mode == LogsModel::GroupMode::date ? QStringLiteral("logs.mode.date")
                                                                   : QStringLiteral("logs.mode.job"));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        modeGroup_->addButton(segment, static_cast<int>(mode));
        picker->addWidget(segment);
    }
    connect(modeGroup_, &QButtonGroup::idClicked, this,
            [this](int id) { model_.setMode(static_cast<LogsModel::GroupMode>(id)); });
    lines->addLayout(picker);

    auto* filing = new QHBoxLayout;
    filing->setSpacing(6);
    QFont callout = Style::font(Style::TextStyle::callout, font());
    filing->addWidget(symbolLabel(QStringLiteral("tray.and.arrow.down"), 14, Style::secondaryText(this), header));
    auto* filingText = new QLabel(QStringLiteral("Filing new logs under:"), header);
    filingText->setFont(callout);
    Style::makeSecondary(filingText);
    filing->addWidget(filingText);
    activeJob_ = new QToolButton(header);
    activeJob_->setObjectName(QStringLiteral("logs.activeJob"));
    activeJob_->setPopupMode(QToolButton::InstantPopup);
    activeJob_->setAutoRaise(true);
    QFont bold = callout;
    bold.setWeight(QFont::DemiBold);
    activeJob_->setFont(bold);
    activeJobMenu_ = new QMenu(activeJob_);
    activeJobMenu_->setObjectName(QStringLiteral("logs.activeJobMenu"));
    activeJob_->setMenu(activeJobMenu_);
    filing->addWidget(activeJob_);
    filing->addStretch(1);
    lines->addLayout(filing);
    return header;
}

QWidget* LogsView::makeSavingBar() {
    QWidget* saving = bar(this, QStringLiteral("logs.savingBar"));
    auto* row = new QHBoxLayout(saving);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    row->addWidget(symbolLabel(QStringLiteral("folder.fill"), 16, Style::secondaryText(this), saving));
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    auto* caption = new QLabel(QStringLiteral("Saving logs to"), saving);
    caption->setFont(Style::font(Style::TextStyle::caption2, font()));
    Style::makeSecondary(caption);
    text->addWidget(caption);
    folderPath_ = new ElidedLabel(saving);
    folderPath_->setObjectName(QStringLiteral("logs.folderPath"));
    folderPath_->setFont(Style::font(Style::TextStyle::caption, font()));
    text->addWidget(folderPath_);
    auto warningLabel = [&](const QString& name) {
        auto* label = new QLabel(saving);
        label->setObjectName(name);
        label->setFont(Style::font(Style::TextStyle::caption, font()));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        QPalette warning = label->palette();
        warning.setColor(QPalette::WindowText, Style::warn());
        label->setPalette(warning);
        label->hide();
        text->addWidget(label);
        return label;
    };
    filingNotice_ = warningLabel(QStringLiteral("logs.filingNotice"));
    message_ = warningLabel(QStringLiteral("logs.message"));
    row->addLayout(text, 1);
    auto* reveal = new QPushButton(QStringLiteral("Reveal"), saving);
    reveal->setObjectName(QStringLiteral("logs.reveal"));
    connect(reveal, &QPushButton::clicked, this, [this] { model_.revealArchiveFolder(); });
    row->addWidget(reveal);
    auto* change = new QPushButton(QStringLiteral("Change\u2026"), saving);
    change->setObjectName(QStringLiteral("logs.change"));
    connect(change, &QPushButton::clicked, this, [this] { model_.chooseFolder(); });
    row->addWidget(change);
    return saving;
}

void LogsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.refresh();
}

void LogsView::scheduleRender() { renderTimer_.start(); }

void LogsView::renderNow() {
    renderTimer_.stop();
    render();
}

void LogsView::render() {
    if (QAbstractButton* segment = modeGroup_->button(static_cast<int>(model_.mode())))
        if (!segment->isChecked()) segment->setChecked(true);
    renderActiveJobMenu();
    folderPath_->setFullText(model_.store().folderPath());
    const std::optional<QString>& notice = model_.store().filingNotice();
    if (filingNotice_->text() != notice.value_or(QString())) filingNotice_->setText(notice.value_or(QString()));
    filingNotice_->setVisible(notice.has_value());
    const std::optional<QString>& message = model_.message();
    if (message_->text() != message.value_or(QString())) message_->setText(message.value_or(QString()));
    message_->setVisible(message.has_value());
    // Until the archive's first listing arrives the empty state says it is loading.
    const bool loading = model_.isLoading();
    empty_->setTitle(loading ? QStringLiteral("Loading Logs\u2026") : QStringLiteral("No Logs Yet"));
    empty_->setDescription(loading ? QString() : noLogsDescription);
    content_->setCurrentWidget(loading || model_.isEmpty() ? empty_ : static_cast<QWidget*>(list_));
    renderList();
}

void LogsView::renderActiveJobMenu() {
    activeJob_->setText(model_.activeJobName());
    activeJobMenu_->clear();
    const std::optional<QString>& active = model_.projects().activeJob();
    QAction* unfiled = menuEntry(activeJobMenu_, LogStore::unfiledName,
                                 active ? QStringLiteral("tray") : QStringLiteral("checkmark"),
                                 QStringLiteral("activeJob.unfiled"));
    connect(unfiled, &QAction::triggered, this, [this] { model_.setActiveJob(std::nullopt); });
    const QStringList& jobs = model_.projects().jobs();
    if (!jobs.isEmpty()) activeJobMenu_->addSeparator();
    for (const QString& job : jobs) {
        QAction* entry = menuEntry(activeJobMenu_, job,
                                   active == job ? QStringLiteral("checkmark") : QStringLiteral("folder"),
                                   QStringLiteral("activeJob.job"));
        entry->setData(job);
        connect(entry, &QAction::triggered, this, [this, job] { model_.setActiveJob(job); });
    }
    activeJobMenu_->addSeparator();
    connect(menuEntry(activeJobMenu_, QStringLiteral("New Job\u2026"), QStringLiteral("plus"),
                      QStringLiteral("activeJob.new")),
            &QAction::triggered, this, [this] { openNewJob(std::nullopt); });
}

QWidget* LogsView::makeJobHeader(const LogsModel::Section& section) {
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("logs.jobHeader"));
    header->setProperty("job", section.key);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(6, 8, 6, 2);
    row->setSpacing(6);
    const QString symbol = section.isUnfiled ? QStringLiteral("tray") : QStringLiteral("folder.fill");
    auto* icon = symbolLabel(symbol, 14, palette().color(QPalette::WindowText), header);
    icon->setObjectName(QStringLiteral("jobHeader.symbol"));
    row->addWidget(icon);
    auto* name = new QLabel(header);
    name->setTextFormat(Qt::PlainText);
    name->setText(section.title);
    name->setObjectName(QStringLiteral("jobHeader.name"));
    QFont bold = name->font();
    bold.setWeight(QFont::DemiBold);
    name->setFont(bold);
    row->addWidget(name);
    auto* count = new CapsuleLabel(Formats::groupedInteger(qint64(section.logs.size())), Style::quaternaryFill(this), QColor(), header);
    count->setObjectName(QStringLiteral("jobHeader.count"));
    row->addWidget(count);
    row->addStretch(1);
    if (!section.isUnfiled) {
        auto* menuButton = new QToolButton(header);
        menuButton->setObjectName(QStringLiteral("jobHeader.menu"));
        menuButton->setIcon(Symbols::icon(QStringLiteral("ellipsis.circle")));
        Symbols::tag(menuButton, QStringLiteral("ellipsis.circle"));
        menuButton->setPopupMode(QToolButton::InstantPopup);
        menuButton->setAutoRaise(true);
        auto* menu = new QMenu(menuButton);
        const QString job = section.key;
        connect(menuEntry(menu, QStringLiteral("File New Logs Here"), QStringLiteral("target"),
                          QStringLiteral("job.fileHere")),
                &QAction::triggered, this, [this, job] { model_.setActiveJob(job); });
        QAction* remove = menuEntry(menu, QStringLiteral("Delete Job (keeps its logs, unfiles them)"),
                                    QStringLiteral("trash"), QStringLiteral("job.delete"));
        remove->setProperty("destructive", true);
        connect(remove, &QAction::triggered, this, [this, job] { model_.deleteJob(job); });
        menuButton->setMenu(menu);
        row->addWidget(menuButton);
    }
    return header;
}

void LogsView::renderList() {
    const int scroll = list_->verticalScrollBar()->value();
    // Item widgets of removed rows are deleted later by the view, never at once.
    list_->clear();
    if (model_.isEmpty()) return;
    const bool byJob = model_.mode() == LogsModel::GroupMode::job;
    QFont sectionFont = font();
    sectionFont.setWeight(QFont::DemiBold);
    for (const LogsModel::Section& section : model_.sections()) {
        auto* head = new QTreeWidgetItem(list_);
        head->setFlags(Qt::ItemIsEnabled);
        head->setData(0, Qt::UserRole, section.key);
        if (section.isJob) {
            QWidget* header = makeJobHeader(section);
            head->setSizeHint(0, header->sizeHint());
            list_->setItemWidget(head, 0, header);
        } else {
            head->setText(0, section.title);
            head->setFont(0, sectionFont);
            head->setSizeHint(0, QSize(0, QFontMetrics(sectionFont).height() + 14));
        }
        if (section.logs.empty()) {
            auto* none = new QTreeWidgetItem(head);
            none->setFlags(Qt::ItemIsEnabled);
            none->setText(0, QStringLiteral("No logs filed here yet."));
            none->setFont(0, Style::font(Style::TextStyle::caption, font()));
            none->setForeground(0, Style::secondaryText(this));
            none->setData(0, Qt::UserRole, QStringLiteral("empty"));
        }
        for (const ArchivedLog& log : section.logs) {
            auto* item = new QTreeWidgetItem(head);
            item->setFlags(Qt::ItemIsEnabled);
            LogRowDelegate::describe(item, log, !byJob);
        }
        head->setExpanded(true);
    }
    list_->verticalScrollBar()->setValue(scroll);
}

std::optional<ArchivedLog> LogsView::logOf(const QTreeWidgetItem* item) const {
    if (!item) return std::nullopt;
    QString id = item->data(0, LogRowDelegate::logId).toString();
    if (id.isEmpty()) return std::nullopt;
    for (const ArchivedLog& log : model_.store().logs())
        if (QString::fromStdString(log.id) == id) return log;
    return std::nullopt;
}

void LogsView::openItem(QTreeWidgetItem* item) {
    if (std::optional<ArchivedLog> log = logOf(item)) model_.openLog(*log);
}

QMenu* LogsView::makeRowMenu(const ArchivedLog& log) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("logs.rowMenu"));
    // Every entry acts on the log as it was when the menu opened.
    connect(menuEntry(menu, QStringLiteral("Open PDF"), QStringLiteral("doc.on.doc.fill"), QStringLiteral("row.open")),
            &QAction::triggered, this, [this, log] { model_.openLog(log); });
    connect(menuEntry(menu, QStringLiteral("Show in File Manager"), QStringLiteral("folder"),
                      QStringLiteral("row.reveal")),
            &QAction::triggered, this, [this, log] { model_.revealLog(log); });
    menu->addSeparator();
    QMenu* move = menu->addMenu(QStringLiteral("Move to Job"));
    move->setObjectName(QStringLiteral("row.moveMenu"));
    const QString current = LogsModel::jobName(log);
    connect(menuEntry(move, LogStore::unfiledName,
                      log.project ? QStringLiteral("tray") : QStringLiteral("checkmark"),
                      QStringLiteral("row.move.unfiled")),
            &QAction::triggered, this, [this, log] { model_.fileLog(log, std::nullopt); });
    const QStringList& jobs = model_.projects().jobs();
    if (!jobs.isEmpty()) move->addSeparator();
    for (const QString& job : jobs) {
        QAction* entry = menuEntry(move, job, current == job ? QStringLiteral("checkmark") : QStringLiteral("folder"),
                                   QStringLiteral("row.move.job"));
        entry->setData(job);
        connect(entry, &QAction::triggered, this, [this, log, job] { model_.fileLog(log, job); });
    }
    move->addSeparator();
    connect(menuEntry(move, QStringLiteral("New Job\u2026"), QStringLiteral("plus"), QStringLiteral("row.move.new")),
            &QAction::triggered, this, [this, log] { openNewJob(log); });
    menu->addSeparator();
    QAction* remove = menuEntry(menu, QStringLiteral("Delete"), QStringLiteral("trash"), QStringLiteral("row.delete"));
    remove->setProperty("destructive", true);
    connect(remove, &QAction::triggered, this, [this, log] { model_.deleteLog(log); });
    return menu;
}

void LogsView::showRowMenu(const QPoint& position) {
    std::optional<ArchivedLog> log = logOf(list_->itemAt(position));
    if (!log) return;
    QPointer<QMenu> menu = makeRowMenu(*log);
    menu->exec(list_->viewport()->mapToGlobal(position));
    if (menu) menu->deleteLater();
}

NewJobDialog* LogsView::openNewJob(std::optional<ArchivedLog> logToMove) {
    model_.beginNewJob(std::move(logToMove));
    auto* dialog = new NewJobDialog(this);
    connect(dialog, &NewJobDialog::created, this, [this](const QString& name) { model_.createJob(name); });
    connect(dialog, &NewJobDialog::cancelled, this, [this] { model_.cancelNewJob(); });
    dialog->open();
    return dialog;
}

QWidget* makeLogsView(MainWindow& window) {
    const WindowServices& services = window.services();
    if (!services.logStore || !services.projectStore) return nullptr;
    LogsModel::Dependencies dependencies;
    dependencies.dialogs = services.dialogs;
    dependencies.revealer = services.revealer;
    return new LogsView(*services.logStore, *services.projectStore, std::move(dependencies));
}

}  // namespace brindlecove
