#pragma once
// The Erase Card section: a mode switch between the camera erase behind the erase-safety
// gate and the reformat form. The camera form shows the picked card and its count, the
// gate's banner for the card's latest scan of this session (whichever card was scanned last),
// the camera profile, the typed name, the acknowledgement for an unverified card, Erase and
// Stop, and the outcome. It redraws on every change of the erase or scan view model and on
// every mount or unmount (the banner follows the card in the reader); a volume mounted at the
// card's path is counted again. Nothing above Erase moves when an erase starts, stops or
// ends: Stop takes Erase's place, the rows that come and go with the verdict keep their room
// while a card is picked, a row keeps its height whichever of its widgets shows, and every
// change is laid out in the event that makes it, so no frame shows a layout half done. The
// Erase click re-checks the gate against the card's report at that moment. Main thread.

#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include <QPointer>
#include <QWidget>

#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace tessaline {
class VolumeWatcher;
}

namespace brindlecove {

class CardPrepViewModel;
class DriveFormatViewModel;
class ElidedLabel;
class MainWindow;
class ScanViewModel;
class SymbolLabel;

class CardPrepView : public QWidget {
    Q_OBJECT
public:
    CardPrepView(CardPrepViewModel& vm, ScanViewModel& scan, DriveFormatViewModel& formatVM, QWidget* parent = nullptr);
    ~CardPrepView() override;

    // Draws the whole camera form from the view models now (also called, coalesced, on
    // every change).
    void render();

private:
    QWidget* buildCameraForm();
    // Lays the camera form out now, inside the event that changed it: its boxes, its body, and
    // the scroll area fitting the body to what it holds. Left to the layout requests it posts,
    // a frame could be drawn between them with the body laid out at its old height, every row
    // squeezed and Stop drawn above where Erase was.
    void settleLayout();
    void scheduleRender();
    void onVolumeEvent(bool mounted, const QString& path);

    CardPrepViewModel& vm_;
    ScanViewModel& scan_;
    QButtonGroup* modes_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QScrollArea* cameraScroll_ = nullptr;
    ElidedLabel* cardPath_ = nullptr;
    QStackedWidget* contentsSlot_ = nullptr;  // the count, or the counting row in its place
    QLabel* contents_ = nullptr;
    QWidget* counting_ = nullptr;
    QLabel* countingText_ = nullptr;
    QLabel* noCard_ = nullptr;
    QFormLayout* cardRows_ = nullptr;
    QPushButton* choose_ = nullptr;
    SymbolLabel* banner_ = nullptr;
    SymbolLabel* bannerRoom_ = nullptr;  // hidden in the banner's cell: the room it keeps
    QComboBox* profile_ = nullptr;
    QLabel* profileNote_ = nullptr;
    QLabel* profileFolders_ = nullptr;
    SymbolLabel* warning_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
    QWidget* acknowledgeRow_ = nullptr;
    QCheckBox* acknowledge_ = nullptr;
    QStackedWidget* actions_ = nullptr;  // Erase, or Stop in its place
    QPushButton* run_ = nullptr;
    QPushButton* stop_ = nullptr;
    QWidget* running_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* progressText_ = nullptr;
    SymbolLabel* outcome_ = nullptr;
    QLabel* outcomeCounts_ = nullptr;
    QLabel* outcomeFolders_ = nullptr;
    RenderCoalescer renderer_{this, [this] { render(); }};
    std::unique_ptr<tessaline::VolumeWatcher> watcher_;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeCardPrepView(MainWindow& window);

}  // namespace brindlecove
