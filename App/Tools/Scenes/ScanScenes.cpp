// Scenes of the Scan section from a real scan of generated media: a card folder of camera
// JPEGs and videos and a backup folder holding most of them under other names. The metadata
// reader is slowed down so the scan can be caught mid-stage with its chart and estimate; a
// second granted drive that is no longer there shows the skipped-drive line when done.

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/ViewModels/ScanScreenState.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ScanView.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <QDir>
#include <QFile>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;

QString qpath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

// The native reader at the pace of a slow card.
class SlowReader final : public tessaline::MetadataReader {
public:
    tessaline::Fingerprint fingerprint(const fs::path& url) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(45));
        return inner_.fingerprint(url);
    }

private:
    tessaline::NativeMetadataReader inner_;
};

const std::string templateTime = "2025:03:07 14:05:09";

// `from` with `padding` bytes after it (after a JPEG's end marker, or as a QuickTime "free"
// box), so every copy is a clip of its own; a JPEG also gets a capture time of its own,
// `padding` times 4 seconds after the template's, so the photos are singles, not bursts.
void writePadded(const fs::path& from, const fs::path& to, int padding, bool quickTime) {
    fs::create_directories(to.parent_path());
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!quickTime) {
        const size_t at = bytes.find(templateTime);
        const int seconds = 14 * 3600 + 5 * 60 + 9 + padding * 4;
        char time[32];
        std::snprintf(time, sizeof time, "2025:03:07 %02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
        if (at != std::string::npos) bytes.replace(at, templateTime.size(), time);
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (quickTime) {
        const uint32_t size = uint32_t(8 + padding);
        out << char(size >> 24) << char(size >> 16) << char(size >> 8) << char(size) << "free";
    }
    out << std::string(size_t(padding), '\0');
}

bool makeMedia(const fs::path& root, const fs::path& card, const fs::path& drive) {
    const fs::path jpg = root / "t.JPG", mov = root / "t.MOV";
    fs::create_directories(root);
    if (!ScreenshotStudio::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "testsrc=size=640x480", "-frames:v", "1", "-f", "image2", qpath(jpg)}) ||
        !ScreenshotStudio::run("exiftool", {"-q", "-overwrite_original", "-DateTimeOriginal=" + QString::fromStdString(templateTime),
                                            "-Make=Canon", "-Model=EOS R5", qpath(jpg)}) ||
        !ScreenshotStudio::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "testsrc=size=320x240:rate=25", "-t", "1", "-c:v", "mpeg4", "-metadata",
                                          "creation_time=2025-03-07T14:10:00Z", qpath(mov)}))
        return false;
    for (int i = 1; i <= 140; ++i) {
        const bool video = i % 7 == 0;
        char name[64];
        std::snprintf(name, sizeof name, "DCIM/%03dCANON/%s_%04d.%s", 100 + i / 50, video ? "MVI" : "IMG", i,
                      video ? "MOV" : "JPG");
        writePadded(video ? mov : jpg, card / name, i, video);
        if (i % 23 == 0) continue;  // never backed up
        char copy[64];
        std::snprintf(copy, sizeof copy, "Shoot/Day1/%s/A001_%04d.%s", video ? "Video" : "Stills", i,
                      video ? "mov" : "jpg");
        writePadded(video ? mov : jpg, drive / copy, i, video);
    }
    return true;
}

ScreenshotScene scan("20-scan", [](ScreenshotStudio& studio) {
    const fs::path home = studio.home().toStdString();
    const fs::path card = home / "scan-media/EOS_DIGITAL", drive = home / "scan-media/BACKUP_A";
    const fs::path gone = home / "scan-media/SHUTTLE_B";
    if (!makeMedia(home / "scan-media/templates", card, drive)) {
        std::fprintf(stderr, "scan scene: ffmpeg or exiftool failed\n");
        return;
    }
    tessaline::SecurityScopedBookmarkStore grants;
    grants.grant(drive);
    fs::create_directories(gone);
    grants.grant(gone);
    fs::remove_all(gone);  // granted once, not connected now

    ScanViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional<QString>(qpath(card)); };
    dependencies.environment.makeReader = [] { return std::make_shared<SlowReader>(); };
    dependencies.environment.fingerprintThreads = 1;
    ScanViewModel model(std::move(dependencies));
    ScanView view(model, [&] {
        return std::vector<tessaline::VolumeInfo>{{card, "EOS_DIGITAL"}, {drive, "BACKUP_A"}};
    });
    view.resize(760, 940);
    view.show();
    ScreenshotStudio::wait(100);
    studio.save("scan-idle-no-card", &view);
    model.pickCard();
    ScreenshotStudio::wait(100);
    studio.save("scan-idle", &view);

    model.startScan(false);
    ScreenshotStudio::waitFor([&] {
        auto* stage = std::get_if<scan_phase::ScanningCard>(&model.phase());
        return (stage && stage->completed >= 80 && model.estimatedSecondsRemaining()) || !model.isRunning();
    });
    studio.save("scan-mid", &view);
    ScreenshotStudio::waitFor([&] { return !model.isRunning() && !model.runningNoun(); }, 120'000);
    ScreenshotStudio::wait(200);
    studio.save("scan-done", &view);

    // The chosen logs folder and the reports folder are on a drive that is away: the log goes
    // to the default archive, the report's text copy is missing, and the section says both.
    const fs::path away = home / "scan-media/NOTES";
    fs::create_directories(away / "Reports");
    LogArchiveProvider::shared().chooseFolder(away);
    ReportsFolderStore::choose(away / "Reports");
    fs::remove_all(away);
    model.startScan(false);
    ScreenshotStudio::waitFor([&] { return !model.isRunning() && !model.runningNoun(); }, 120'000);
    ScreenshotStudio::waitFor([&] { return model.filingNotice() && model.reportTextNotice(); });
    ScreenshotStudio::wait(200);
    studio.save("scan-done-notices", &view);
    // Later scenes file into the default archive again, without the notice.
    ReportsFolderStore::clear();
    LogArchiveProvider::shared().chooseFolder(home);
    UserDefaults::standard().remove(LogArchiveProvider::bookmarkKey);
    UserDefaults::standard().remove(LogArchiveProvider::pathKey);
    // The card granted as a backup drive of its own: named for what it is, not as unmounted.
    grants.grant(card);
    model.startScan(false);
    ScreenshotStudio::waitFor([&] { return !model.isRunning() && !model.runningNoun(); }, 120'000);
    ScreenshotStudio::wait(200);
    studio.save("scan-done-card-granted", &view);

    // The byte proof's parts, each with its own total, in the user's number format.
    ScanScreenState proving;
    proving.cardPath = qpath(card);
    proving.phase = scan_phase::Verifying{9364, 10005, ProofPart::clips};
    proving.totalFilesSearched = 20050;
    proving.progressHistory = {{1, 0.0, 0}, {2, 30.0, 4000}, {3, 60.0, 9364}};
    proving.estimatedSecondsRemaining = 4.0;
    view.render(proving);
    ScreenshotStudio::wait(100);
    studio.save("scan-proving-clips", &view);
    proving.phase = scan_phase::Verifying{412, 10045, ProofPart::otherFiles};
    proving.progressHistory = {{4, 0.0, 0}, {5, 2.0, 412}};
    view.render(proving);
    ScreenshotStudio::wait(100);
    studio.save("scan-proving-other-files", &view);
});

// A card of 1,254 files that are no camera media (a recorder's logs and notes), scanned for
// real against an empty backup folder: the Scan summary and the Report banner count and name
// them instead of calling the card empty.
ScreenshotScene scanOtherFiles("21-scan-other-files", [](ScreenshotStudio& studio) {
    const fs::path home = studio.home().toStdString();
    const fs::path card = home / "other-files/FIELD_REC", drive = home / "other-files/BACKUP_C";
    for (int i = 1; i <= 1254; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "LOGS/%02d/TAKE_%04d.LOG", 1 + i / 100, i);
        fs::create_directories((card / name).parent_path());
        std::ofstream(card / name) << "take " << i << "\n";
    }
    std::ofstream(card / "NOTES.TXT") << "Day 3, stage B\n";
    fs::create_directories(drive);
    tessaline::SecurityScopedBookmarkStore grants;
    for (const std::string& label : grants.grantedVolumeLabels()) grants.revoke(label);
    grants.grant(drive);

    ScanViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional<QString>(qpath(card)); };
    ScanViewModel model(std::move(dependencies));
    ScanView view(model, [&] { return std::vector<tessaline::VolumeInfo>{{card, "FIELD_REC"}}; });
    view.resize(760, 940);
    view.show();
    model.pickCard();
    model.startScan(true);
    ScreenshotStudio::waitFor([&] { return !model.isRunning() && !model.runningNoun(); }, 120'000);
    ScreenshotStudio::wait(200);
    studio.save("scan-done-other-files", &view);

    studio.window().models().scan().setLastReport(model.lastReport());
    studio.window().select(AppSection::report);
    ScreenshotStudio::wait(200);
    studio.save("report-other-files-only");
});

}  // namespace

}  // namespace brindlecove::tools
