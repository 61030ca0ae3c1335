#pragma once
// The add-pair sheet of the Sync section: a new modal dialog each time (nothing typed into
// an earlier one survives), 460 by 420 points. The source label is picked from the volumes
// with a label of their own inserted when the sheet opened, or typed; the destination is
// chosen in a folder panel that opens where removable drives mount. "Add" hands the built
// pair over with pairAdded() and closes the sheet; "Cancel", Esc or the window's close button
// add nothing. A destination on the source drive itself is warned about. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/AddSyncPairForm.hpp"

#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brindlecove {

class AddSyncPairSheet : public QDialog {
    Q_OBJECT
public:
    struct Dependencies {
        Dialogs dialogs;
        std::function<std::vector<tessaline::VolumeInfo>()> candidateVolumes;  // none: the mounted ones
        AddSyncPairForm::VolumeNamer volumeName;                                // none: the mount table's
    };

    explicit AddSyncPairSheet(Dependencies dependencies, QWidget* parent = nullptr);

    const AddSyncPairForm& form() const { return form_; }

Q_SIGNALS:
    void pairAdded(const tessaline::SyncPair& pair);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void chooseDestination();
    void setSourceLabel(const QString& label);
    void render();

    Dependencies dependencies_;
    AddSyncPairForm form_;
    bool listed_ = false;
    QLineEdit* name_ = nullptr;
    QWidget* insertedRow_ = nullptr;
    QComboBox* inserted_ = nullptr;
    QLineEdit* sourceLabel_ = nullptr;
    QLineEdit* subpath_ = nullptr;
    QLabel* destination_ = nullptr;
    QLabel* warning_ = nullptr;
    QCheckBox* preserve_ = nullptr;
    QPushButton* add_ = nullptr;
};

}  // namespace brindlecove
