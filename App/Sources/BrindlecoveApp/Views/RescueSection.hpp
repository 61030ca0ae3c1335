#pragma once
// The Report section's "Rescue the Red Files" group: where the missing files go, the folder
// choice and structure toggle, the Sync and Stop buttons, and the copy's progress or
// outcome, all read from the window's MissingSyncViewModel. On a report whose card was erased
// after the scan it offers no copy and says why. Persistent widgets, updated in
// place on every change of the view model. Main thread.

#include "Tessaline/Report/VerificationReport.hpp"

#include <QFrame>
#include <QString>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace brindlecove {

class ElidedLabel;

class MissingSyncViewModel;

class RescueSection : public QFrame {
    Q_OBJECT
public:
    RescueSection(MissingSyncViewModel& rescue, QWidget* parent = nullptr);

    // The report whose missing files the Sync button copies.
    void setReport(std::shared_ptr<const tessaline::VerificationReport> report);
    // Whether the shown report's card was erased after its scan: then nothing is offered to
    // copy (the files are gone from the card), and an outcome already shown stays.
    void setCardErased(bool erased);
    void render();
    // The Sync button's whole title (the button may show it cut in its middle).
    const QString& syncTitle() const { return syncTitle_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Cuts the Sync button's title in its middle to the group's width, the whole title in its
    // tooltip: a long count of clips, files and other files never widens the section past
    // its window.
    void fitSyncTitle();

    MissingSyncViewModel& rescue_;
    std::shared_ptr<const tessaline::VerificationReport> report_;
    int missingClips_ = 0;   // clips of the report missing from the drives
    int rescueFiles_ = 0;    // the files a rescue copies (their sidecars and other files too)
    int clipFiles_ = 0;      // of those, the missing clips' own files and sidecars
    int confirmedCount_ = 0;
    bool cardErased_ = false;
    QLabel* erasedNote_ = nullptr;
    QWidget* copyControls_ = nullptr;  // the destination, the options and the Sync button
    QLabel* destinationLabel_ = nullptr;
    ElidedLabel* destinationPath_ = nullptr;
    QLabel* suggestionNote_ = nullptr;
    QLabel* pickHint_ = nullptr;
    QPushButton* change_ = nullptr;
    QCheckBox* mirror_ = nullptr;
    QPushButton* sync_ = nullptr;
    QString syncTitle_;
    QPushButton* stop_ = nullptr;
    QWidget* running_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* runningText_ = nullptr;
    QWidget* done_ = nullptr;
    QLabel* outcomeSymbol_ = nullptr;
    QLabel* outcomeText_ = nullptr;
    QLabel* rerunNote_ = nullptr;
    QLabel* filingNotice_ = nullptr;  // where the log went when it could not be filed as shown
};

}  // namespace brindlecove
