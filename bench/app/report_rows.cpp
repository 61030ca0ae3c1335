// The report's file list at scale: building the rows of 100,000 clips against 10,000 (texts
// computed once per report; linear means a time ratio of 10), and the first paint of the
// list view for each (only the visible rows are painted, so it should barely grow).
// RATIO report_rows: time for 100,000 over time for 10,000 (target at most 12).
// RATIO report_first_paint: the same for the first paint (target at most 1.5).
// Both are scaling ratios: lower is better. Exits non-zero when a row count is wrong.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/Views/ReportFileList.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QApplication>
#include <QListView>

#include <cstdio>

namespace fs = std::filesystem;
using namespace brindlecove;
using tessaline::MatchStatus;

namespace {

std::shared_ptr<const tessaline::VerificationReport> reportOf(int clips) {
    std::vector<tessaline::MatchResult> results;
    results.reserve(static_cast<size_t>(clips));
    for (int i = 0; i < clips; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "C%06d.MP4", (i * 7919) % clips);
        tessaline::MatchResult result;
        tessaline::Fingerprint print{.url = fs::path("/media/crew/A-CAM/DCIM/100MEDIA") / name, .byteSize = 1'000'000 + i};
        if (i % 3) {
            print.captureDate = 1'717'243'200.0 + i;
            print.hasCameraTimestamp = true;
            print.timestampSource = tessaline::TimestampSource::quickTimeAtom;
        }
        result.group.primaryFiles.push_back(print);
        if (i % 10 == 0) result.status = MatchStatus::missing();
        else if (i % 10 == 1) result.status = MatchStatus::possibleDuplicate({"/media/crew/B/x", "/media/crew/C/x"});
        else result.status = MatchStatus::confirmed(fs::path("/media/crew/BACKUP/Shoot/Day1") / name);
        results.push_back(std::move(result));
    }
    tessaline::VolumeIdentity identity;
    identity.name = "A-CAM";
    return std::make_shared<const tessaline::VerificationReport>("/media/crew/A-CAM", std::vector<fs::path>{},
                                                                 1'717'300'000.0, std::move(results), identity);
}

double bestOf(int rounds, const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) best = std::min(best, bench::secondsOf(work));
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    bench::scratchFolder(argc, argv);
    QApplication app(argc, argv);
    auto small = reportOf(10'000);
    auto large = reportOf(100'000);

    size_t smallRows = 0, largeRows = 0;
    double smallBuild = bestOf(3, [&] { smallRows = ReportFileListModel::buildRows(*small).size(); });
    double largeBuild = bestOf(3, [&] { largeRows = ReportFileListModel::buildRows(*large).size(); });
    bench::printRatio("report_rows", smallBuild, largeBuild);

    ThumbnailService thumbnails(QSize(112, 80), [](const QString&, QSize) { return QImage(); });
    // Rows built beforehand; timed: the view's first layout of the rows and the paint that
    // follows it, as when the report is first shown.
    auto timedPaint = [&](const std::shared_ptr<const tessaline::VerificationReport>& report) {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            ReportFileList list(FileRevealer{}, thumbnails);
            list.resize(900, 700);
            list.setReport(report);
            list.show();
            QPixmap shot;
            best = std::min(best, bench::secondsOf([&] {
                list.view()->doItemsLayout();
                shot = list.grab();
            }));
            if (shot.isNull()) best = 1e9;
        }
        return best;
    };
    double smallPaint = timedPaint(small);
    double largePaint = timedPaint(large);
    bench::printRatio("report_first_paint", smallPaint, largePaint);
    return smallRows == 10'000 && largeRows == 100'000 ? 0 : 1;
}
