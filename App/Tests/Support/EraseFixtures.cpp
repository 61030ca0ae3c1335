#include "Support/EraseFixtures.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/MediaFixtures.hpp"

#include <QFile>
#include <QTest>

#include <algorithm>

namespace brindlecove::testing {

namespace fs = std::filesystem;

std::vector<fs::path> shootStills(const fs::path& card, const fs::path& drive, int count, int firstNumber) {
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        const int number = firstNumber + i;
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", number);
        const fs::path file = card / "DCIM/100CANON" / name;
        fs::create_directories(file.parent_path());
        char date[64];
        std::snprintf(date, sizeof date, "-DateTimeOriginal=2024:05:%02d 12:%02d:00", 1 + number % 27, number % 60);
        tessaline::testing::makeJpeg(file, {"-Make=Canon", "-Model=EOS R5", date});
        if (!drive.empty()) {
            fs::create_directories(drive / "Shoot");
            fs::copy_file(file, drive / "Shoot" / name, fs::copy_options::overwrite_existing);
        }
        files.push_back(file);
    }
    return files;
}

ReportPtr handMadeReport(const fs::path& card, const std::vector<std::pair<fs::path, tessaline::MatchStatus>>& clips) {
    std::vector<tessaline::MatchResult> results;
    for (const auto& [file, status] : clips) {
        tessaline::MatchResult result;
        std::error_code ec;
        const auto size = fs::file_size(file, ec);
        result.group.primaryFiles.push_back(tessaline::Fingerprint{.url = file, .byteSize = ec ? 0 : int64_t(size)});
        result.status = status;
        results.push_back(std::move(result));
    }
    // The card's files as a scan records them, so that the report can vouch for them.
    std::optional<std::vector<tessaline::CardFileRecord>> records;
    std::optional<tessaline::CardFileMount> mount;
    try {
        tessaline::CardFileSet set = tessaline::CardFileSet::read(card);
        // With their digests, as a scan that proved them: FAT and exFAT number files afresh
        // when the kernel forgets them, and only the bytes then vouch for a file.
        std::vector<std::string> all;
        for (const auto& record : set.files) all.push_back(record.relative);
        tessaline::CardFileComparison::readAgain(card, set.files, all);
        records = std::move(set.files);
        mount = set.mount;
    } catch (const std::exception&) {
    }
    return std::make_shared<const tessaline::VerificationReport>(card, std::vector<fs::path>{}, 0.0, std::move(results),
                                                                 std::nullopt, std::vector<fs::path>{},
                                                                 std::vector<tessaline::OtherFile>{}, std::move(records),
                                                                 mount);
}

QString qstr(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

std::unique_ptr<CardPrepViewModel> realCardPrep(CardPrepBackend backend) {
    CardPrepViewModel::Dependencies dependencies;
    dependencies.backend = std::move(backend);
    return std::make_unique<CardPrepViewModel>(std::move(dependencies));
}

void pickAndCount(CardPrepViewModel& vm, const fs::path& card) {
    vm.takeCard(qstr(card));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !vm.isBusy(); }, 30'000)) << "the card was not counted in time";
}

VerificationStanding verdictOf(CardPrepViewModel& vm, const ReportPtr& report, int timeoutMs) {
    (void)QTest::qWaitFor([&] { return vm.gate(report).kind != VerificationStanding::Kind::checking; }, timeoutMs);
    return vm.gate(report);
}

bool waitForEraseEnd(CardPrepViewModel& vm, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
            return std::holds_alternative<CardPrepViewModel::Done>(vm.phase()) ||
                   std::holds_alternative<CardPrepViewModel::Failed>(vm.phase());
        },
        timeoutMs);
}

std::vector<std::string> topLevel(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace brindlecove::testing
