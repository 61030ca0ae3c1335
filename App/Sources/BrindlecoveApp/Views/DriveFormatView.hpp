#pragma once
// The reformat form of the Erase Card section: the external volume to reformat with its
// facts, the new file system and name, the typed confirmation, "Erase & Reformat" and the
// outcome. Everything shown is read from the view model; the controls write to it only from
// user signals (activated, textEdited, clicked), so repopulating the volume list never
// clears the selection. Showing the form refreshes the list unless a run is in progress.
// Formats that cannot be made here stay in the picker, disabled, with the reason beside them;
// when nothing can reformat here the form says why before the typed confirmation.
// Main thread.

#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace brindlecove {

class DriveFormatViewModel;
class SymbolLabel;

class DriveFormatView : public QWidget {
    Q_OBJECT
public:
    explicit DriveFormatView(DriveFormatViewModel& vm, QWidget* parent = nullptr);

    // Draws the form from the view model now (also called, coalesced, on every change).
    void render();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void repopulateVolumes();
    void scheduleRender();

    QPointer<DriveFormatViewModel> vm_;
    QScrollArea* scroll_ = nullptr;
    SymbolLabel* empty_ = nullptr;
    QFormLayout* volumeRows_ = nullptr;
    QComboBox* volume_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QWidget* inspecting_ = nullptr;
    QFormLayout* factRows_ = nullptr;
    QLabel* device_ = nullptr;
    QLabel* filesystem_ = nullptr;
    QLabel* capacity_ = nullptr;
    SymbolLabel* refused_ = nullptr;
    SymbolLabel* doneAlone_ = nullptr;
    QWidget* newFormat_ = nullptr;
    QComboBox* format_ = nullptr;
    QLabel* blurb_ = nullptr;
    QLineEdit* newName_ = nullptr;
    QLabel* preview_ = nullptr;
    QWidget* reformat_ = nullptr;
    SymbolLabel* warning_ = nullptr;
    SymbolLabel* routeProblem_ = nullptr;
    QFormLayout* confirmRows_ = nullptr;
    QLabel* confirmTitle_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
    QPushButton* run_ = nullptr;
    QWidget* formatting_ = nullptr;
    SymbolLabel* outcome_ = nullptr;
    QLabel* failedNote_ = nullptr;
    QLabel* runReason_ = nullptr;  // why Erase & Reformat is disabled
    // The outcome last brought into view: a new one is scrolled to once, then left where the
    // user scrolls.
    QString shownOutcome_;
    RenderCoalescer renderer_{this, [this] { render(); }};
};

}  // namespace brindlecove
