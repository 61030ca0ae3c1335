// Scenes of a card at a folder whose name has 200 characters and no spaces: the sections
// that show card, drive and folder names (Scan, Copy, Erase Card with its reformat form,
// Settings) cut them in the middle and keep to the window's width.

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/AddSyncPairSheet.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/DriveFormatView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ScanView.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Index/FingerprintIndex.hpp"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;

ScreenshotScene longNames("95-long-names", [](ScreenshotStudio& studio) {
    const QString name = QStringLiteral("A_CAM_") + QString(190, u'x') + QStringLiteral("_END");
    const QString card = studio.home() + QStringLiteral("/long/") + name;
    QDir().mkpath(card + QStringLiteral("/DCIM/100CANON"));
    QFile clip(card + QStringLiteral("/DCIM/100CANON/MVI_0001.MOV"));
    if (clip.open(QIODevice::WriteOnly)) clip.write(QByteArray(4096, 'x'));
    clip.close();
    auto answer = [card](const FolderRequest&) { return std::optional<QString>(card); };
    const fs::path cardPath = card.toStdString();

    {
        ScanViewModel::Dependencies dependencies;
        dependencies.dialogs.chooseFolder = answer;
        ScanViewModel model(std::move(dependencies));
        ScanView view(model, [&] { return std::vector<tessaline::VolumeInfo>{{cardPath, name.toStdString()}}; });
        view.resize(760, 700);
        view.show();
        model.pickCard();
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("long-name-scan"), &view);
    }
    {
        CopyViewModel::Dependencies dependencies;
        dependencies.dialogs.chooseFolder = answer;
        CopyViewModel model(std::move(dependencies));
        CopyView view(model);
        view.resize(760, 600);
        view.show();
        model.pickCard();
        model.pickDestination();
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("long-name-copy"), &view);
    }
    {
        DriveFormatViewModel::Dependencies formatDependencies;
        formatDependencies.backend.listCandidates = [&] {
            return std::vector<tessaline::VolumeInfo>{{cardPath, name.toStdString()}, {"/media/crew/Shuttle", "Shuttle"}};
        };
        formatDependencies.backend.inspect = [](const fs::path& path) {
            DriveFormatViewModel::Facts facts;
            facts.deviceIdentifier = "/dev/sdc1";
            facts.volumeName = path.filename().string();
            facts.mountPoint = path.string();
            facts.totalBytes = 63'864'569'856;
            facts.filesystem = "ExFAT";
            return facts;
        };
        formatDependencies.backend.route = [](const DriveFormatViewModel::Facts&) {
            return DriveFormatBackend::Route{DriveFormatBackend::Route::Kind::direct};
        };
        DriveFormatViewModel format(formatDependencies);
        CardPrepViewModel prep(CardPrepViewModel::Dependencies{});
        ScanViewModel scan(ScanViewModel::Dependencies{});
        CardPrepView view(prep, scan, format);
        view.resize(760, 900);
        view.show();
        prep.takeCard(card);
        ScreenshotStudio::waitFor([&] { return !prep.isBusy(); }, 10'000);
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("long-name-erase"), &view);
        if (auto* reformat = view.findChild<QWidget*>(QStringLiteral("erase.mode.reformat")))
            QMetaObject::invokeMethod(reformat, "click");
        format.refreshVolumes();
        format.setSelectedVolumePath(card);
        ScreenshotStudio::waitFor([&] { return !format.isBusy(); }, 10'000);
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("long-name-reformat"), &view);
        // The volume list opened: no wider than the section, the long name cut in its middle.
        if (auto* volumes = view.findChild<QComboBox*>(QStringLiteral("format.volume"))) {
            for (const QSize size : ScreenshotStudio::windowSizes()) {
                view.resize(size - QSize(180, 60));  // about the window's detail area
                ScreenshotStudio::wait(50);
                volumes->showPopup();
                ScreenshotStudio::wait(100);
                studio.saveWithPopup(ScreenshotStudio::sizedName(QStringLiteral("long-name-reformat-list"), size), view,
                                     *volumes->view()->window());
                volumes->hidePopup();
            }
        }
    }
    {
        // The add-pair sheet over a card with a long label and an unlabeled card: only the
        // label is offered, cut in the middle, and the list stays inside the sheet.
        AddSyncPairSheet::Dependencies dependencies;
        dependencies.candidateVolumes = [&] {
            tessaline::VolumeInfo unlabeled{"/media/crew/4A1C-09E2", "4A1C-09E2", true, true, false};
            unlabeled.hasOwnLabel = false;
            return std::vector<tessaline::VolumeInfo>{{cardPath, name.toStdString(), true, true, false}, unlabeled};
        };
        AddSyncPairSheet sheet(dependencies);
        sheet.setAttribute(Qt::WA_DeleteOnClose, false);
        sheet.show();
        ScreenshotStudio::wait(100);
        if (auto* inserted = sheet.findChild<QComboBox*>(QStringLiteral("sheet.inserted"))) {
            inserted->showPopup();
            ScreenshotStudio::wait(100);
            studio.saveWithPopup(QStringLiteral("long-name-add-pair-list"), sheet, *inserted->view()->window());
            inserted->hidePopup();
        }
        sheet.hide();
    }
    {
        tessaline::SecurityScopedBookmarkStore().grant(cardPath);
        tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
        index.upsert(tessaline::Fingerprint{.url = cardPath / "DCIM/100CANON/MVI_0001.MOV", .byteSize = 4096},
                     name.toStdString(), 1'717'243'200.0);
    }
    studio.window().select(AppSection::scan);
    studio.window().select(AppSection::settings);
    ScreenshotStudio::wait(300);
    studio.save(QStringLiteral("long-name-settings"));
});

}  // namespace

}  // namespace brindlecove::tools
