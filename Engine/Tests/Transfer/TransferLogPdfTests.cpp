// The transfer-log PDF, read back with pdftotext and pdfinfo: verdicts, table contents,
// shortened names and page breaks.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Status = CopyEngine::FileStatus;

TransferLog logWith(int count, Status status = Status::copiedVerified()) {
    TransferLog log;
    log.sourceURL = "/media/u/EOS_DIGITAL";
    log.destinationURL = "/media/u/SHUTTLE/Day 1";
    log.startedAt = 1'741'356'300;
    log.finishedAt = 1'741'356'309;
    log.plannedFileCount = count;
    for (int i = 0; i < count; ++i) {
        CopyEngine::FileOutcome o;
        o.relativePath = "DCIM/100CANON/ROW_" + std::to_string(i) + ".CR3";
        o.sourceURL = "/media/u/EOS_DIGITAL/" + o.relativePath;
        o.destinationURL = "/media/u/SHUTTLE/Day 1/" + o.relativePath;
        o.byteSize = 25'000'000;
        o.status = status;
        o.sourceChecksum = o.destinationChecksum = "0123456789abcd" + std::to_string(10 + i % 90);
        log.outcomes.push_back(o);
    }
    return log;
}

class TransferLogPdfTest : public SandboxedTest {
protected:
    std::string render(const TransferLog& log, const std::string& name = "log.pdf") {
        fs::path file = sandbox / name;
        writeFile(file, TransferLogExporter::pdf(log));
        lastInfo = pdfInfo(file);
        return pdfText(file);
    }
    PdfInfo lastInfo;
};

TEST_F(TransferLogPdfTest, HeaderVerdictAndRows) {
    TransferLog log = logWith(3);
    log.outcomes[1].status = Status::skippedAlreadyPresent();
    std::string text = render(log);
    EXPECT_EQ(lastInfo.pages, 1);
    EXPECT_EQ(lastInfo.width, 792);
    EXPECT_EQ(lastInfo.height, 612);
    EXPECT_NE(text.find("Brindlecove — Verified Transfer Log"), std::string::npos);
    EXPECT_NE(text.find("✓ All 3 files copied and verified byte-for-byte."), std::string::npos);
    EXPECT_NE(text.find("Source: /media/u/EOS_DIGITAL"), std::string::npos);
    // pdftotext's layout mode may widen blanks; the separators and the total are there.
    size_t destination = text.find("Destination: /media/u/SHUTTLE/Day 1 ");
    ASSERT_NE(destination, std::string::npos);
    std::string line = text.substr(destination, text.find('\n', destination) - destination);
    EXPECT_NE(line.find("·"), line.rfind("·"));
    EXPECT_NE(line.find("75 MB"), std::string::npos);
    EXPECT_NE(text.find("STATUS"), std::string::npos);
    EXPECT_NE(text.find("XXH64 (destination)"), std::string::npos);
    EXPECT_NE(text.find("✓ verified"), std::string::npos);
    EXPECT_NE(text.find("✓ present"), std::string::npos);
    EXPECT_NE(text.find("DCIM/100CANON/ROW_2.CR3"), std::string::npos);
    EXPECT_NE(text.find("25 MB"), std::string::npos);
    EXPECT_NE(text.find("0123456789abcd12"), std::string::npos);
}

TEST_F(TransferLogPdfTest, VerdictsOfUnsafeRuns) {
    TransferLog failed = logWith(2);
    failed.outcomes[0].status = Status::failed("No space left on device");
    failed.outcomes[0].sourceChecksum.reset();
    failed.outcomes[0].destinationChecksum.reset();
    std::string text = render(failed);
    EXPECT_NE(text.find("⚠ 1 of 2 files FAILED — do not wipe the card."), std::string::npos);
    EXPECT_NE(text.find("✗ error"), std::string::npos);
    EXPECT_NE(text.find("—"), std::string::npos);

    TransferLog unplanned = logWith(2);
    unplanned.plannedFileCount.reset();
    EXPECT_NE(render(unplanned).find("⚠ INCOMPLETE — 2 of an unrecorded number of files handled. Do not wipe the card."),
              std::string::npos);

    TransferLog stopped = logWith(2);
    stopped.wasCancelled = true;
    stopped.plannedFileCount = 9;
    EXPECT_NE(render(stopped).find("⚠ STOPPED EARLY — 2 of 9 files handled. INCOMPLETE; do not wipe the card."),
              std::string::npos);

    EXPECT_NE(render(logWith(1, Status::copiedNotVerified())).find("⚠ 1 of 1 file was copied WITHOUT byte-verification."),
              std::string::npos);
    std::string none = render(logWith(0));
    EXPECT_NE(none.find("⚠ No files were transferred."), std::string::npos);
    EXPECT_NE(none.find("STATUS"), std::string::npos);
    EXPECT_EQ(lastInfo.pages, 1);
}

TEST_F(TransferLogPdfTest, LongNamesAreShortenedFromTheFront) {
    TransferLog log = logWith(2);
    std::string exact(60, 'a');
    log.outcomes[0].relativePath = exact + "é.MO";                     // 64 characters (é is one)
    log.outcomes[1].relativePath = "Z" + std::string(60, 'b') + ".MOV";  // 65 characters
    std::string text = render(log);
    EXPECT_NE(text.find(exact + "é.MO"), std::string::npos);
    EXPECT_NE(text.find("…" + std::string(59, 'b') + ".MOV"), std::string::npos);
    EXPECT_EQ(text.find("Zb"), std::string::npos);
}

TEST_F(TransferLogPdfTest, WideNamesAreCutByTheirWidthAndLeaveSizeAndChecksumReadable) {
    // 44 CJK characters are 421 points wide at 8.5 points, more than the 392-point column,
    // in fewer than 64 characters; an override would make the second name read A002.MXF.
    const std::string glyphs[] = {"\u64AE", "\u5F71", "\u7D20", "\u6750", "\u7B2C", "\u4E00", "\u65E5", "\u76EE"};
    std::string wide = "DCIM/";
    for (int i = 0; i < 44; ++i) wide += glyphs[i % 8];
    const std::string reversed = "DCIM/A001\u202EFXM.200A";
    TransferLog log = logWith(3);
    log.outcomes[0].relativePath = wide;
    log.outcomes[1].relativePath = reversed;
    for (auto& outcome : log.outcomes) outcome.destinationURL = log.destinationURL / outcome.relativePath;
    const fs::path file = sandbox / "wide.pdf";
    writeFile(file, TransferLogExporter::pdf(log));
    const std::string text = pdfText(file);

    // One line holds the row: status, the name's tail after "…", size and checksum.
    std::vector<std::string> rowLines;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        if (line.find(glyphs[0]) != std::string::npos || line.find(glyphs[7]) != std::string::npos)
            rowLines.push_back(line);
        start = end + 1;
    }
    ASSERT_EQ(rowLines.size(), 1u) << text;
    const std::string& row = rowLines.front();
    EXPECT_EQ(row.find("✓ verified"), row.find_first_not_of(' ')) << row;
    EXPECT_NE(row.find("25 MB"), std::string::npos) << row;
    EXPECT_NE(row.find("0123456789abcd10"), std::string::npos) << row;
    const size_t ellipsis = row.find("…");
    ASSERT_NE(ellipsis, std::string::npos) << row;
    const std::string tail = row.substr(ellipsis + 3, row.find(' ', ellipsis) - ellipsis - 3);
    EXPECT_TRUE(wide.ends_with(tail)) << tail;
    EXPECT_GE(tail.size(), 30u * 3) << "the cut keeps as much of the name as fits";
    // The cell ends left of the size column at x 522.
    bool measured = false;
    for (const PdfWord& word : pdfWords(file))
        if (word.text.find(glyphs[7]) != std::string::npos) {
            EXPECT_LT(word.xMax, 522) << word.text;
            measured = true;
        }
    EXPECT_TRUE(measured);

    EXPECT_EQ(text.find("A002.MXF"), std::string::npos) << text;
    EXPECT_NE(text.find("DCIM/A001\uFFFDFXM.200A"), std::string::npos) << text;
    // The files other programs read keep both names exactly.
    for (const std::string& exported : {TransferLogExporter::csv(log), TransferLogExporter::json(log),
                                        TransferLogExporter::ascMHL(log, "Brindlecove", "0.9.0", "host")}) {
        EXPECT_NE(exported.find(wide), std::string::npos);
        EXPECT_NE(exported.find(reversed), std::string::npos);
    }
}

TEST_F(TransferLogPdfTest, LongReasonsAndHeadingsWrapInsideTheMargins) {
    TransferLog log = logWith(3);
    std::string name = "DCIM/100CANON/";
    for (int i = 0; i < 6; ++i) name += "A_rather_long_folder_name_" + std::to_string(i) + "/";
    name += "BAD\x01NAME.CR3";
    log.outcomes[1].relativePath = name;
    log.outcomes[1].status = Status::failed("The name \u201C" + name + "\u201D holds a control character, which isn't allowed in "
                                            "a name on this drive \u2014 rename it on the card and copy again.");
    log.sourceURL = "/media/u/" + std::string(200, 'S') + "/END_OF_SOURCE";
    const fs::path file = sandbox / "wrap.pdf";
    writeFile(file, TransferLogExporter::pdf(log));
    const std::string text = pdfText(file);
    // Every word of the reason and of the source is there, in order, the reason's end too.
    std::string joined;
    for (char c : text)
        if (c != '\n' && c != ' ' && c != '\f') joined.push_back(c);
    EXPECT_NE(joined.find("renameitonthecardandcopyagain."), std::string::npos) << text;
    EXPECT_NE(joined.find("isn'tallowedinanameonthisdrive"), std::string::npos) << text;
    EXPECT_NE(joined.find(std::string(200, 'S') + "/END_OF_SOURCE"), std::string::npos) << text;
    const size_t why = text.find("Why: ");
    ASSERT_NE(why, std::string::npos);
    EXPECT_EQ(text.find("\u2026", why), std::string::npos) << "the reason is not cut short";
    // The next row follows the reason's lines.
    EXPECT_LT(text.find("copy again."), text.find("ROW_2.CR3"));
    // Nothing is drawn beyond the 40-point margins of the 792-point page: pdftotext -bbox.
    auto r = runCommand({"pdftotext", "-q", "-bbox", file.string(), (sandbox / "boxes.html").string()});
    ASSERT_EQ(r.exitCode, 0);
    const std::string boxes = readFile(sandbox / "boxes.html");
    int words = 0;
    for (size_t at = 0; (at = boxes.find("xMax=\"", at)) != std::string::npos; ++words) {
        at += 6;
        EXPECT_LE(std::stod(boxes.substr(at)), 792 - 40 + 0.5);
    }
    EXPECT_GT(words, 30);
}

TEST_F(TransferLogPdfTest, PagesHoldThirtyOneThenThirtySixRows) {
    for (auto [rows, pages] : std::vector<std::pair<int, int>>{{31, 1}, {32, 2}, {67, 2}, {68, 3}}) {
        SCOPED_TRACE(rows);
        std::string text = render(logWith(rows));
        EXPECT_EQ(lastInfo.pages, pages);
        // The table header is repeated on every page; the last row is on the last page.
        size_t headers = 0;
        for (size_t at = text.find("XXH64 (destination)"); at != std::string::npos;
             at = text.find("XXH64 (destination)", at + 1))
            ++headers;
        EXPECT_EQ(headers, static_cast<size_t>(pages));
        size_t lastPage = text.rfind('\f', text.size() - 2);
        EXPECT_NE(text.find("ROW_" + std::to_string(rows - 1) + ".CR3", lastPage == std::string::npos ? 0 : lastPage),
                  std::string::npos);
    }
    // Row 32 (index 31) is the first row of page 2.
    std::string text = render(logWith(32));
    size_t pageBreak = text.find('\f');
    EXPECT_GT(text.find("ROW_31.CR3"), pageBreak);
    EXPECT_LT(text.find("ROW_30.CR3"), pageBreak);
}

}  // namespace
}  // namespace tessaline
