// Each copied file's start and end, as the transfer log's exports carry them, against the
// moments the engine really worked on that file: its source opened and its proven copy moved
// to its final name, seen through the engine's own file calls.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/ForwardingCopyIO.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <fcntl.h>

#include <map>
#include <mutex>
#include <sstream>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;

// The system's calls, noting when each card file was first opened and when each copy took
// its final name, and how many files were in flight (opened, not yet placed) at most.
class WatchedIO final : public ForwardingCopyIO {
public:
    explicit WatchedIO(fs::path card) : card_(std::move(card)) {}

    int open(const char* path, int flags, mode_t mode) override {
        const std::string name = path;
        if (name.starts_with(card_.native() + "/")) {
            std::lock_guard lock(mutex_);
            if (opened.emplace(fs::relative(name, card_).native(), nowEpoch()).second)
                mostInFlight = std::max(mostInFlight, ++inFlight_);
        }
        return ForwardingCopyIO::open(path, flags, mode);
    }

    int rename(const char* from, const char* to, unsigned flags) override {
        const int result = ForwardingCopyIO::rename(from, to, flags);
        if (result == 0) {
            std::lock_guard lock(mutex_);
            placed[fs::path(to).filename().native()] = nowEpoch();
            --inFlight_;
        }
        return result;
    }

    std::map<std::string, EpochSeconds> opened;  // by path below the card
    std::map<std::string, EpochSeconds> placed;  // by final file name
    int mostInFlight = 0;

private:
    fs::path card_;
    std::mutex mutex_;
    int inFlight_ = 0;
};

// The "seconds" column of the CSV, by relative path.
std::map<std::string, double> csvSeconds(const std::string& csv) {
    std::map<std::string, double> seconds;
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
        if (fields.size() == 6) seconds[fields[1]] = std::stod(fields[5]);
    }
    return seconds;
}

class CopyTimingTest : public SandboxedTest {};

TEST_F(CopyTimingTest, EachFilesTimeInTheTransferLogIsItsOwn) {
    // Fifty stills and, among them, one clip large enough that its read-back is long.
    const fs::path card = sandbox / "CARD";
    std::vector<std::string> names;
    for (int i = 1; i <= 50; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DCIM/100CANON/IMG_%04d.JPG", i);
        names.push_back(name);
        writePatternFile(card / name, 200'000 + static_cast<size_t>(i) * 2'000, static_cast<unsigned>(i));
    }
    names.push_back("DCIM/100CANON/IMG_0025.MOV");
    writePatternFile(card / names.back(), 96 << 20, 99);

    auto io = std::make_shared<WatchedIO>(card);
    const EpochSeconds runStart = nowEpoch();
    CopyEngine::CopyRun run =
        CopyEngine(io).copy(card, sandbox / "DRIVE", {}, SettleOptions::none(), [] { return false; });
    const EpochSeconds runEnd = nowEpoch();
    ASSERT_TRUE(run.isComplete());
    ASSERT_EQ(run.outcomes.size(), 51u);

    TransferLog log = TransferLog::fromRun(card, sandbox / "DRIVE", true, runStart, runEnd, run);
    const auto fromCsv = csvSeconds(TransferLogExporter::csv(log));
    const std::string json = TransferLogExporter::json(log);
    const std::string mhl = TransferLogExporter::ascMHL(log, "Brindlecove", "1", "host");

    double sum = 0;
    for (size_t k = 0; k < run.outcomes.size(); ++k) {
        const auto& outcome = run.outcomes[k];
        SCOPED_TRACE(outcome.relativePath);
        ASSERT_EQ(outcome.status.kind, CopyEngine::FileStatus::Kind::copiedVerified);
        const EpochSeconds opened = io->opened.at(outcome.relativePath);
        const EpochSeconds placed = io->placed.at(outcome.destinationURL.filename().native());
        // It covers the file's own work: from before its card file is opened to its proof.
        EXPECT_LE(outcome.startedAt, opened);
        EXPECT_GE(outcome.finishedAt, placed);
        // And no more: it starts after the file before it began, and ends before the next
        // file's proof (the copies of a batch are written ahead and proven one by one).
        if (k > 0) EXPECT_GE(outcome.startedAt, io->opened.at(run.outcomes[k - 1].relativePath));
        if (k + 1 < run.outcomes.size())
            EXPECT_LE(outcome.finishedAt, io->placed.at(run.outcomes[k + 1].destinationURL.filename().native()));
        else
            EXPECT_LE(outcome.finishedAt, runEnd);

        // The exports carry exactly that time.
        ASSERT_TRUE(fromCsv.count(outcome.relativePath));
        EXPECT_NEAR(fromCsv.at(outcome.relativePath), outcome.duration(), 0.0005);
        const size_t at = json.find("\"relative_path\": \"" + outcome.relativePath + "\"");
        ASSERT_NE(at, std::string::npos);
        const size_t secondsAt = json.find("\"seconds\": ", at);
        ASSERT_NE(secondsAt, std::string::npos);
        EXPECT_NEAR(std::stod(json.substr(secondsAt + 11)), outcome.duration(), 1e-6);
        // The hash list dates each digest when its own proof ended.
        const size_t pathAt = mhl.find(">" + outcome.relativePath + "</path>");
        ASSERT_NE(pathAt, std::string::npos);
        EXPECT_EQ(mhl.substr(mhl.find("hashdate=\"", pathAt) + 10, 20), formatIso8601(outcome.finishedAt));
        sum += outcome.duration();
    }
    // Times overlap only as far as files were really in flight together.
    EXPECT_GE(io->mostInFlight, 1);
    EXPECT_LE(sum, (runEnd - runStart) * io->mostInFlight);
}

}  // namespace
}  // namespace tessaline
