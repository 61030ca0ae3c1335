#include "BrindlecoveApp/Views/MainWindow.hpp"

#include "BrindlecoveApp/ViewModels/WindowModels.hpp"

#include "BrindlecoveApp/Views/EmptyStateView.hpp"
#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"
#include "BrindlecoveApp/Views/WheelGuard.hpp"
#include "BrindlecoveApp/Views/WrappedToolTips.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QVBoxLayout>

namespace brindlecove {

namespace {
constexpr int sectionRole = Qt::UserRole;
constexpr int symbolRole = Qt::UserRole + 1;
}  // namespace

MainWindow::MainWindow(WindowServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)), models_(std::make_unique<WindowModels>(services_.dialogs)) {
    // Before any section is built: the wheel scrolls the pages and changes no choice.
    WheelGuard::install();
    // Every tooltip wraps within the screen.
    WrappedToolTips::install();
    setObjectName(QStringLiteral("main"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Brindlecove"));
    setMinimumSize(720, 480);

    auto* splitter = new QSplitter(this);
    splitter->setChildrenCollapsible(false);

    auto* sidebarHost = new QWidget(splitter);
    auto* sidebarLayout = new QVBoxLayout(sidebarHost);
    sidebarLayout->setContentsMargins(0, 0, 0, 0);
    auto* heading = new QLabel(QStringLiteral("Brindlecove"), sidebarHost);
    heading->setObjectName(QStringLiteral("sidebar.title"));
    heading->setFont(Style::font(Style::TextStyle::headline, heading->font()));
    heading->setContentsMargins(10, 8, 10, 4);
    sidebarLayout->addWidget(heading);

    sidebar_ = new QListWidget(sidebarHost);
    sidebar_->setObjectName(QStringLiteral("sidebar"));
    sidebar_->setIconSize(QSize(18, 18));
    for (AppSection section : allAppSections) {
        auto* item = new QListWidgetItem(
            Symbols::icon(symbolName(section), Style::accent(this), palette().color(QPalette::HighlightedText)),
            rawValue(section));
        item->setData(sectionRole, static_cast<int>(section));
        item->setData(symbolRole, symbolName(section));
        sidebar_->addItem(item);
    }
    sidebarLayout->addWidget(sidebar_);
    sidebarHost->setMinimumWidth(170);

    detail_ = new QWidget(splitter);
    detail_->setObjectName(QStringLiteral("detail"));
    auto* detailLayout = new QVBoxLayout(detail_);
    detailLayout->setContentsMargins(0, 0, 0, 0);

    splitter->addWidget(sidebarHost);
    splitter->addWidget(detail_);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    connect(sidebar_, &QListWidget::itemSelectionChanged, this, [this] {
        auto items = sidebar_->selectedItems();
        std::optional<AppSection> chosen;
        if (!items.isEmpty()) chosen = static_cast<AppSection>(items.front()->data(sectionRole).toInt());
        if (chosen == selection_ && screen_) return;
        selection_ = chosen;
        showScreen();
        Q_EMIT selectionChanged();
    });

    addRunWatch({[this] { return models_->runningNoun(); }, [this] { models_->stopAll(); },
                 [this] { return models_->unstoppableNoun(); }});

    // There is no menu bar: the platform's quit keys live on the window itself.
    auto* quit = new QAction(QStringLiteral("Quit Brindlecove"), this);
    quit->setObjectName(QStringLiteral("main.quit"));
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Quit);
    const QKeySequence ctrlQ(Qt::CTRL | Qt::Key_Q);
    if (!keys.contains(ctrlQ)) keys.append(ctrlQ);
    quit->setShortcuts(keys);
    quit->setShortcutContext(Qt::WindowShortcut);
    addAction(quit);
    connect(quit, &QAction::triggered, this, [this] {
        if (services_.quit) services_.quit();
    });

    select(AppSection::scan);
    resize(sizeHint().expandedTo(minimumSize()).expandedTo(QSize(900, 600)));
}

MainWindow::~MainWindow() {
    stopAllRuns();
    // The screens go before the view models they show (members die before the widget tree).
    delete takeCentralWidget();
    screen_ = nullptr;
}

void MainWindow::select(std::optional<AppSection> section) {
    if (!section) {
        sidebar_->clearSelection();
        sidebar_->setCurrentItem(nullptr);
        if (selection_ || !screen_) {
            selection_.reset();
            showScreen();
            Q_EMIT selectionChanged();
        }
        return;
    }
    sidebar_->setCurrentRow(static_cast<int>(*section));
}

void MainWindow::showScreen() {
    if (screen_) {
        screen_->hide();
        screen_->deleteLater();
        screen_ = nullptr;
    }
    if (!selection_) {
        screen_ = makeEmptyState();
    } else if (services_.screens) {
        screen_ = services_.screens(*selection_, *this);
    }
    if (!screen_ && selection_) screen_ = new PlaceholderScreen(*selection_);
    screen_->setParent(detail_);
    detail_->layout()->addWidget(screen_);
    screen_->show();
}

QWidget* MainWindow::makeEmptyState() {
    return new EmptyStateView(QStringLiteral("sidebar.left"), QStringLiteral("Select a section"));
}

void MainWindow::addRunWatch(RunWatch watch) { runs_.push_back(std::move(watch)); }

void MainWindow::stopAllRuns() {
    for (const auto& run : runs_)
        if (run.stop) run.stop();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    for (const auto& run : runs_) {
        std::optional<QString> unstoppable = run.unstoppableNoun ? run.unstoppableNoun() : std::nullopt;
        if (!unstoppable) continue;
        Confirmation notice{QStringLiteral("The %1 is still running").arg(*unstoppable),
                            QStringLiteral("A %1 can't be stopped once it has started. It will finish, and this "
                                           "window stays open until it has, to show how it went.")
                                .arg(*unstoppable),
                            QStringLiteral("OK"), false, true};
        if (services_.dialogs.confirm) services_.dialogs.confirm(notice);
        event->ignore();
        return;
    }
    std::optional<QString> running;
    for (const auto& run : runs_) {
        if (run.runningNoun) running = run.runningNoun();
        if (running) break;
    }
    if (running) {
        Confirmation question{QStringLiteral("Stop and close?"),
                              QStringLiteral("A %1 is running in this window. Stop it and close?").arg(*running),
                              QStringLiteral("Stop"), true};
        bool stop = services_.dialogs.confirm && services_.dialogs.confirm(question);
        if (!stop) {
            event->ignore();
            return;
        }
        stopAllRuns();
    }
    event->accept();
}

}  // namespace brindlecove
