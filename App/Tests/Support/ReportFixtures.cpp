#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Support/ReportFixtures.hpp"

#include <string>

namespace brindlecove::testing {

namespace fs = std::filesystem;
using tessaline::MatchStatus;

tessaline::Fingerprint fingerprint(const fs::path& path, int64_t size, std::optional<double> date) {
    tessaline::Fingerprint print{.url = path, .byteSize = size};
    if (date) {
        print.captureDate = *date;
        print.hasCameraTimestamp = true;
        print.timestampSource = tessaline::TimestampSource::exifOriginal;
    }
    return print;
}

tessaline::MatchResult clip(std::vector<tessaline::Fingerprint> primaries, MatchStatus status,
                            std::vector<fs::path> sidecars) {
    tessaline::MatchResult result;
    result.group.primaryFiles = std::move(primaries);
    result.group.sidecars = std::move(sidecars);
    result.status = std::move(status);
    return result;
}

std::shared_ptr<const tessaline::VerificationReport> makeReport(std::vector<tessaline::MatchResult> results,
                                                                 const fs::path& card,
                                                                 std::vector<fs::path> unreadableFolders) {
    tessaline::VolumeIdentity identity;
    identity.name = "CARD";
    return std::make_shared<const tessaline::VerificationReport>(card, std::vector<fs::path>{"/media/u/BACKUP"},
                                                                 1'700'000'000.0, std::move(results), identity,
                                                                 std::move(unreadableFolders));
}

std::shared_ptr<const tessaline::VerificationReport> withCardFiles(tessaline::VerificationReport report) {
    const auto set = tessaline::CardFileSet::read(report.cardPath);
    report.cardFiles = set.files;
    report.cardFilesMount = set.mount;
    return std::make_shared<const tessaline::VerificationReport>(std::move(report));
}

std::shared_ptr<const tessaline::VerificationReport> countsReport(int missing, int confirmed, int mismatched,
                                                                  int duplicates) {
    std::vector<tessaline::MatchResult> results;
    auto name = [](const char* stem, int i) { return std::string(stem) + std::to_string(1000 + i) + ".MOV"; };
    for (int i = 0; i < missing; ++i)
        results.push_back(clip({fingerprint(fs::path("/media/u/CARD/DCIM") / name("M", i), 1000)}, MatchStatus::missing()));
    for (int i = 0; i < confirmed; ++i)
        results.push_back(clip({fingerprint(fs::path("/media/u/CARD/DCIM") / name("C", i), 1000)},
                               MatchStatus::confirmed(fs::path("/media/u/BACKUP/Day1") / name("C", i))));
    for (int i = 0; i < mismatched; ++i)
        results.push_back(clip({fingerprint(fs::path("/media/u/CARD/DCIM") / name("N", i), 1000)},
                               MatchStatus::nameMatchMetadataMismatch(fs::path("/media/u/BACKUP/Day1") / name("N", i))));
    for (int i = 0; i < duplicates; ++i)
        results.push_back(clip({fingerprint(fs::path("/media/u/CARD/DCIM") / name("D", i), 1000)},
                               MatchStatus::possibleDuplicate({"/media/u/BACKUP/a.MOV", "/media/u/BACKUP/b.MOV"})));
    return makeReport(std::move(results));
}

}  // namespace brindlecove::testing
