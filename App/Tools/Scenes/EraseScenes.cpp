// Scenes of the Erase Card section: the camera erase of a card with real camera files (a
// loop-mounted ext4 card when run as root, a folder standing in for one otherwise) for a
// safe, a missing and a not-fully-read scan, other files only on the card or never scanned,
// mid-erase, done (with the Report section's verdict on the erased card's report, and with a
// file shot after the erase), done with files kept that changed while it ran, and pulled from
// the reader; files added, removed and changed since the scan, named as such, and the card
// mounted again while picked; and the reformat form inspected, confirmed, done, refused,
// chosen again and failed with the card left unmounted, and a card too small for the file
// system chosen before (the format itself is not run: the tool never formats).

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/Platform/SystemDiskService.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;

QString qpath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }
fs::path fspath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

// A loop-mounted ext4 volume made with the system tools, undone when it dies. Root only.
class SceneVolume {
public:
    SceneVolume(const QString& folder, const QString& label) {
        QDir().mkpath(folder);
        image_ = folder + QStringLiteral(".img");
        mountPoint_ = folder;
        if (!ScreenshotStudio::run(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("64M"), image_}))
            return;
        QProcess attach;
        attach.start(QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"), image_});
        if (!attach.waitForFinished() || attach.exitCode() != 0) return;
        device_ = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
        mounted_ = ScreenshotStudio::run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-L"), label, device_}) &&
                   ScreenshotStudio::run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("ext4"), device_, folder});
    }
    ~SceneVolume() {
        if (mounted_) ScreenshotStudio::run(QStringLiteral("umount"), {mountPoint_});
        if (!device_.isEmpty()) ScreenshotStudio::run(QStringLiteral("losetup"), {QStringLiteral("-d"), device_});
        QFile::remove(image_);
    }
    bool isMounted() const { return mounted_; }
    // Unmounts the volume and mounts it again at its folder: the same card, another mount.
    bool remount() {
        if (!mounted_) return false;
        mounted_ = ScreenshotStudio::run(QStringLiteral("umount"), {mountPoint_}) &&
                   ScreenshotStudio::run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("ext4"), device_, mountPoint_});
        return mounted_;
    }

private:
    QString image_, mountPoint_, device_;
    bool mounted_ = false;
};

// Six stills from a camera under DCIM/100CANON and a clip with its sidecar.
void shoot(const QString& card) {
    QDir().mkpath(card + QStringLiteral("/DCIM/100CANON"));
    QDir().mkpath(card + QStringLiteral("/MISC"));
    for (int i = 1; i <= 6; ++i) {
        const QString file = card + QStringLiteral("/DCIM/100CANON/IMG_%1.JPG").arg(i, 4, 10, QChar(u'0'));
        ScreenshotStudio::run(QStringLiteral("ffmpeg"),
                              {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                               QStringLiteral("lavfi"), QStringLiteral("-i"),
                               QStringLiteral("testsrc=size=640x480:rate=1:duration=1"), QStringLiteral("-frames:v"),
                               QStringLiteral("1"), QStringLiteral("-q:v"), QString::number(2 + i), file});
    }
    ScreenshotStudio::run(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                           QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=25:duration=2"),
                           card + QStringLiteral("/DCIM/100CANON/MVI_0007.MP4")});
    QFile misc(card + QStringLiteral("/MISC/MVI_0007.XML"));
    if (misc.open(QIODevice::WriteOnly)) misc.write("<clip/>");
}

// A report of `card`: every media file a clip, confirmed on the shuttle drive unless listed
// as missing.
std::shared_ptr<const tessaline::VerificationReport> report(const fs::path& card, int missing,
                                                            std::vector<fs::path> unread = {}) {
    std::vector<tessaline::MatchResult> results;
    int index = 0;
    for (const auto& entry : fs::recursive_directory_iterator(card / "DCIM")) {
        if (!entry.is_regular_file()) continue;
        tessaline::MatchResult result;
        result.group.primaryFiles.push_back(
            tessaline::Fingerprint{.url = entry.path(), .byteSize = int64_t(entry.file_size())});
        result.status = index++ < missing ? MatchStatus::missing()
                                          : MatchStatus::confirmed("/media/crew/Shuttle/A001" / entry.path().filename());
        results.push_back(std::move(result));
    }
    // The card's files as the scan records them, with the digests its proofs read: a later
    // change of the card shows.
    std::optional<std::vector<tessaline::CardFileRecord>> records;
    try {
        records = tessaline::CardFileSet::read(card).files;
        std::vector<std::string> all;
        for (const auto& record : *records) all.push_back(record.relative);
        tessaline::CardFileComparison::readAgain(card, *records, all);
    } catch (const std::exception&) {
    }
    // Every other file the erase deletes (the camera's files beside DCIM) is on the drive too.
    std::vector<tessaline::OtherFile> others;
    for (const auto& record : records.value_or(std::vector<tessaline::CardFileRecord>{}))
        if (record.relative.rfind("DCIM/", 0) != 0)
            others.push_back({card / record.relative, record.byteSize, tessaline::OtherFile::Role::other,
                              "/media/crew/Shuttle/A001" / fs::path(record.relative).filename()});
    return std::make_shared<const tessaline::VerificationReport>(card, std::vector<fs::path>{"/media/crew/Shuttle"},
                                                                 tessaline::nowEpoch(), std::move(results), std::nullopt,
                                                                 std::move(unread), std::move(others), std::move(records));
}

void typeInto(QWidget* view, const char* name, const QString& text) {
    auto* field = view->findChild<QLineEdit*>(QString::fromLatin1(name));
    if (!field) return;
    field->setText(text);
    Q_EMIT field->textEdited(text);
}

// The Erase Card section over `backend`, with a scan view model of its own, shown at the
// size the scenes take.
struct EraseStage {
    explicit EraseStage(CardPrepBackend backend) : vm(dependenciesOf(std::move(backend))), view(vm, scan, formatVM) {
        view.resize(760, 1080);
        view.show();
    }
    // Picks `card` for a Canon body and waits for its count.
    void pick(ScreenshotStudio& studio, const QString& card) {
        vm.takeCard(card);
        studio.waitFor([&] { return !vm.isBusy(); });
        vm.setSelectedProfileID(QStringLiteral("canon-eos"));
    }
    // Picks `card`, for a Canon body, on a report that confirms every clip, types `name` and
    // clicks Erase; a folder standing in for a card is never verified, so the override runs
    // the erase there.
    void pickAndErase(ScreenshotStudio& studio, const QString& card, const QString& name) {
        pick(studio, card);
        scan.setLastReport(report(fspath(card), 0));
        typeInto(&view, "erase.confirmation", name);
        studio.wait(50);
        auto* run = view.findChild<QPushButton*>(QStringLiteral("erase.run"));
        if (run && !run->isEnabled()) {
            vm.setAcknowledgedUnverified(true);
            view.render();
        }
        if (run && run->isEnabled()) run->click();
    }

    static CardPrepViewModel::Dependencies dependenciesOf(CardPrepBackend backend) {
        CardPrepViewModel::Dependencies dependencies;
        dependencies.backend = std::move(backend);
        return dependencies;
    }
    CardPrepViewModel vm;
    ScanViewModel scan{ScanViewModel::Dependencies{}};
    DriveFormatViewModel formatVM{DriveFormatViewModel::Dependencies{}};
    CardPrepView view;
};

// The erase behind the scenes: the system's on a loop-mounted card (`realCard`), else a
// stand-in for the folder `card` whose erase only reports what it would have done. The erase
// holds at its stop test's question `holdAt` until `release` (counted from the first item's
// deleting on, or from the start with `inPlan`); `ejected` pulls the card.
CardPrepBackend sceneBackend(const QString& card, bool realCard, std::shared_ptr<std::atomic<bool>> release, int holdAt,
                             std::shared_ptr<std::atomic<bool>> ejected, bool inPlan = false) {
    CardPrepBackend backend = CardPrepBackend::standard();
    auto realPrepare = backend.prepare;
    if (!realCard) {
        // A folder in the private home stands in for the card: the system checks answer as
        // for a card.
        const fs::path folder = fspath(card);
        backend.validate = [folder](const fs::path&) {
            tessaline::CardPrepEngine::CheckedCard checked;
            checked.card = tessaline::CardPrepEngine::CardFacts{folder, 1, std::string("4A1C-09E2"), 1};
            return checked;
        };
        backend.readIdentity = [](const fs::path&) {
            return std::optional<tessaline::VolumeIdentity>(
                tessaline::VolumeIdentity{std::string("4A1C-09E2"), std::string("A001"), std::nullopt, std::nullopt});
        };
        realPrepare = [](const fs::path&, const auto&, const tessaline::CameraFormatProfile& profile,
                         const std::function<bool()>& isCancelled, const auto& onEvent, const auto&) {
            using Engine = tessaline::CardPrepEngine;
            // As the engine tells it: the plan, then each item and each file deleted in it.
            const std::vector<std::pair<std::string, int>> items{{"DCIM", 7}, {"MISC", 1}, {"IMG_NOTES.TXT", 1}};
            if (onEvent) onEvent(Engine::Planned{int(items.size()), 14'200'000, 9});
            int deleted = 0;
            for (int i = 0; i < int(items.size()); ++i) {
                if (isCancelled() && i == 0) {
                    tessaline::CardPrepEngine::Summary untouched;
                    untouched.cancelled = untouched.untouched = true;
                    return untouched;
                }
                if (isCancelled()) return tessaline::CardPrepEngine::Summary{0, 2'350'000, profile.folders, {}, true, {}, 3};
                if (onEvent) onEvent(Engine::Deleting{items[size_t(i)].first, i, int(items.size())});
                for (int file = 0; file < items[size_t(i)].second; ++file)
                    if (onEvent) onEvent(Engine::FilesDeleted{++deleted, 9});
            }
            return tessaline::CardPrepEngine::Summary{3, 14'200'000, profile.folders, {}, false, {},
                                                      8, false,      profile.folders};
        };
    }
    backend.isMounted = [realIsMounted = backend.isMounted, realCard, ejected](const fs::path& path) {
        return !*ejected && (!realCard || realIsMounted(path));
    };
    backend.prepare = [realPrepare, release, holdAt, inPlan](const fs::path& cardRoot, const auto& facts,
                                                             const auto& profile,
                                                             const std::function<bool()>& isCancelled,
                                                             const auto& onEvent, const auto& vouched) {
        int asked = 0;
        bool counting = inPlan;
        return realPrepare(
            cardRoot, facts, profile,
            [&asked, &counting, release, holdAt, isCancelled] {
                if (counting && ++asked == holdAt)
                    for (int i = 0; i < 3000 && !*release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return isCancelled();
            },
            [&counting, onEvent](const tessaline::CardPrepEngine::Event& event) {
                if (std::holds_alternative<tessaline::CardPrepEngine::Deleting>(event)) counting = true;
                if (onEvent) onEvent(event);
            },
            vouched);
    };
    return backend;
}

// An inspection that reads nothing: a volume of `totalBytes` formatted `filesystem` on
// `device`, named after its mount point's folder.
std::function<DriveFormatViewModel::Facts(const fs::path&)> standInInspection(std::string device, int64_t totalBytes,
                                                                               std::string filesystem) {
    return [device, totalBytes, filesystem](const fs::path& path) {
        DriveFormatViewModel::Facts facts;
        facts.deviceIdentifier = device;
        facts.volumeName = path.filename().string();
        facts.mountPoint = path.string();
        facts.totalBytes = totalBytes;
        facts.filesystem = filesystem;
        return facts;
    };
}

// Shows `view` in its reformat mode with `selected` chosen and inspected, saved as `name`.
void showInspected(ScreenshotStudio& studio, CardPrepView& view, DriveFormatViewModel& formatVM,
                   const QString& selected, const QString& name) {
    view.resize(760, 900);
    view.show();
    if (auto* mode = view.findChild<QToolButton*>(QStringLiteral("erase.mode.reformat"))) mode->click();
    studio.wait(50);
    formatVM.refreshVolumes();
    formatVM.setSelectedVolumePath(selected);
    studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(name, &view);
}

// The file system list opened, saved as `name`.
void saveFormatList(ScreenshotStudio& studio, CardPrepView& view, const QString& name) {
    auto* picker = view.findChild<QComboBox*>(QStringLiteral("format.fileSystem"));
    if (!picker) return;
    picker->showPopup();
    studio.wait(100);
    studio.save(name, picker->view()->window());
    picker->hidePopup();
}

ScreenshotScene erase("60-erase", [](ScreenshotStudio& studio) {
    const bool asRoot = geteuid() == 0;
    const QString card = studio.home() + QStringLiteral("/media/A001");
    std::unique_ptr<SceneVolume> volume;
    if (asRoot) volume = std::make_unique<SceneVolume>(card, QStringLiteral("A001"));
    QDir().mkpath(card);
    shoot(card);

    // The erase waits inside its first items until the mid-erase picture is taken.
    auto release = std::make_shared<std::atomic<bool>>(false);
    const bool realCard = volume && volume->isMounted();
    // The last picture is of the card pulled from the reader.
    auto ejected = std::make_shared<std::atomic<bool>>(false);
    const CardPrepBackend backend = sceneBackend(card, realCard, release, 6, ejected);

    EraseStage stage(backend);
    auto& vm = stage.vm;
    auto& scan = stage.scan;
    auto& view = stage.view;

    stage.pick(studio, card);
    const fs::path root = fspath(card);
    scan.setLastReport(report(root, 0));
    typeInto(&view, "erase.confirmation", QStringLiteral("A001"));
    studio.wait(100);
    studio.save(QStringLiteral("erase-safe"), &view);

    scan.setLastReport(report(root, 2));
    studio.wait(100);
    studio.save(QStringLiteral("erase-missing"), &view);

    scan.setLastReport(report(root, 0, {root / "PRIVATE/M4ROOT"}));
    studio.wait(100);
    studio.save(QStringLiteral("erase-not-fully-read"), &view);

    // Files beside the clips: found on no drive by the scan, then never seen by it.
    {
        const int before = vm.preview() ? vm.preview()->fileCount : 0;
        const fs::path notes = root / "NOTES.TXT", index = root / "PRIVATE/AVCHD/BDMV/INDEX.BDM";
        fs::create_directories(index.parent_path());
        for (const auto& file : {notes, index}) {
            QFile out(qpath(file));
            if (out.open(QIODevice::WriteOnly)) out.write("take 2 is the keeper");
        }
        vm.recount();
        studio.waitFor([&] { return vm.preview() && vm.preview()->fileCount == before + 2; });
        auto withOthers = std::make_shared<tessaline::VerificationReport>(*report(root, 0));
        for (const auto& file : {notes, index})
            withOthers->otherFiles.push_back({file, 20, tessaline::OtherFile::Role::other, std::nullopt});
        using Shown = std::pair<std::shared_ptr<const tessaline::VerificationReport>, QString>;
        for (const auto& [shown, name] : {Shown{withOthers, QStringLiteral("erase-other-files")},
                                          Shown{report(root, 0), QStringLiteral("erase-not-checked")}}) {
            scan.setLastReport(shown);
            studio.wait(150);
            studio.save(name, &view);
        }
        fs::remove(notes);
        fs::remove_all(root / "PRIVATE");
        vm.recount();
        studio.waitFor([&] { return vm.preview() && vm.preview()->fileCount == before; });
    }

    scan.setLastReport(report(root, 0));
    studio.wait(50);
    if (auto* run = view.findChild<QPushButton*>(QStringLiteral("erase.run")); run && run->isEnabled()) run->click();
    studio.waitFor([&] {
        const auto* running = std::get_if<CardPrepViewModel::Running>(&vm.phase());
        return running && !running->item.isEmpty();
    }, 10'000);
    studio.wait(100);
    studio.save(QStringLiteral("erase-running"), &view, true, view.findChild<QWidget*>(QStringLiteral("erase.running")));
    *release = true;
    studio.waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm.phase()); }, 30'000);
    studio.wait(100);
    studio.save(QStringLiteral("erase-done"), &view, true, view.findChild<QWidget*>(QStringLiteral("erase.outcomeFolders")));
    {
        // The Report section on the report the erase was started on.
        ReportView reportView(scan, studio.window().models().missingSync(), vm.erasedReports(), Dialogs{},
                              FileRevealer{}, ThumbnailService::shared());
        reportView.resize(760, 900);
        reportView.show();
        studio.wait(100);
        studio.save(QStringLiteral("report-after-erase"), &reportView);
        reportView.hide();
    }
    if (realCard) {
        // A still shot after the erase: the card has changed since the scan again.
        shoot(card);
        studio.waitFor([&] { return vm.preview() && vm.preview()->fileCount > 0 && !vm.isBusy(); }, 10'000);
        studio.wait(300);
        studio.save(QStringLiteral("erase-shot-after-erase"), &view);
    }
    *ejected = true;
    view.render();
    // Name typed and the override ticked: an ejected card still cannot be erased.
    typeInto(&view, "erase.confirmation", QStringLiteral("A001"));
    vm.setAcknowledgedUnverified(true);
    view.render();
    studio.wait(50);
    studio.save(QStringLiteral("erase-not-inserted"), &view);
    view.hide();
});

ScreenshotScene reformat("61-reformat", [](ScreenshotStudio& studio) {
    const bool root = geteuid() == 0;
    const QString place = studio.home() + QStringLiteral("/media/B-CAM");
    std::unique_ptr<SceneVolume> volume;
    if (root) volume = std::make_unique<SceneVolume>(place, QStringLiteral("B-CAM"));
    const bool realVolume = volume && volume->isMounted();

    // The list and the inspection are the system's when a loop volume stands in; the format
    // itself only waits a moment: the tool never formats anything.
    DriveFormatViewModel::Dependencies dependencies;
    if (realVolume) {
        const fs::path mount = fspath(place);
        dependencies.backend.listCandidates = [mount] {
            std::vector<tessaline::VolumeInfo> mine{{"/media/crew/Shuttle", "Shuttle"}};
            for (const auto& v : tessaline::VolumeDetector::listCandidateVolumes())
                if (v.url == mount) mine.push_back(v);
            return mine;
        };
    } else {
        dependencies.backend.listCandidates = [] {
            return std::vector<tessaline::VolumeInfo>{{"/media/crew/Shuttle", "Shuttle"}, {"/media/crew/B-CAM", "B-CAM"}};
        };
        dependencies.backend.inspect = standInInspection("/dev/sdc1", 63'864'569'856, "ExFAT");
    }
    // The disk service's way, with the formats it cannot make disabled in the picker; at the
    // end no way at all.
    auto noWay = std::make_shared<std::atomic<bool>>(false);
    dependencies.backend.route = [noWay](const DriveFormatViewModel::Facts&) {
        DriveFormatViewModel::Route route;
        if (*noWay) {
            route.problem = QStringLiteral(
                "Reformatting goes through the system disk service (udisks2), which isn't answering here. Install it "
                "(apt install udisks2) and start it (systemctl start udisks2), then choose the volume again.");
            return route;
        }
        route.kind = DriveFormatViewModel::Route::Kind::diskService;
        route.unmakeable[tessaline::DriveFormat::apfs] = QStringLiteral("the system disk service can't create it");
        route.unmakeable[tessaline::DriveFormat::hfsPlus] = QStringLiteral("the system disk service can't create it");
        return route;
    };
    // Later runs end as the disk service's refusals and failures end.
    auto failure = std::make_shared<std::string>();
    auto failureLock = std::make_shared<std::mutex>();
    dependencies.backend.reformat = [failure, failureLock](const fs::path&, tessaline::DriveFormat, std::string_view,
                                                           const auto&, DriveFormatViewModel::Route::Kind) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        std::string message;
        {
            std::lock_guard lock(*failureLock);
            message = *failure;
        }
        if (!message.empty()) throw tessaline::DriveFormatError::diskutilFailed(message);
        return DriveFormatBackend::Result{};
    };
    const auto failNext = [failure, failureLock](const QString& message) {
        std::lock_guard lock(*failureLock);
        *failure = message.toStdString();
    };
    DriveFormatViewModel formatVM(dependencies);

    CardPrepViewModel vm{CardPrepViewModel::Dependencies{}};
    ScanViewModel scan{ScanViewModel::Dependencies{}};
    CardPrepView view(vm, scan, formatVM);
    const QString selected = realVolume ? place : QStringLiteral("/media/crew/B-CAM");
    showInspected(studio, view, formatVM, selected, QStringLiteral("reformat-inspected"));
    saveFormatList(studio, view, QStringLiteral("reformat-formats"));

    typeInto(&view, "format.newName", QStringLiteral("b cam day 2"));
    typeInto(&view, "format.confirmation", QStringLiteral("B-CAM"));
    studio.wait(100);
    studio.save(QStringLiteral("reformat-confirmed"), &view);

    formatVM.run();
    studio.wait(50);  // the stand-in reformat takes a second
    studio.save(QStringLiteral("reformat-formatting"), &view);
    studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(QStringLiteral("reformat-done"), &view);

    // Refused by the system: the card stays mounted; choosing it again makes the form usable.
    const auto chooseAgain = [&] {
        formatVM.setSelectedVolumePath(selected);
        studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    };
    formatVM.setSelectedVolumePath(std::nullopt);
    chooseAgain();
    failNext(SystemDiskService::notAllowedMessage(QStringLiteral("B-CAM")));
    typeInto(&view, "format.confirmation", QStringLiteral("B-CAM"));
    formatVM.run();
    studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(QStringLiteral("reformat-refused"), &view);
    chooseAgain();
    studio.wait(100);
    studio.save(QStringLiteral("reformat-chosen-again"), &view);

    // A format that failed after the unmount, and a mount back that failed too.
    failNext(QString::fromStdString(tessaline::DriveFormatError::leftUnmounted(
                                        "Error creating file system: the card stopped answering.", "B-CAM",
                                        "it holds no file system the system can read now", "udisksctl mount -b /dev/sdc1")
                                        .what()));
    typeInto(&view, "format.confirmation", QStringLiteral("B-CAM"));
    formatVM.run();
    studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(QStringLiteral("reformat-left-unmounted"), &view);
    failNext(QString());

    *noWay = true;
    formatVM.setSelectedVolumePath(std::nullopt);
    formatVM.refreshVolumes();
    formatVM.setSelectedVolumePath(selected);
    studio.waitFor([&] { return !formatVM.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(QStringLiteral("reformat-no-route"), &view);
    view.hide();
});

// An erase on a safe standing that kept the files changed while it ran (a folder stands in for
// the card; the erase reports what a run with files written meanwhile reports).
ScreenshotScene eraseKept("62-erase-kept", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/media/B002");
    std::unique_ptr<SceneVolume> volume;
    if (geteuid() == 0) volume = std::make_unique<SceneVolume>(card, QStringLiteral("B002"));
    QDir().mkpath(card);
    shoot(card);
    const fs::path root = fspath(card);
    CardPrepBackend backend = CardPrepBackend::standard();
    if (!volume || !volume->isMounted()) {
        // A folder stands in for the card, as in the erase scene.
        backend.validate = [root](const fs::path&) {
            tessaline::CardPrepEngine::CheckedCard checked;
            checked.card = tessaline::CardPrepEngine::CardFacts{root, 1, std::string("5B2D-10F3"), 1};
            return checked;
        };
        backend.isMounted = [](const fs::path&) { return true; };
    }
    backend.prepare = [](const fs::path&, const auto&, const tessaline::CameraFormatProfile& profile, const auto&,
                         const auto& onEvent, const auto&) {
        const std::vector<std::string> items{"DCIM", "MISC"};
        for (int i = 0; i < int(items.size()); ++i)
            if (onEvent) onEvent(tessaline::CardPrepEngine::Deleting{items[size_t(i)], i, int(items.size())});
        tessaline::CardPrepEngine::Summary summary{1, 12'900'000, profile.folders, {}, false};
        summary.kept = {"DCIM/100CANON/MVI_0008.MP4", "DCIM/100CANON/MVI_0007.MP4", "MISC/MVI_0007.XML",
                        "MISC/NOTES.TXT"};
        return summary;
    };
    EraseStage stage(backend);
    auto& vm = stage.vm;
    auto& view = stage.view;

    stage.pickAndErase(studio, card, QStringLiteral("B002"));
    studio.waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm.phase()); }, 30'000);
    studio.waitFor([&] { return !vm.isBusy(); });
    studio.wait(100);
    studio.save(QStringLiteral("erase-kept"), &view);
    view.hide();
});

// Stop clicked during an erase of a real card: the section says it is stopping, then what the
// stop left; then Stop before the next erase deleted anything.
ScreenshotScene eraseStop("63-erase-stop", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/media/C003");
    std::unique_ptr<SceneVolume> volume;
    if (geteuid() == 0) volume = std::make_unique<SceneVolume>(card, QStringLiteral("C003"));
    QDir().mkpath(card);
    shoot(card);
    // The erase holds after its first files until the stopping picture is taken.
    auto release = std::make_shared<std::atomic<bool>>(false);
    EraseStage stage(sceneBackend(card, volume && volume->isMounted(), release, 5,
                                  std::make_shared<std::atomic<bool>>(false)));
    auto& vm = stage.vm;
    auto& view = stage.view;

    stage.pickAndErase(studio, card, QStringLiteral("C003"));
    studio.waitFor([&] {
        const auto* running = std::get_if<CardPrepViewModel::Running>(&vm.phase());
        return running && !running->item.isEmpty();
    }, 10'000);
    auto* stop = view.findChild<QPushButton*>(QStringLiteral("erase.stop"));
    if (stop) stop->click();
    studio.wait(100);
    studio.save(QStringLiteral("erase-stopping"), &view, true, view.findChild<QWidget*>(QStringLiteral("erase.running")));
    *release = true;
    studio.waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm.phase()); }, 30'000);
    studio.waitFor([&] { return !vm.isBusy(); });
    studio.wait(100);
    studio.save(QStringLiteral("erase-stopped"), &view, true, view.findChild<QWidget*>(QStringLiteral("erase.outcomeCounts")));
    view.hide();

    // Stopped again before the erase deleted anything (it still measures the card): nothing
    // was deleted, and the card keeps its count and its scan.
    auto releaseAgain = std::make_shared<std::atomic<bool>>(false);
    EraseStage again(sceneBackend(card, volume && volume->isMounted(), releaseAgain, 1,
                                  std::make_shared<std::atomic<bool>>(false), true));
    again.pickAndErase(studio, card, QStringLiteral("C003"));
    studio.waitFor([&] { return std::holds_alternative<CardPrepViewModel::Running>(again.vm.phase()); }, 10'000);
    if (auto* stopAgain = again.view.findChild<QPushButton*>(QStringLiteral("erase.stop"))) stopAgain->click();
    *releaseAgain = true;
    studio.waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(again.vm.phase()); }, 30'000);
    studio.waitFor([&] { return !again.vm.isBusy(); });
    studio.wait(100);
    studio.save(QStringLiteral("erase-stopped-untouched"), &again.view, true,
                again.view.findChild<QWidget*>(QStringLiteral("erase.outcome")));
    again.view.hide();
});

// A card whose file system numbered every file afresh since the scan (as FAT and exFAT do
// once the kernel forgets them): the count reads them again before the gate judges; the
// picture is taken while it reads, then once their bytes vouched for them.
ScreenshotScene eraseChecking("65-erase-checking", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/media/D004");
    QDir().mkpath(card);
    shoot(card);
    const fs::path root = fspath(card);
    auto release = std::make_shared<std::atomic<bool>>(false);
    CardPrepBackend backend = sceneBackend(card, false, release, 0, std::make_shared<std::atomic<bool>>(false));
    // The folder stands in for an exFAT card; every count after the first holds until the
    // picture is taken.
    auto counts = std::make_shared<std::atomic<int>>(0);
    backend.computePreview = [real = backend.computePreview, release, counts](const fs::path& path) {
        CardContents contents = real(path);
        if (contents.filesMount) contents.filesMount->keepsInodeNumbers = false;
        if (++*counts > 1)
            for (int i = 0; i < 3000 && !*release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return contents;
    };
    EraseStage stage(backend);
    auto& vm = stage.vm;
    auto& view = stage.view;
    stage.pick(studio, card);
    auto renumbered = std::make_shared<tessaline::VerificationReport>(*report(root, 0));
    for (auto& record : *renumbered->cardFiles) record.inode += 1'000'000;
    renumbered->cardFilesMount = tessaline::CardFileSet::mountOf(root);
    if (renumbered->cardFilesMount) renumbered->cardFilesMount->keepsInodeNumbers = false;
    renumbered->cardVolumeIdentity = tessaline::VolumeIdentity{std::string("4A1C-09E2"), std::string("A001"),
                                                               std::nullopt, std::nullopt};
    stage.scan.setLastReport(renumbered);
    typeInto(&view, "erase.confirmation", QStringLiteral("D004"));
    studio.waitFor([&] { return vm.checking().has_value(); }, 5'000);
    studio.wait(100);
    studio.save(QStringLiteral("erase-checking"), &view);
    *release = true;
    studio.waitFor([&] { return !vm.checking() && !vm.isBusy(); }, 20'000);
    studio.wait(100);
    studio.save(QStringLiteral("erase-checked"), &view);
    view.hide();
});

// A card whose files changed since its scan (a still shot, one deleted, a sidecar rewritten):
// the Safety Check names each by what happened to it; then the card is unmounted and mounted
// again while picked, and the screen says to pick it again before any click.
ScreenshotScene eraseRemounted("66-erase-remounted", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/media/E005");
    std::unique_ptr<SceneVolume> volume;
    if (geteuid() == 0) volume = std::make_unique<SceneVolume>(card, QStringLiteral("E005"));
    QDir().mkpath(card);
    shoot(card);
    const fs::path root = fspath(card);
    const bool realCard = volume && volume->isMounted();
    CardPrepBackend backend = sceneBackend(card, realCard, std::make_shared<std::atomic<bool>>(true), 0,
                                           std::make_shared<std::atomic<bool>>(false));
    // A folder stands in for the card: its mount is told by a number a remount changes.
    auto mountId = std::make_shared<std::atomic<uint64_t>>(1);
    if (!realCard)
        backend.validate = [root, mountId](const fs::path&) {
            tessaline::CardPrepEngine::CheckedCard checked;
            checked.card = tessaline::CardPrepEngine::CardFacts{root, 1, std::string("4A1C-09E2"), *mountId};
            return checked;
        };
    EraseStage stage(backend);
    auto& vm = stage.vm;
    auto& view = stage.view;
    stage.pick(studio, card);
    // The scan of this very card, which reads its identity as a scan does.
    auto scanned = std::make_shared<tessaline::VerificationReport>(*report(root, 0));
    scanned->cardVolumeIdentity = backend.readIdentity(root);
    stage.scan.setLastReport(scanned);
    typeInto(&view, "erase.confirmation", QStringLiteral("E005"));
    studio.waitFor([&] { return !vm.isCounting(); });
    studio.wait(100);

    fs::copy_file(root / "DCIM/100CANON/IMG_0002.JPG", root / "DCIM/100CANON/IMG_0326.JPG");
    fs::remove(root / "DCIM/100CANON/IMG_0001.JPG");
    if (QFile sidecar(qpath(root / "MISC/MVI_0007.XML")); sidecar.open(QIODevice::WriteOnly)) sidecar.write("<clip take=\"2\"/>");
    vm.recount();
    studio.waitFor([&] { return vm.preview() && vm.preview()->fileCount == 8 && !vm.isCounting(); }, 10'000);
    studio.wait(150);
    studio.save(QStringLiteral("erase-changed-since-scan"), &view);

    if (realCard) volume->remount();
    else ++*mountId;
    vm.recount();  // as the screen does when a volume mounts at the card's path
    studio.waitFor([&] { return !vm.isCounting(); }, 10'000);
    vm.setAcknowledgedUnverified(true);
    view.render();
    studio.wait(150);
    studio.save(QStringLiteral("erase-remounted"), &view);
    view.hide();
});

// A card too small for FAT32 chosen after a larger one was set up for it: the form chooses the
// first file system the card takes, cuts the long reason in the list, and says in words why
// Erase & Reformat is disabled.
ScreenshotScene reformatSmall("64-reformat-small-card", [](ScreenshotStudio& studio) {
    DriveFormatViewModel::Dependencies dependencies;
    dependencies.backend.listCandidates = [] {
        return std::vector<tessaline::VolumeInfo>{{"/media/crew/SMALL", "SMALL"}};
    };
    dependencies.backend.inspect = standInInspection("/dev/sdd1", 268'435'456, "FAT32");
    dependencies.backend.route = [](const DriveFormatViewModel::Facts&) {
        DriveFormatViewModel::Route route;
        route.kind = DriveFormatViewModel::Route::Kind::diskService;
        route.unmakeable[tessaline::DriveFormat::fat32] =
            QStringLiteral("the card is too small: FAT32 needs at least 512 MB for the cluster size cameras expect");
        route.unmakeable[tessaline::DriveFormat::apfs] = QStringLiteral("the system disk service can't create it");
        route.unmakeable[tessaline::DriveFormat::hfsPlus] = QStringLiteral("the system disk service can't create it");
        return route;
    };
    DriveFormatViewModel formatVM(dependencies);
    formatVM.setFormat(tessaline::DriveFormat::fat32);  // chosen for the card before
    CardPrepViewModel vm{CardPrepViewModel::Dependencies{}};
    ScanViewModel scan{ScanViewModel::Dependencies{}};
    CardPrepView view(vm, scan, formatVM);
    showInspected(studio, view, formatVM, QStringLiteral("/media/crew/SMALL"), QStringLiteral("reformat-small-card"));
    saveFormatList(studio, view, QStringLiteral("reformat-small-card-formats"));
    typeInto(&view, "format.confirmation", QStringLiteral("small"));
    studio.wait(100);
    studio.save(QStringLiteral("reformat-small-card-mismatch"), &view);
    view.hide();
});

}  // namespace

}  // namespace brindlecove::tools
