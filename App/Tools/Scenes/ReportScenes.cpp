// Scenes of the Report section, from real media made here (videos, one turned by its display
// matrix, stills, a still PNG and a sound), some of it copied to a "drive" folder: a safe
// report, a report with files still only on the card (and its rescue copy run for real),
// a card that was not fully read, a card whose clips are safe but whose other files are not,
// a rescue that failed, shown in the Production Log, and its outcome once the card was
// erased, and the preview window over a still (video frames are
// drawn by the platform's video output, which an offscreen grab does not capture).

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/PreviewWindow.hpp"
#include "BrindlecoveApp/Views/ReportFileList.hpp"
#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/RescueSection.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Copy/ForwardingCopyIO.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <thread>

#include <fcntl.h>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;

fs::path fspath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

bool ffmpeg(QStringList arguments) {
    arguments.prepend(QStringLiteral("-y"));
    arguments.prepend(QStringLiteral("error"));
    arguments.prepend(QStringLiteral("-loglevel"));
    return ScreenshotStudio::run(QStringLiteral("ffmpeg"), arguments);
}

struct Shot {
    QString name;
    QString source;  // an ffmpeg lavfi source
    bool video;
};

// The card's files: five clips and four stills, a sound and a turned clip.
QStringList shootCard(const QString& card) {
    QDir().mkpath(card + QStringLiteral("/DCIM/100MEDIA"));
    const Shot shots[] = {
        {QStringLiteral("C0001.MP4"), QStringLiteral("testsrc2=size=640x360:rate=25"), true},
        {QStringLiteral("C0002.MP4"), QStringLiteral("smptehdbars=size=640x360:rate=25"), true},
        {QStringLiteral("C0003.MOV"), QStringLiteral("mandelbrot=size=640x360:rate=25"), true},
        {QStringLiteral("C0004.MOV"), QStringLiteral("life=size=640x360:rate=25:mold=10:ratio=0.5"), true},
        {QStringLiteral("C0005.MP4"), QStringLiteral("cellauto=size=640x360:rate=25:rule=110"), true},
        {QStringLiteral("DJI_0101.JPG"), QStringLiteral("gradients=size=1200x800:seed=3"), false},
        {QStringLiteral("DJI_0102.JPG"), QStringLiteral("mandelbrot=size=1200x800:start_scale=0.4"), false},
        {QStringLiteral("DJI_0103.JPG"), QStringLiteral("gradients=size=1200x800:seed=9"), false},
        {QStringLiteral("DJI_0104.PNG"), QStringLiteral("rgbtestsrc=size=800x600"), false},
    };
    QStringList files;
    for (const Shot& shot : shots) {
        const QString file = card + QStringLiteral("/DCIM/100MEDIA/") + shot.name;
        if (!QFileInfo::exists(file)) {
            QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), shot.source};
            if (shot.video)
                args << QStringLiteral("-t") << QStringLiteral("2") << QStringLiteral("-c:v") << QStringLiteral("libx264")
                     << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
            else
                args << QStringLiteral("-frames:v") << QStringLiteral("1");
            args << file;
            ffmpeg(args);
        }
        files << file;
    }
    // The fourth clip was filmed with the camera on its side.
    ScreenshotStudio::run(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                       QStringLiteral("-Rotation=90"), files[3]});
    const QString sound = card + QStringLiteral("/DCIM/100MEDIA/ZOOM0001.WAV");
    ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("sine=frequency=440:duration=1"), sound});
    files << sound;
    return files;
}

tessaline::MatchResult clipOf(const QString& file, MatchStatus status, double date) {
    tessaline::Fingerprint print{.url = fspath(file), .byteSize = QFileInfo(file).size()};
    print.captureDate = date;
    print.hasCameraTimestamp = true;
    print.timestampSource = tessaline::TimestampSource::quickTimeAtom;
    tessaline::MatchResult result;
    result.group.primaryFiles.push_back(print);
    result.status = std::move(status);
    return result;
}

// A report of the card's files: the first `missing` files only on the card, the others
// confirmed on the drive (copied there for real).
std::shared_ptr<const tessaline::VerificationReport> reportOf(const QString& card, const QStringList& files,
                                                              const QString& drive, int missing,
                                                              std::vector<fs::path> unread = {}) {
    QDir().mkpath(drive);
    std::vector<tessaline::MatchResult> results;
    double date = 1'717'243'200.0;  // 2024-06-01 12:00 UTC
    for (int i = 0; i < files.size(); ++i) {
        date += 97;
        if (i < missing) {
            results.push_back(clipOf(files[i], MatchStatus::missing(), date));
            continue;
        }
        const QString copy = drive + u'/' + QFileInfo(files[i]).fileName();
        if (!QFileInfo::exists(copy)) QFile::copy(files[i], copy);
        results.push_back(clipOf(files[i], MatchStatus::confirmed(fspath(copy)), date));
    }
    tessaline::VolumeIdentity identity;
    identity.name = "A-CAM";
    // The card's files as a scan records them, so that a rescue can tell what it leaves unproven.
    const auto cardFiles = tessaline::CardFileSet::read(fspath(card));
    return std::make_shared<const tessaline::VerificationReport>(fspath(card), std::vector<fs::path>{fspath(drive)},
                                                                 date + 600, std::move(results), identity,
                                                                 std::move(unread), std::vector<tessaline::OtherFile>{},
                                                                 cardFiles.files, cardFiles.mount);
}

ReportView* showReport(ScreenshotStudio& studio, std::shared_ptr<const tessaline::VerificationReport> report) {
    studio.window().models().scan().setLastReport(std::move(report));
    studio.window().select(AppSection::report);
    auto* view = qobject_cast<ReportView*>(studio.window().currentScreen());
    // Thumbnails are asked for by painting: paint, wait for the pool, paint again.
    studio.window().grab();
    ScreenshotStudio::wait(100);
    ThumbnailService::shared().waitForDone(20'000);
    ScreenshotStudio::wait(200);
    return view;
}

}  // namespace

static ScreenshotScene reportScenes("30-report", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/A-CAM");
    const QString drive = studio.home() + QStringLiteral("/BACKUP/Shoot/Day1");
    const QStringList files = shootCard(card);

    showReport(studio, reportOf(card, files, drive, 0));
    studio.save(QStringLiteral("report-safe"));

    auto missing = reportOf(card, files, drive + QStringLiteral("-partial"), 3);
    ReportView* view = showReport(studio, missing);
    studio.save(QStringLiteral("report-missing"));

    // The rescue copy of the three red files into the suggested folder, for real.
    if (view) {
        if (auto* sync = view->findChild<QPushButton*>(QStringLiteral("rescue.sync"))) sync->click();
        auto& rescue = studio.window().models().missingSync();
        ScreenshotStudio::waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); });
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("report-rescued"));
        // The next scan's report starts the rescue group afresh: no outcome of the last rescue.
        showReport(studio, reportOf(card, files, drive + QStringLiteral("-next"), 5));
        studio.save(QStringLiteral("report-after-rescue-next-report"));
    }

    showReport(studio, reportOf(card, files, drive, 0, {fspath(card + QStringLiteral("/DCIM/101MEDIA"))}));
    studio.save(QStringLiteral("report-not-fully-read"));

    // Every clip on the drive, but files beside them only on the card.
    auto others = std::make_shared<tessaline::VerificationReport>(*reportOf(card, files, drive, 0));
    const fs::path root = fspath(card);
    others->otherFiles = {
        {root / "DCIM/100MEDIA/C0001M01.XML", 1'204, tessaline::OtherFile::Role::sidecar, fspath(drive + "/C0001M01.XML")},
        {root / "NOTES.TXT", 312, tessaline::OtherFile::Role::other, std::nullopt},
        {root / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", 1'536, tessaline::OtherFile::Role::other, std::nullopt},
        {root / "PRIVATE/AVCHD/BDMV/INDEX.BDM", 120, tessaline::OtherFile::Role::other, std::nullopt},
        {root / "PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", 264, tessaline::OtherFile::Role::other, std::nullopt},
        // Files in hidden and junk-named folders, and of junk types: erased all the same.
        {root / "Camera settings.ini", 96, tessaline::OtherFile::Role::other, std::nullopt},
        {root / "DCIM/.pending/C0003.MP4", 2'404'112, tessaline::OtherFile::Role::other, std::nullopt},
        {root / "Footage/THMBNL/A0004.MOV", 1'880'410, tessaline::OtherFile::Role::other, std::nullopt}};
    showReport(studio, others);
    studio.save(QStringLiteral("report-other-files"));

    // Two clips missing because their only drive copies lie where nothing proves the card: an
    // overlay folder of the drive, a disk image kept on the card mounted under it, one that
    // can't be located, a second view of the card's own device, a FUSE image driver whose image
    // can't be found, and a file system that can't be followed to its disk.
    auto uncounted = std::make_shared<tessaline::VerificationReport>(*reportOf(card, files, drive, 2));
    const fs::path backup = fspath(studio.home() + QStringLiteral("/BACKUP"));
    uncounted->uncountedCopies = {
        {backup / "Card view" / fspath(files[0]).filename(), tessaline::ProofGround::Doubt::overlay},
        {backup / "Image/DCIM/100MEDIA" / fspath(files[1]).filename(), tessaline::ProofGround::Doubt::imageOnCard},
        {backup / "Old image/DCIM" / fspath(files[1]).filename(), tessaline::ProofGround::Doubt::unidentified},
        {backup / "Card device/DCIM" / fspath(files[0]).filename(), tessaline::ProofGround::Doubt::viewOfCard},
        {backup / "FAT image/DCIM" / fspath(files[0]).filename(), tessaline::ProofGround::Doubt::unlocatedFuseImage},
        {backup / "Elsewhere/DCIM" / fspath(files[1]).filename(), tessaline::ProofGround::Doubt::untracedDevice}};
    showReport(studio, uncounted);
    studio.save(QStringLiteral("report-uncounted"));

    // Two clips not found under their names or near their times on a drive holding an archive
    // of thousands of files of their kind, which the scan did not read whole.
    auto unread = std::make_shared<tessaline::VerificationReport>(*reportOf(card, files, drive, 2));
    unread->unreadCandidates = {{fspath(files[0]), 0, 18'342}, {fspath(files[1]), 0, 18'340}};
    std::sort(unread->unreadCandidates.begin(), unread->unreadCandidates.end(),
              [](const auto& a, const auto& b) { return a.cardFile.native() < b.cardFile.native(); });
    showReport(studio, unread);
    studio.save(QStringLiteral("report-unread"));

    // The preview over a still, then over the turned clip.
    view = showReport(studio, missing);
    if (!view) return;
    view->preview(files[6]);
    if (PreviewWindow* preview = view->previewWindow()) {
        ScreenshotStudio::waitFor([&] { return preview->hasImage(); }, 10'000);
        ScreenshotStudio::wait(100);
        studio.save(QStringLiteral("report-preview-still"), preview, false);
        preview->close();
    }
});

// A burst of 1,000 stills in one camera second whose 421st frame has no proven copy (its drive
// copy differs), beside clips on the drive and three other files only on the card: the row
// names that frame and counts the proven ones, and the rescue counts the clip's files apart
// from the other files.
static ScreenshotScene reportBurst("32-report-burst", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/B-CAM");
    const QStringList files = shootCard(card);
    const QString drive = studio.home() + QStringLiteral("/BACKUP/Shoot/Burst");
    auto report = std::make_shared<tessaline::VerificationReport>(*reportOf(card, files, drive, 0));
    const QString burstFolder = card + QStringLiteral("/DCIM/101BURST");
    QDir().mkpath(burstFolder);
    tessaline::MatchResult burst;
    burst.group.kind = tessaline::ClipGroup::Kind::burstSet;
    for (int k = 0; k < 1000; ++k) {
        const QString frame = burstFolder + QStringLiteral("/IMG_%1.JPG").arg(10000 + k);
        if (!QFileInfo::exists(frame)) QFile::copy(files[5], frame);
        tessaline::Fingerprint print{.url = fspath(frame), .byteSize = QFileInfo(frame).size()};
        print.captureDate = 1'717'243'300.0 + k * 0.0005;
        print.hasCameraTimestamp = true;
        print.timestampSource = tessaline::TimestampSource::exifOriginal;
        burst.group.primaryFiles.push_back(print);
    }
    burst.membersProven.assign(1000, true);
    burst.membersProven[420] = false;
    report->results.push_back(burst);
    const fs::path root = fspath(card);
    report->otherFiles = {{root / "NOTES.TXT", 312, tessaline::OtherFile::Role::other, std::nullopt},
                          {root / "MISC/LENS.DAT", 2'048, tessaline::OtherFile::Role::other, std::nullopt},
                          {root / "PRIVATE/SETTINGS.BIN", 96, tessaline::OtherFile::Role::other, std::nullopt}};
    ReportView* view = showReport(studio, report);
    studio.save(QStringLiteral("report-burst-spoiled"));
    // The burst's row, scrolled into view.
    auto* list = view ? view->findChild<ReportFileList*>(QStringLiteral("report.fileList")) : nullptr;
    if (!list) return;
    for (int row = 0; row < list->model().rowCount(); ++row)
        if (list->model().row(row).status == ReportRow::Status::missing)
            list->view()->scrollTo(list->model().index(row), QAbstractItemView::PositionAtCenter);
    studio.save(QStringLiteral("report-burst-spoiled-row"), nullptr, true, list->view());
});

// A rescue that copies the clips found on no drive but leaves one whose drive namesake holds
// other contents: the group and the Production Log name that clip and do not call the card
// safe.
static ScreenshotScene rescuePartial("31-report-rescue-partial", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/P-CAM");
    const QStringList files = shootCard(card);
    const QString drive = studio.home() + QStringLiteral("/BACKUP/Shoot/Partial");
    auto partial = std::make_shared<tessaline::VerificationReport>(*reportOf(card, files, drive, 2));
    // The third clip's namesake on the drive is another take.
    const QString namesake = drive + QStringLiteral("/") + QFileInfo(files[2]).fileName();
    QFile::remove(namesake);
    QFile::copy(files[3], namesake);
    partial->results[2].status = MatchStatus::nameMatchMetadataMismatch(fspath(namesake));
    ReportView* view = showReport(studio, partial);
    auto& rescue = studio.window().models().missingSync();
    if (!view || !rescue.destination()) return;
    if (auto* sync = view->findChild<QPushButton*>(QStringLiteral("rescue.sync"))) sync->click();
    ScreenshotStudio::waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); });
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("report-rescue-partial"));
    studio.window().select(AppSection::productionLog);
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("production-log-after-partial-rescue"));
});

// A rescue whose drive folder went away: every file fails while still on the card; the
// Production Log shows that rescue; then one file is gone from the card and the card was
// erased after the scan: the group offers no copy and says which files are no longer there.
static ScreenshotScene rescueErased("31-report-rescue-erased", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/E-CAM");
    const QStringList files = shootCard(card);
    const QString drive = studio.home() + QStringLiteral("/BACKUP/Shoot/Erased");
    auto report = reportOf(card, files, drive, 2);
    ReportView* view = showReport(studio, report);
    auto& rescue = studio.window().models().missingSync();
    if (!view || !rescue.destination()) return;
    QDir(drive).removeRecursively();  // the drive's folder is gone before the copy
    if (auto* sync = view->findChild<QPushButton*>(QStringLiteral("rescue.sync"))) sync->click();
    ScreenshotStudio::waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); });
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("report-rescue-failed"));
    studio.window().select(AppSection::productionLog);
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("production-log-after-rescue"));

    QFile::remove(files[0]);
    studio.window().models().erasedReports().add(report);
    rescue.recheckCard();
    ScreenshotStudio::waitFor([&] {
        const auto* done = std::get_if<MissingSyncViewModel::Done>(&rescue.phase());
        return done && done->goneFromCard == 1;
    }, 10'000);
    showReport(studio, report);
    studio.save(QStringLiteral("report-rescue-erased"));
});

namespace {

// The system's file calls, holding the first read of a card file (the comparison of a file
// already on the drive) until released.
class HeldCardReads final : public tessaline::ForwardingCopyIO {
public:
    explicit HeldCardReads(std::string card) : card_(std::move(card)) {}
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    int open(const char* path, int flags, mode_t mode) override {
        if (!(flags & O_CREAT) && std::string_view(path).starts_with(card_) && !reached.exchange(true))
            for (int waited = 0; !released && waited < 20'000; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ForwardingCopyIO::open(path, flags, mode);
    }

private:
    std::string card_;
};

}  // namespace

// A rescue run again into the folder that already holds its files: the group says it checks
// the files already on the drive, and how far it is.
static ScreenshotScene rescueChecking("31-report-rescue-checking", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + QStringLiteral("/K-CAM");
    const QStringList files = shootCard(card);
    const QString drive = studio.home() + QStringLiteral("/BACKUP/Shoot/Again");
    auto report = reportOf(card, files, drive, 3);
    for (int i = 0; i < 3; ++i) QFile::copy(files[i], drive + u'/' + QFileInfo(files[i]).fileName());
    auto io = std::make_shared<HeldCardReads>(QFile::encodeName(card).toStdString());
    MissingSyncViewModel::Dependencies d;
    d.dialogs.chooseFolder = [drive](const FolderRequest&) { return std::optional<QString>(drive); };
    d.bookmarkStoreURL = fspath(studio.home() + QStringLiteral("/rescue-grants.json"));
    d.copyIO = io;
    MissingSyncViewModel model(std::move(d));
    RescueSection section(model);
    section.setReport(report);
    section.resize(560, 260);
    model.pickDestination();
    model.start(*report);
    ScreenshotStudio::waitFor([&] {
        const auto* running = std::get_if<MissingSyncViewModel::Running>(&model.phase());
        return (running && running->checking) || !model.isRunning();
    }, 20'000);
    section.render();
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("report-rescue-checking"), &section, false);
    io->released = true;
    ScreenshotStudio::waitFor([&] { return !model.isRunning(); }, 30'000);
});

}  // namespace brindlecove::tools
