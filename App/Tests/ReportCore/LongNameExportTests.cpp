// Exports under any name the file system takes: a report's CSV and PDF and a transfer log's
// four files with names of 240 to 255 bytes are written whole; one byte more is refused
// with the system's reason, and no temporary file is left either way.

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/TransferLogFiles.hpp"
#include "BrindlecoveApp/ViewModels/ReportExport.hpp"

#include "Support/ReportFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
namespace fs = std::filesystem;

namespace {

// A file name of exactly `bytes` bytes with `extension`, in three-byte characters where
// they fit, then ASCII.
std::string nameOf(size_t bytes, const std::string& extension) {
    std::string stem;
    while (stem.size() + 3 + extension.size() <= bytes) stem += "\u30ab";
    while (stem.size() + extension.size() < bytes) stem += "x";
    return stem + extension;
}

bool noTemporaryFile(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().front() == '.') return false;
    return true;
}

class LongNameExportTest : public tessaline::testing::SandboxedTest {};

}  // namespace

TEST_F(LongNameExportTest, ReportExportsAndTransferLogFilesTakeNamesUpTo255Bytes) {
    auto report = makeReport({clip({fingerprint("/media/u/CARD/DCIM/A001.MOV", 1000)}, tessaline::MatchStatus::missing())});
    tessaline::TransferLog log;
    log.sourceURL = "/media/u/CARD";
    log.destinationURL = "/media/u/BACKUP";
    log.plannedFileCount = 0;
    const TransferLogFiles files;
    const fs::path folder = sandbox.path() / "Exports";
    fs::create_directories(folder);

    for (size_t bytes : {size_t{240}, size_t{250}, size_t{255}}) {
        SCOPED_TRACE(bytes);
        const fs::path csv = folder / nameOf(bytes, ".csv");
        ASSERT_EQ(csv.filename().native().size(), bytes);
        EXPECT_FALSE(ReportExport::write(*report, ReportExport::Format::csv, qtPath(csv)));
        EXPECT_EQ(tessaline::testing::readFile(csv), tessaline::ReportExporter::csv(*report));
        EXPECT_FALSE(ReportExport::write(*report, ReportExport::Format::pdf, qtPath(folder / nameOf(bytes, ".pdf"))));
        EXPECT_GT(fs::file_size(folder / nameOf(bytes, ".pdf")), 0u);

        const fs::path mhl = folder / nameOf(bytes, ".mhl");
        files.write(TransferLogFiles::Artifact::mhl, log, qtPath(mhl));
        EXPECT_NE(tessaline::testing::readFile(mhl).find("<hashlist"), std::string::npos);
        const fs::path all = folder / ("all-" + std::to_string(bytes));
        const std::string stem = nameOf(bytes - 5, "");  // ".json" is the longest extension
        files.writeAll(log, qtPath(all), QString::fromStdString(stem));
        for (const char* extension : {".csv", ".json", ".mhl", ".pdf"})
            EXPECT_TRUE(fs::exists(all / (stem + extension))) << extension;
        EXPECT_EQ(tessaline::testing::readFile(all / (stem + ".csv")), tessaline::TransferLogExporter::csv(log));
        EXPECT_TRUE(noTemporaryFile(all));
    }

    const std::optional<QString> refused =
        ReportExport::write(*report, ReportExport::Format::csv, qtPath(folder / nameOf(256, ".csv")));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->endsWith(QStringLiteral(": File name too long."))) << refused->toStdString();
    EXPECT_TRUE(noTemporaryFile(folder));
}
