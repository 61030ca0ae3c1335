#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/ReportExport.hpp"

#include "Support/ReportFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/PdfError.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace brindlecove;
using namespace brindlecove::testing;
using tessaline::MatchStatus;
namespace fs = std::filesystem;

namespace {

class ReportExportTest : public tessaline::testing::SandboxedTest {
protected:
    Dialogs panelAnswering(std::optional<fs::path> path) {
        Dialogs dialogs;
        dialogs.saveFile = [this, path](const SaveRequest& request) -> std::optional<QString> {
            asked = request;
            if (!path) return std::nullopt;
            return qtPath(*path);
        };
        return dialogs;
    }

    std::shared_ptr<const tessaline::VerificationReport> report = makeReport({
        clip({fingerprint("/media/u/CARD/DCIM/b, \"odd\".MOV", 2048, 1'714'564'800.0)},
             MatchStatus::confirmed("/media/u/BACKUP/Day1/b.MOV")),
        clip({fingerprint("/media/u/CARD/DCIM/A001.MOV", 1000)}, MatchStatus::missing()),
    });
    SaveRequest asked;
};

}  // namespace

TEST_F(ReportExportTest, CsvThroughTheSavePanelReadsBack) {
    const auto target = sandbox.path() / "out.csv";
    EXPECT_FALSE(ReportExport::run(*report, ReportExport::Format::csv, panelAnswering(target)));
    EXPECT_EQ(asked.suggestedName, "Brindlecove Report.csv");
    EXPECT_EQ(asked.prompt, "Export");
    const std::string text = tessaline::testing::readFile(target);
    EXPECT_EQ(text.substr(0, text.find('\n')), "status,filename,capture_date,size_bytes,drive_path");
    EXPECT_NE(text.find("A001.MOV"), std::string::npos);
    EXPECT_NE(text.find("\"b, \"\"odd\"\".MOV\""), std::string::npos);
    EXPECT_EQ(text, tessaline::ReportExporter::csv(*report));
}

TEST_F(ReportExportTest, PdfThroughTheSavePanelHoldsTheReport) {
    const auto target = sandbox.path() / "report.pdf";
    EXPECT_FALSE(ReportExport::run(*report, ReportExport::Format::pdf, panelAnswering(target)));
    EXPECT_EQ(asked.suggestedName, "Brindlecove Report.pdf");
    const std::string text = tessaline::testing::pdfText(target);
    EXPECT_NE(text.find("Card Verification Report"), std::string::npos);
    EXPECT_NE(text.find("A001.MOV"), std::string::npos);
}

TEST_F(ReportExportTest, ACancelledPanelWritesNothing) {
    EXPECT_FALSE(ReportExport::run(*report, ReportExport::Format::csv, panelAnswering(std::nullopt)));
    EXPECT_TRUE(fs::is_empty(sandbox.path()));
}

TEST_F(ReportExportTest, AFailedPdfWritesNothingAndKeepsTheExistingFile) {
    const auto target = sandbox.path() / "report.pdf";
    tessaline::testing::writeFile(target, "the report of yesterday");
    auto failing = [](const tessaline::VerificationReport&) -> std::string { throw tessaline::PdfError("no surface"); };
    EXPECT_EQ(ReportExport::write(*report, ReportExport::Format::pdf, qtPath(target), failing),
              "Couldn't create the PDF.");
    auto empty = [](const tessaline::VerificationReport&) { return std::string(); };
    EXPECT_EQ(ReportExport::write(*report, ReportExport::Format::pdf, qtPath(target), empty), "Couldn't create the PDF.");
    EXPECT_EQ(tessaline::testing::readFile(target), "the report of yesterday");
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.path()), fs::directory_iterator()), 1);
}

TEST_F(ReportExportTest, AnUnwritableFolderGivesTheSystemsReason) {
    const auto target = sandbox.path() / "not-a-folder" / "report.csv";
    tessaline::testing::writeFile(sandbox.path() / "not-a-folder", "a file, so nothing can be created below it");
    auto error = ReportExport::write(*report, ReportExport::Format::csv, qtPath(target));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->isEmpty());
}

// An 8 MiB drive with no free block that already holds "Brindlecove Report.csv": the CSV
// export fails with the system's reason and the earlier file survives byte for byte, for a
// report smaller than any write buffer and for one far larger.
TEST_F(ReportExportTest, OnAFullDriveTheExportFailsWithItsReasonAndTheEarlierFileSurvives) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume drive("ext4", 8, "FULL");
    const fs::path target = drive.mountPoint() / "Brindlecove Report.csv";
    const std::string earlier = tessaline::ReportExporter::csv(*countsReport(3, 2));
    tessaline::testing::writeFile(target, earlier);
    tessaline::testing::fillVolume(drive.mountPoint());

    for (const auto& shown : {report, countsReport(3'000, 3'000)}) {
        SCOPED_TRACE(tessaline::ReportExporter::csv(*shown).size());
        EXPECT_EQ(ReportExport::run(*shown, ReportExport::Format::csv, panelAnswering(target)),
                  "Couldn't write " + qtPath(target) + ": No space left on device.");
        EXPECT_EQ(tessaline::testing::readFile(target), earlier);
    }
    EXPECT_EQ(ReportExport::write(*report, ReportExport::Format::pdf, qtPath(drive.mountPoint() / "r.pdf")),
              "Couldn't write " + qtPath(drive.mountPoint() / "r.pdf") + ": No space left on device.");
    EXPECT_FALSE(fs::exists(drive.mountPoint() / "r.pdf"));
    for (const auto& entry : fs::directory_iterator(drive.mountPoint()))
        EXPECT_NE(entry.path().filename().native().front(), '.') << "temporary file left: " << entry.path();
}
