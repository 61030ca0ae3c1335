#pragma once
// The Settings section: version, reports folder, the guide to the sections, granted drives
// and the scan cache, drawn from a SettingsModel that the view owns. The view is built afresh
// each time the section is selected, so the guide starts closed and the values are read
// again. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/SettingsModel.hpp"

#include <QWidget>

class QVBoxLayout;

namespace brindlecove {

class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(Dialogs dialogs, SettingsModel::Runner runner = {}, QWidget* parent = nullptr);

    SettingsModel& model() { return model_; }

private:
    void rebuild();
    QWidget* makeVersionGroup();
    QWidget* makeReportsGroup();
    QWidget* makeGuideGroup();
    QWidget* makeDrivesGroup();
    QWidget* makeCacheGroup();

    SettingsModel model_;
    QVBoxLayout* groups_ = nullptr;
    QWidget* guideGroup_ = nullptr;
};

}  // namespace brindlecove
