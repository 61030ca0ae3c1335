// ReportExporter::pdf of a scan report listing 20,000 missing stills against the same report of
// 2,000, in one run. Prints RATIO report_pdf time(20,000) / (10 * time(2,000)): lower is
// better; 1.0 is growth linear in the rows and the target is at most 1.3 (laying the whole
// report out as one text gave about 8). The seconds for 20,000 rows go to standard error.
// Exits non-zero when a PDF has not one page per 66 lines, the page's capacity.

#include "BenchSupport.hpp"
#include "Tessaline/Report/ReportExporter.hpp"

#include <cstdio>
#include <string>

namespace {

using namespace tessaline;

VerificationReport missingStills(int count) {
    const EpochSeconds start = epochFromUtc(2024, 3, 1, 6, 0, 0);
    std::vector<MatchResult> results;
    results.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05d.JPG", i);
        Fingerprint fp{.url = std::string("/media/user/CARD/DCIM/100CANON/") + name,
                       .byteSize = 12'000'000 + i,
                       .captureDate = start + 2.0 * i,
                       .hasCameraTimestamp = true,
                       .timestampSource = TimestampSource::exifOriginal};
        results.push_back({ClipGroup{{fp}, {}, ClipGroup::Kind::still}, MatchStatus::missing()});
    }
    return VerificationReport("/media/user/CARD", {"/media/user/DRIVE"}, start, std::move(results),
                              VolumeIdentity{.name = "CARD"});
}

// The page count cairo writes in the page tree, or -1.
long pageCount(const std::string& pdf) {
    size_t at = pdf.find("/Type /Pages");
    if (at == std::string::npos) return -1;
    at = pdf.find("/Count ", at);
    return at == std::string::npos ? -1 : std::stol(pdf.substr(at + 7));
}

bool pagesAsExpected(const VerificationReport& report, const std::string& pdf) {
    const long lines = static_cast<long>(report.summaryLines().size());
    const long expected = (lines + 65) / 66;
    if (pageCount(pdf) == expected) return true;
    std::fprintf(stderr, "report_pdf: %ld lines gave %ld pages, expected %ld\n", lines, pageCount(pdf), expected);
    return false;
}

}  // namespace

int main() {
    const VerificationReport small = missingStills(2'000);
    const VerificationReport large = missingStills(20'000);
    std::string smallPdf, largePdf;
    auto [largeSeconds, smallSeconds] = bench::bestOfInterleaved(
        3, [&] { largePdf = ReportExporter::pdf(large); }, [&] { smallPdf = ReportExporter::pdf(small); });
    if (!pagesAsExpected(small, smallPdf) || !pagesAsExpected(large, largePdf)) return 1;
    std::fprintf(stderr, "report_pdf: 2,000 rows %.3f s, 20,000 rows %.3f s\n", smallSeconds, largeSeconds);
    std::printf("RATIO report_pdf %.3f\n", largeSeconds / (10 * smallSeconds));
    return 0;
}
