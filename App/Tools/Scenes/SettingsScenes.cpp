// Scenes of the Settings section: a reports folder chosen and a scan cache that holds files,
// so every group shows its filled state.

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"

#include "Tessaline/Index/FingerprintIndex.hpp"

#include <QDir>

namespace brindlecove::tools {

namespace {

ScreenshotScene settings("80-settings", [](ScreenshotStudio& studio) {
    const QString reports = studio.home() + QStringLiteral("/Reports");
    QDir().mkpath(reports);
    ReportsFolderStore::choose(reports.toStdString());
    {
        tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
        for (int i = 0; i < 240; ++i)
            index.upsert(tessaline::Fingerprint{.url = "/media/crew/A_CAM/DCIM/C" + std::to_string(1000 + i) + ".MP4",
                                                .byteSize = 1'800'000'000},
                         i < 150 ? "A_CAM" : "BACKUP_A", 1'717'243'200.0);
    }
    studio.window().select(AppSection::scan);
    studio.window().select(AppSection::settings);
    ScreenshotStudio::wait(200);  // the cache statistics come back
    studio.save(QStringLiteral("settings-reports-folder"));
});

}  // namespace

}  // namespace brindlecove::tools
