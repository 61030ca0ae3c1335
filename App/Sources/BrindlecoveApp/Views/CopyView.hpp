#pragma once
// The Copy section: pick the card and the destination, choose whether the card's folder
// layout is mirrored, start and stop a verified copy and follow it (the settle wait, the file
// being copied with bytes, speed, time left and a speed chart), then the verdict on the
// finished copy. Holds no state of its own: one coalesced render() reads the window's
// CopyViewModel and updates widgets built once. Main thread.

#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include <QUuid>
#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace brindlecove {

class CopyViewModel;
class ElidedLabel;
class MainWindow;
class TrendChart;

class CopyView : public QWidget {
    Q_OBJECT
public:
    explicit CopyView(CopyViewModel& model, QWidget* parent = nullptr);

    // Shows the view model's state now (changes are otherwise rendered once per event-loop turn).
    void render();

private:
    QWidget* buildStatus();

    CopyViewModel& model_;
    RenderCoalescer coalescer_;
    ElidedLabel* cardPath_ = nullptr;
    QLabel* noCard_ = nullptr;
    QWidget* cardRow_ = nullptr;
    QPushButton* chooseCard_ = nullptr;
    ElidedLabel* destinationPath_ = nullptr;
    QLabel* noDestination_ = nullptr;
    QWidget* destinationRow_ = nullptr;
    QPushButton* chooseDestination_ = nullptr;
    QCheckBox* preserve_ = nullptr;
    QLabel* preserveCaption_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;

    QWidget* settlingPage_ = nullptr;
    QProgressBar* settlingBar_ = nullptr;  // busy, or how far a check that counts is
    QLabel* settlingText_ = nullptr;
    QWidget* copyingPage_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* fileLine_ = nullptr;
    QLabel* estimate_ = nullptr;
    QLabel* bytes_ = nullptr;
    QLabel* speed_ = nullptr;
    TrendChart* chart_ = nullptr;
    QWidget* donePage_ = nullptr;
    QLabel* verdictSymbol_ = nullptr;
    QLabel* verdict_ = nullptr;
    QLabel* counts_ = nullptr;
    QLabel* filingNotice_ = nullptr;  // where the log went when it could not be filed as shown
    QWidget* failedPage_ = nullptr;
    QLabel* failure_ = nullptr;
    QString verdictSymbolName_;
    QUuid chartNewest_;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeCopyView(MainWindow& window);

}  // namespace brindlecove
