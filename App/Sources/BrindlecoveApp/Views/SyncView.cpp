#include "BrindlecoveApp/Views/SyncView.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QCheckBox>
#include <QFile>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brindlecove {

namespace {

QLabel* textLabel(const QString& text, QWidget* parent, const QString& name = {}) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    if (!name.isEmpty()) label->setObjectName(name);
    return label;
}

QLabel* caption(const QString& text, QWidget* parent, Style::TextStyle style = Style::TextStyle::caption) {
    QLabel* label = textLabel(text, parent);
    label->setFont(Style::font(style, label->font()));
    Style::makeSecondary(label);
    return label;
}

// Takes a widget out of its layout at once (lookups no longer find it) and deletes it
// later: it may be the button whose click is being handled.
void discard(QWidget* widget) {
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

void clearLayout(QVBoxLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) discard(widget);
        delete item;
    }
}


}  // namespace

SyncView::SyncView(SyncManager& manager, AddSyncPairSheet::Dependencies sheetDependencies, QWidget* parent)
    : QWidget(parent), manager_(manager), sheetDependencies_(std::move(sheetDependencies)) {
    setObjectName(QStringLiteral("sync"));
    content_ = ScreenHeader::install(this, QStringLiteral("Sync"))->addScrollingBody();
    content_->setSpacing(12);

    // The inserted card's prompt, present only while there is one.
    promptBox_ = box(QString(), QStringLiteral("sync.prompt"));
    promptLayout_ = new QVBoxLayout(promptBox_);
    promptLayout_->setSpacing(8);

    QGroupBox* switches = box(QString(), QStringLiteral("sync.switches"));
    auto* switchesLayout = new QVBoxLayout(switches);
    enabled_ = new QCheckBox(QStringLiteral("Watch for drives"), switches);
    enabled_->setObjectName(QStringLiteral("sync.enabled"));
    switchesLayout->addWidget(enabled_);
    autoRun_ = new QCheckBox(QStringLiteral("Auto-sync on insert (off = ask me first)"), switches);
    autoRun_->setObjectName(QStringLiteral("sync.autoRun"));
    switchesLayout->addWidget(autoRun_);
    switchesLayout->addWidget(
        caption(QStringLiteral("When a drive whose label matches a pair below is inserted, Brindlecove copies its new "
                               "files to the destination and verifies every one \u2014 automatically, or after a "
                               "one-click prompt. No window needed."),
                switches));
    connect(enabled_, &QCheckBox::clicked, this, [this](bool on) { manager_.setEnabled(on); });
    connect(autoRun_, &QCheckBox::clicked, this, [this](bool on) { manager_.setAutoRunOnMount(on); });

    // The pairs syncing now; present only while one runs.
    runningBox_ = box(QStringLiteral("Syncing Now"), QStringLiteral("sync.running"));
    runningLayout_ = new QVBoxLayout(runningBox_);
    runningLayout_->setSpacing(10);

    QGroupBox* pairs = box(QStringLiteral("Sync Pairs"), QStringLiteral("sync.pairs"));
    auto* pairsOuter = new QVBoxLayout(pairs);
    pairsLayout_ = new QVBoxLayout;
    pairsLayout_->setSpacing(6);
    pairsOuter->addLayout(pairsLayout_);
    noPairs_ = textLabel(QStringLiteral("No sync pairs yet."), pairs, QStringLiteral("sync.noPairs"));
    Style::makeSecondary(noPairs_);
    pairsOuter->addWidget(noPairs_);
    auto* addPair = new QPushButton(Symbols::icon(QStringLiteral("plus")), QStringLiteral("Add Sync Pair\u2026"), pairs);
    addPair->setObjectName(QStringLiteral("sync.addPair"));
    Symbols::tag(addPair, QStringLiteral("plus"));
    pairsOuter->addWidget(addPair, 0, Qt::AlignLeft);
    connect(addPair, &QPushButton::clicked, this, [this] { openAddSheet(); });

    QGroupBox* schedule = box(QStringLiteral("Scheduled Daily Sync"), QStringLiteral("sync.schedule"));
    auto* scheduleLayout = new QVBoxLayout(schedule);
    scheduled_ = new QCheckBox(QStringLiteral("Run a daily sync automatically"), schedule);
    scheduled_->setObjectName(QStringLiteral("sync.scheduled"));
    scheduleLayout->addWidget(scheduled_);
    connect(scheduled_, &QCheckBox::clicked, this, [this](bool on) { manager_.setScheduledSyncEnabled(on); });
    syncNow_ = new QPushButton(QStringLiteral("Sync Now"), schedule);
    syncNow_->setObjectName(QStringLiteral("sync.syncNow"));
    scheduleLayout->addWidget(syncNow_, 0, Qt::AlignLeft);
    connect(syncNow_, &QPushButton::clicked, this, [this] { manager_.runScheduledNow(false); });
    lastRunRow_ = new QWidget(schedule);
    auto* lastRunForm = new QFormLayout(lastRunRow_);
    lastRunForm->setContentsMargins(0, 0, 0, 0);
    lastRun_ = textLabel(QString(), lastRunRow_, QStringLiteral("sync.lastRun"));
    lastRunForm->addRow(QStringLiteral("Last scheduled run"), lastRun_);
    scheduleLayout->addWidget(lastRunRow_);
    auto* loginForm = new QFormLayout;
    loginStatus_ = textLabel(QString(), schedule, QStringLiteral("sync.loginStatus"));
    loginForm->addRow(QStringLiteral("Launch at login"), loginStatus_);
    scheduleLayout->addLayout(loginForm);
    auto* enableLogin = new QPushButton(QStringLiteral("Enable Launch at Login"), schedule);
    enableLogin->setObjectName(QStringLiteral("sync.enableLogin"));
    scheduleLayout->addWidget(enableLogin, 0, Qt::AlignLeft);
    connect(enableLogin, &QPushButton::clicked, this, [this] { manager_.setLaunchAtLogin(true); });
    scheduleLayout->addWidget(
        caption(QStringLiteral("Scheduling uses an XDG autostart entry + background scheduler \u2014 no system daemon "
                               "\u2014 so it runs from the system tray with no window open."),
                schedule));

    QGroupBox* today = box(QStringLiteral("Today"), QStringLiteral("sync.today"));
    todayLayout_ = new QVBoxLayout(today);

    QGroupBox* activity = box(QStringLiteral("Recent Activity"), QStringLiteral("sync.activityBox"));
    auto* activityLayout = new QVBoxLayout(activity);
    activity_ = textLabel(QString(), activity, QStringLiteral("sync.activity"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(Style::font(Style::TextStyle::caption, font()).pointSizeF());
    activity_->setFont(mono);
    activity_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    activityLayout->addWidget(activity_);
    noActivity_ = textLabel(QStringLiteral("Nothing yet."), activity, QStringLiteral("sync.noActivity"));
    Style::makeSecondary(noActivity_);
    activityLayout->addWidget(noActivity_);

    QGroupBox* config = box(QStringLiteral("Portable Config"), QStringLiteral("sync.config"));
    auto* configLayout = new QVBoxLayout(config);
    configPath_ = caption(QStringLiteral("Config file: ") + qtPath(manager_.configURL()), config, Style::TextStyle::caption2);
    configPath_->setObjectName(QStringLiteral("sync.configPath"));
    configPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    configLayout->addWidget(configPath_);
    configLayout->addWidget(caption(QStringLiteral("This JSON is portable \u2014 copy it to another computer and it "
                                                   "still describes valid sync pairs."),
                                    config, Style::TextStyle::caption2));

    content_->addStretch(1);

    renderTimer_.setSingleShot(true);
    renderTimer_.setInterval(0);
    connect(&renderTimer_, &QTimer::timeout, this, &SyncView::render);
    connect(&manager_, &SyncManager::changed, this, &SyncView::scheduleRender);
    connect(&manager_, &SyncManager::lastScheduledRunChanged, this, &SyncView::scheduleRender);
    connect(&manager_, &SyncManager::runningSyncsChanged, this, [this] { runningRender_.schedule(); });
    render();
}

QGroupBox* SyncView::box(const QString& title, const QString& name) {
    auto* group = new QGroupBox(title, content_->parentWidget());
    group->setObjectName(name);
    content_->addWidget(group);
    return group;
}

void SyncView::scheduleRender() { renderTimer_.start(); }

void SyncView::renderNow() {
    renderTimer_.stop();
    render();
}

void SyncView::render() {
    renderPrompt();
    renderRunning();
    {
        QSignalBlocker a(enabled_), b(autoRun_), c(scheduled_);
        enabled_->setChecked(manager_.enabled());
        autoRun_->setChecked(manager_.autoRunOnMount());
        scheduled_->setChecked(manager_.scheduledSyncEnabled());
    }
    renderPairs();
    syncNow_->setEnabled(!manager_.pairs().empty());
    const std::optional<QDateTime>& lastRun = manager_.lastScheduledRun();
    lastRunRow_->setVisible(lastRun.has_value());
    if (lastRun) {
        QDateTime local = lastRun->toLocalTime();
        lastRun_->setText(Formats::abbreviatedDate(local.date()) + QStringLiteral(", ") +
                          QLocale().toString(local.time(), QLocale::ShortFormat));
    }
    loginStatus_->setText(manager_.launchAtLoginStatus());
    renderToday();
    const QStringList& lines = manager_.activity();
    activity_->setText(lines.join(QLatin1Char('\n')));
    activity_->setVisible(!lines.isEmpty());
    noActivity_->setVisible(lines.isEmpty());
}

void SyncView::renderPrompt() {
    const std::optional<SyncManager::PendingPrompt>& prompt = manager_.pendingPrompt();
    const QString shownId = promptBox_->property("promptId").toString();
    const QString wantedId = prompt ? prompt->id.toString() : QString();
    promptBox_->setVisible(prompt.has_value());
    if (shownId == wantedId && (prompt || promptLayout_->isEmpty())) return;
    clearLayout(promptLayout_);
    promptBox_->setProperty("promptId", wantedId);
    if (!prompt) return;

    auto* heading = new QWidget(promptBox_);
    auto* headingRow = new QHBoxLayout(heading);
    headingRow->setContentsMargins(0, 0, 0, 0);
    auto* sparkles = new QLabel(heading);
    sparkles->setPixmap(Symbols::pixmap(QStringLiteral("sparkles"), 18, Style::accent(this)));
    Symbols::tag(sparkles, QStringLiteral("sparkles"));
    headingRow->addWidget(sparkles);
    QLabel* title = textLabel(QStringLiteral("\u201C%1\u201D detected").arg(prompt->cardLabel), heading,
                              QStringLiteral("prompt.title"));
    title->setFont(Style::font(Style::TextStyle::headline, title->font()));
    headingRow->addWidget(title, 1);
    promptLayout_->addWidget(heading);
    promptLayout_->addWidget(caption(QStringLiteral("Run a preset for this card?"), promptBox_));

    auto* buttons = new QWidget(promptBox_);
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    for (const QString& name : prompt->pairNames) {
        auto* run = new QPushButton(QStringLiteral("Run \u201C%1\u201D").arg(name), buttons);
        run->setObjectName(QStringLiteral("prompt.run"));
        run->setProperty("pairName", name);
        run->setDefault(true);
        connect(run, &QPushButton::clicked, this, [this, name] { runPreset(name); });
        buttonRow->addWidget(run);
    }
    auto* dismiss = new QPushButton(QStringLiteral("Dismiss"), buttons);
    dismiss->setObjectName(QStringLiteral("prompt.dismiss"));
    connect(dismiss, &QPushButton::clicked, this, [this] { manager_.setPendingPrompt(std::nullopt); });
    buttonRow->addWidget(dismiss);
    buttonRow->addStretch(1);
    promptLayout_->addWidget(buttons);
}

void SyncView::runPreset(const QString& name) {
    // The prompt goes first; the run after it, on every inserted card of the pair's label
    // (two cards of one label are both copied).
    manager_.setPendingPrompt(std::nullopt);
    manager_.runPromptedPair(name);
}

QWidget* SyncView::makePairRow(const tessaline::SyncPair& pair) {
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("sync.pairRow"));
    row->setProperty("pairId", QString::fromStdString(pair.id.text()));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    QLabel* name = textLabel(QString::fromStdString(pair.name), row, QStringLiteral("pair.name"));
    QFont medium = name->font();
    medium.setWeight(QFont::Medium);
    name->setFont(medium);
    text->addWidget(name);
    QLabel* route = caption(AddSyncPairForm::route(pair), row);
    route->setObjectName(QStringLiteral("pair.route"));
    text->addWidget(route);
    layout->addLayout(text, 1);

    const tessaline::Uuid id = pair.id;
    auto* toggle = new QCheckBox(row);
    toggle->setObjectName(QStringLiteral("pair.toggle"));
    toggle->setChecked(pair.enabled);
    toggle->setAccessibleName(QString::fromStdString(pair.name));
    connect(toggle, &QCheckBox::clicked, this, [this, id] { manager_.togglePair(id); });
    layout->addWidget(toggle);
    auto* trash = new QToolButton(row);
    trash->setObjectName(QStringLiteral("pair.trash"));
    trash->setIcon(Symbols::icon(QStringLiteral("trash"), Style::bad()));
    Symbols::tag(trash, QStringLiteral("trash"));
    trash->setAutoRaise(true);
    trash->setToolTip(QStringLiteral("Delete"));
    connect(trash, &QToolButton::clicked, this, [this, id] { manager_.removePair(id); });
    layout->addWidget(trash);
    return row;
}

void SyncView::renderPairs() {
    const std::vector<tessaline::SyncPair>& pairs = manager_.pairs();
    noPairs_->setVisible(pairs.empty());
    if (pairs == shownPairs_) return;
    // The same pairs in the same order keep their rows (and the focus); others are rebuilt.
    bool sameRows = pairs.size() == shownPairs_.size() &&
                    std::equal(pairs.begin(), pairs.end(), shownPairs_.begin(),
                               [](const auto& a, const auto& b) { return a.id == b.id; });
    shownPairs_ = pairs;
    if (sameRows) {
        for (int i = 0; i < pairsLayout_->count(); ++i) {
            QWidget* row = pairsLayout_->itemAt(i)->widget();
            const tessaline::SyncPair& pair = pairs[size_t(i)];
            row->findChild<QLabel*>(QStringLiteral("pair.name"))->setText(QString::fromStdString(pair.name));
            row->findChild<QLabel*>(QStringLiteral("pair.route"))->setText(AddSyncPairForm::route(pair));
            auto* toggle = row->findChild<QCheckBox*>(QStringLiteral("pair.toggle"));
            QSignalBlocker blocker(toggle);
            toggle->setChecked(pair.enabled);
        }
        return;
    }
    clearLayout(pairsLayout_);
    for (const tessaline::SyncPair& pair : pairs) pairsLayout_->addWidget(makePairRow(pair));
}

void SyncView::renderRunning() {
    const std::vector<SyncRunProgress>& runs = manager_.runningSyncs();
    runningBox_->setVisible(!runs.empty());
    QStringList names;
    for (const SyncRunProgress& run : runs) names << run.pairName;
    if (names != shownRunning_) {
        // Rows come and go with runs; a run that goes on keeps its row.
        clearLayout(runningLayout_);
        for (const QString& name : names) {
            auto* row = new QWidget(runningBox_);
            row->setObjectName(QStringLiteral("running.row"));
            auto* layout = FormText::column(row, 4);
            QLabel* title = textLabel(name, row, QStringLiteral("running.name"));
            QFont medium = title->font();
            medium.setWeight(QFont::Medium);
            title->setFont(medium);
            layout->addWidget(title);
            layout->addWidget(FormText::progressBar(QStringLiteral("running.progress"), row));
            auto* status = caption(QString(), row);
            status->setObjectName(QStringLiteral("running.status"));
            layout->addWidget(status);
            auto* bytes = caption(QString(), row);
            bytes->setObjectName(QStringLiteral("running.bytes"));
            layout->addWidget(bytes);
            runningLayout_->addWidget(row);
        }
        shownRunning_ = names;
    }
    for (int i = 0; i < runningLayout_->count() && i < static_cast<int>(runs.size()); ++i) {
        QWidget* row = runningLayout_->itemAt(i)->widget();
        const SyncRunProgress& run = runs[size_t(i)];
        auto* bar = row->findChild<QProgressBar*>(QStringLiteral("running.progress"));
        if (const auto fraction = run.fraction()) {
            bar->setRange(0, 10000);
            bar->setValue(static_cast<int>(std::clamp(*fraction, 0.0, 1.0) * 10000));
        } else {
            bar->setRange(0, 0);
        }
        row->findChild<QLabel*>(QStringLiteral("running.status"))->setText(run.statusLine());
        auto* bytes = row->findChild<QLabel*>(QStringLiteral("running.bytes"));
        const QString line = run.bytesLine();
        bytes->setText(line);
        bytes->setVisible(!line.isEmpty());
    }
}

void SyncView::renderToday() {
    const std::optional<tessaline::SyncReport>& report = manager_.todayReport();
    if (todayLayout_->count() > 0 && report == shownToday_) return;
    shownToday_ = report;
    clearLayout(todayLayout_);
    if (!report || report->runs.empty()) {
        QLabel* none = textLabel(QStringLiteral("No syncs yet today."), this, QStringLiteral("sync.noSyncs"));
        Style::makeSecondary(none);
        todayLayout_->addWidget(none);
        return;
    }
    auto* rows = new QWidget(this);
    rows->setObjectName(QStringLiteral("sync.totals"));
    auto* form = new QFormLayout(rows);
    form->setContentsMargins(0, 0, 0, 0);
    const std::pair<QString, int> totals[] = {
        {QStringLiteral("Cards processed"), report->cardsProcessed()},
        {QStringLiteral("Drives synced"), report->drivesSynced()},
        {QStringLiteral("New files"), report->newFiles()},
        {QStringLiteral("Already present"), report->existingFiles()},
        {QStringLiteral("Failed"), report->failedVerifications()},
    };
    for (const auto& [label, count] : totals) form->addRow(label, textLabel(Formats::groupedInteger(count), rows));
    todayLayout_->addWidget(rows);
}

AddSyncPairSheet* SyncView::openAddSheet() {
    if (sheet_) {
        sheet_->raise();
        sheet_->activateWindow();
        return sheet_;
    }
    sheet_ = new AddSyncPairSheet(sheetDependencies_, this);
    connect(sheet_, &AddSyncPairSheet::pairAdded, this,
            [this](const tessaline::SyncPair& pair) { manager_.addPair(pair); });
    sheet_->open();
    return sheet_;
}

QWidget* makeSyncView(MainWindow& window) {
    const WindowServices& services = window.services();
    if (!services.syncManager) return nullptr;
    AddSyncPairSheet::Dependencies dependencies;
    dependencies.dialogs = services.dialogs;
    return new SyncView(*services.syncManager, std::move(dependencies));
}

}  // namespace brindlecove
