// The transfer log's CSV, JSON and ASC MHL, byte for byte for one log, the MHL validated
// with xmllint, and the four files written together.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Status = CopyEngine::FileStatus;

const std::string schema = mhlSchemaFile().string();

CopyEngine::FileOutcome outcome(const fs::path& destinationRoot, const std::string& rel, const std::string& destName,
                                Status status, std::optional<std::string> source, std::optional<std::string> destination,
                                int64_t size, double seconds) {
    CopyEngine::FileOutcome o;
    o.sourceURL = "/card/" + rel;
    o.destinationURL = destinationRoot / destName;
    o.relativePath = rel;
    o.byteSize = size;
    o.status = std::move(status);
    o.sourceChecksum = std::move(source);
    o.destinationChecksum = std::move(destination);
    o.startedAt = 1'741'356'300;
    o.finishedAt = o.startedAt + seconds;
    return o;
}

class TransferLogExporterTest : public SandboxedTest {
protected:
    fs::path destination() const { return sandbox / "Backup"; }

    TransferLog sampleLog() const {
        TransferLog log;
        log.sourceURL = "/media/u/EOS_DIGITAL";
        log.destinationURL = destination();
        log.preserveStructure = true;
        log.startedAt = 1'741'356'300;
        log.finishedAt = 1'741'356'309;
        log.plannedFileCount = 5;
        log.outcomes = {
            outcome(destination(), "DCIM/A001.MOV", "DCIM/A001.MOV", Status::copiedVerified(), "00000000000000aa",
                    "00000000000000aa", 1'000'000, 1.23456),
            outcome(destination(), "=cmd,x.JPG", "=cmd,x.JPG", Status::skippedAlreadyPresent(), "00000000000000bb",
                    "00000000000000bb", 10, 0),
            outcome(destination(), "DCIM/A002.MOV", "DCIM/A002.MOV", Status::failed("No space left on device"),
                    std::nullopt, std::nullopt, 20, 0.5),
            outcome(destination(), "DCIM/A003.MOV", "DCIM/A003.MOV", Status::verificationFailed("Checksum mismatch"),
                    "00000000000000cc", "00000000000000dd", 30, 2),
            outcome(destination(), "R&D <1>.WAV", "R&D <1>.WAV", Status::copiedNotVerified(), "00000000000000ee",
                    std::nullopt, 40, 0.25),
        };
        return log;
    }
};

TEST_F(TransferLogExporterTest, CsvIsExact) {
    EXPECT_EQ(TransferLogExporter::csv(sampleLog()),
              "status,relative_path,size_bytes,source_xxh64,destination_xxh64,seconds\n"
              "verified,DCIM/A001.MOV,1000000,00000000000000aa,00000000000000aa,1.235\n"
              "already-present,\"'=cmd,x.JPG\",10,00000000000000bb,00000000000000bb,0.000\n"
              "FAILED-copy,DCIM/A002.MOV,20,,,0.500\n"
              "FAILED-verify,DCIM/A003.MOV,30,00000000000000cc,00000000000000dd,2.000\n"
              "copied,R&D <1>.WAV,40,00000000000000ee,,0.250\n");
    EXPECT_EQ(TransferLogExporter::csv(TransferLog{}),
              "status,relative_path,size_bytes,source_xxh64,destination_xxh64,seconds\n");
}

TEST_F(TransferLogExporterTest, JsonIsExact) {
    std::string expected = R"({
  "card_files": [],
  "destination": ")" + destination().native() + R"(",
  "files": [
    {
      "destination_xxh64": "00000000000000aa",
      "relative_path": "DCIM/A001.MOV",
      "seconds": 1.23456,
      "size_bytes": 1000000,
      "source_xxh64": "00000000000000aa",
      "status": "verified"
    },
    {
      "destination_xxh64": "00000000000000bb",
      "relative_path": "=cmd,x.JPG",
      "seconds": 0.0,
      "size_bytes": 10,
      "source_xxh64": "00000000000000bb",
      "status": "already-present"
    },
    {
      "relative_path": "DCIM/A002.MOV",
      "seconds": 0.5,
      "size_bytes": 20,
      "status": "FAILED-copy"
    },
    {
      "destination_xxh64": "00000000000000dd",
      "relative_path": "DCIM/A003.MOV",
      "seconds": 2.0,
      "size_bytes": 30,
      "source_xxh64": "00000000000000cc",
      "status": "FAILED-verify"
    },
    {
      "relative_path": "R&D <1>.WAV",
      "seconds": 0.25,
      "size_bytes": 40,
      "source_xxh64": "00000000000000ee",
      "status": "copied"
    }
  ],
  "finished_at": "2025-03-07T14:05:09Z",
  "preserve_structure": true,
  "source": "/media/u/EOS_DIGITAL",
  "started_at": "2025-03-07T14:05:00Z",
  "summary": {
    "all_verified": false,
    "already_present": 1,
    "card_files_not_proven": 0,
    "complete": true,
    "failed": 2,
    "files": 5,
    "planned_files": 5,
    "total_bytes": 1000100,
    "unhandled_files": 0,
    "unverified": 1,
    "verified": 1,
    "was_cancelled": false
  }
})";
    TransferLog log = sampleLog();
    // Far from 1970 the difference of two dates is not exactly 1.23456.
    log.outcomes[0].startedAt = 0;
    log.outcomes[0].finishedAt = 1.23456;
    EXPECT_EQ(TransferLogExporter::json(log), expected);

    TransferLog unplanned = sampleLog();
    unplanned.plannedFileCount.reset();
    unplanned.wasCancelled = true;
    unplanned.outcomes[0].relativePath = "bad\xff.MOV";  // not UTF-8: replaced, never an exception
    std::string text = TransferLogExporter::json(unplanned);
    EXPECT_NE(text.find("\"planned_files\": null"), std::string::npos);
    EXPECT_NE(text.find("\"was_cancelled\": true"), std::string::npos);
    EXPECT_NE(text.find("bad\xEF\xBF\xBD.MOV"), std::string::npos);
}

TEST_F(TransferLogExporterTest, MhlIsExactAndValid) {
    TransferLog log = sampleLog();
    // One copy exists on disk with a known date; the others fall back to the finish time.
    writeFile(destination() / "DCIM/A001.MOV", "x");
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 500'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (destination() / "DCIM/A001.MOV").c_str(), times, 0), 0);

    std::string xml = TransferLogExporter::ascMHL(log, "Brindlecove", "0.9.0", "edit-bay & \"B\"");
    EXPECT_EQ(xml,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<hashlist version=\"2.0\" xmlns=\"urn:ASC:MHL:v2.0\" "
              "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
              "xsi:schemaLocation=\"urn:ASC:MHL:v2.0 ASCMHL.xsd\">\n"
              "  <creatorinfo>\n"
              "    <creationdate>2025-03-07T14:05:09Z</creationdate>\n"
              "    <hostname>edit-bay &amp; &quot;B&quot;</hostname>\n"
              "    <tool version=\"0.9.0\">Brindlecove</tool>\n"
              "  </creatorinfo>\n"
              "  <processinfo>\n"
              "    <process>transfer</process>\n"
              "  </processinfo>\n"
              "  <hashes>\n"
              "    <hash>\n"
              "      <path size=\"1000000\" lastmodificationdate=\"2023-11-14T22:13:20Z\">DCIM/A001.MOV</path>\n"
              "      <xxh64 action=\"verified\" hashdate=\"2025-03-07T14:05:01Z\">00000000000000aa</xxh64>\n"
              "    </hash>\n"
              "    <hash>\n"
              "      <path size=\"10\" lastmodificationdate=\"2025-03-07T14:05:09Z\">=cmd,x.JPG</path>\n"
              "      <xxh64 action=\"verified\" hashdate=\"2025-03-07T14:05:00Z\">00000000000000bb</xxh64>\n"
              "    </hash>\n"
              "    <hash>\n"
              "      <path size=\"30\" lastmodificationdate=\"2025-03-07T14:05:09Z\">DCIM/A003.MOV</path>\n"
              "      <xxh64 action=\"failed\" hashdate=\"2025-03-07T14:05:02Z\">00000000000000dd</xxh64>\n"
              "    </hash>\n"
              "    <hash>\n"
              "      <path size=\"40\" lastmodificationdate=\"2025-03-07T14:05:09Z\">R&amp;D &lt;1&gt;.WAV</path>\n"
              "      <xxh64 action=\"original\" hashdate=\"2025-03-07T14:05:00Z\">00000000000000ee</xxh64>\n"
              "    </hash>\n"
              "  </hashes>\n"
              "</hashlist>\n");

    writeFile(sandbox / "log.mhl", xml);
    auto check = runCommand({"xmllint", "--noout", "--schema", schema, (sandbox / "log.mhl").native()});
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST_F(TransferLogExporterTest, MhlStaysValidForHostileNamesFlatCopiesAndEmptyRuns) {
    TransferLog log = sampleLog();
    log.preserveStructure = false;
    // A flat copy is listed by its name below the destination (with its suffix), not the card path.
    log.outcomes[0].destinationURL = destination() / "A001_1.MOV";
    log.outcomes[1].destinationURL = destination() / "ctl\x01\x1f\rname\xff\xfe.JPG";
    log.outcomes[3].destinationURL = destination() / "tab\tand\nnewline.MOV";
    std::string xml = TransferLogExporter::ascMHL(log, "Tool\x02", "1\t2", "host\x7f\xc3");
    EXPECT_NE(xml.find("<process>flatten</process>"), std::string::npos);
    EXPECT_NE(xml.find(">A001_1.MOV</path>"), std::string::npos);
    EXPECT_NE(xml.find(">ctl\xEF\xBF\xBD\xEF\xBF\xBD&#13;name\xEF\xBF\xBD\xEF\xBF\xBD.JPG</path>"), std::string::npos);
    writeFile(sandbox / "hostile.mhl", xml);
    auto check = runCommand({"xmllint", "--noout", "--schema", schema, (sandbox / "hostile.mhl").native()});
    EXPECT_EQ(check.exitCode, 0) << check.output << xml;

    // Nothing listed: no empty "hashes" element, which the format does not allow.
    TransferLog empty = sampleLog();
    empty.outcomes = {empty.outcomes[2]};  // a failed copy is never listed
    std::string none = TransferLogExporter::ascMHL(empty, "Brindlecove", "0.9.0", "h");
    EXPECT_EQ(none.find("hashes"), std::string::npos);
    writeFile(sandbox / "empty.mhl", none);
    check = runCommand({"xmllint", "--noout", "--schema", schema, (sandbox / "empty.mhl").native()});
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST_F(TransferLogExporterTest, WriteProducesAllFourFilesReplacingOldOnes) {
    fs::path folder = sandbox / "exports/nested";
    writeFile(folder / "Brindlecove-transfer-log.csv", "old");
    TransferLogExporter::write(sampleLog(), folder, "Brindlecove-transfer-log");
    EXPECT_EQ(readFile(folder / "Brindlecove-transfer-log.csv"), TransferLogExporter::csv(sampleLog()));
    EXPECT_EQ(readFile(folder / "Brindlecove-transfer-log.json"), TransferLogExporter::json(sampleLog()));
    std::string mhl = readFile(folder / "Brindlecove-transfer-log.mhl");
    EXPECT_NE(mhl.find("<tool version=\"0.9.0\">Brindlecove</tool>"), std::string::npos);
    EXPECT_NE(mhl.find("<hostname>" + TransferLogExporter::hostName() + "</hostname>"), std::string::npos);
    EXPECT_EQ(readFile(folder / "Brindlecove-transfer-log.pdf").rfind("%PDF-", 0), 0u);

    // A file where the folder must be: the folder error is thrown and nothing is written.
    writeFile(sandbox / "blocked", "x");
    EXPECT_THROW(TransferLogExporter::write(sampleLog(), sandbox / "blocked/sub", "log"), std::exception);
}

}  // namespace
}  // namespace tessaline
