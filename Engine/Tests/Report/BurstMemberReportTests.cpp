// A clip of many files in every form of the report: a burst that is not proven names the
// frames without a proven copy and marks the others proven; a proven burst lists every frame.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/AtomicFile.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>

using namespace tessaline;
using namespace tessaline::testing;
using Kind = VerificationReport::Line::Kind;

namespace {

const EpochSeconds noon = epochFromUtc(2024, 5, 1, 12, 0, 0);

std::string frameName(size_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%05zu.JPG", k);
    return name;
}

// A burst of `frames` stills of 84,000 bytes in one camera second.
ClipGroup burst(size_t frames) {
    std::vector<Fingerprint> files;
    for (size_t k = 0; k < frames; ++k)
        files.push_back({.url = "/media/CARD/DCIM/" + frameName(k), .byteSize = 84'000, .captureDate = noon + 0.001 * double(k),
                         .hasCameraTimestamp = true, .timestampSource = TimestampSource::exifOriginal});
    return {std::move(files), {}, ClipGroup::Kind::burstSet};
}

// The burst not proven because frame `spoiled` has no proven copy.
MatchResult spoiledBurst(size_t frames, size_t spoiled) {
    MatchResult result{burst(frames), MatchStatus::missing()};
    result.membersProven.assign(frames, true);
    result.membersProven[spoiled] = false;
    return result;
}

VerificationReport reportOf(std::vector<MatchResult> results) {
    return VerificationReport("/media/CARD", {"/media/BACKUP"}, epochFromUtc(2025, 6, 1, 9, 30, 0), std::move(results),
                              VolumeIdentity{.name = "CARD"});
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class BurstMemberReportTest : public SandboxedTest {};

}  // namespace

TEST_F(BurstMemberReportTest, TheSpoiledFrameIsNamedAndTheOthersAreProvenInTextPdfJsonAndCsv) {
    for (size_t frames : {size_t(2), size_t(1000)}) {
        SCOPED_TRACE(frames);
        const size_t spoiled = frames - 1;
        const auto report = reportOf({spoiledBurst(frames, spoiled)});
        const std::string bad = frameName(spoiled);

        // Text: the clip's line says how many files lack a proof; the one frame follows it
        // at once, named as such; every other frame is marked proven; no "+" list.
        const auto lines = report.summaryLines();
        auto clipLine = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.text.find("MISSING") != std::string::npos; });
        ASSERT_NE(clipLine, lines.end());
        EXPECT_NE(clipLine->text.find("1 of " + std::to_string(frames) + " files has no proven copy"), std::string::npos)
            << clipLine->text;
        ASSERT_LT(clipLine + 1, lines.end());
        EXPECT_EQ(clipLine[1], (VerificationReport::Line{std::string(13, ' ') + "\u2717 " + bad + "  no proven copy", Kind::bad, 17}));
        const std::string text = report.summary();
        EXPECT_EQ(occurrences(text, "no proven copy"), 2u);  // the clip's line and the frame's
        EXPECT_EQ(occurrences(text, "\u2713 IMG_"), frames - 1);
        EXPECT_EQ(occurrences(text, "+ IMG_"), 0u);
        EXPECT_EQ(report.missing().size(), 1u) << "the clip stays not proven";

        // JSON: the frame alone without a proven copy, the others proven.
        const auto json = nlohmann::json::parse(ReportExporter::json(report));
        const auto& clip = json["clips"][0];
        EXPECT_EQ(clip["status"], "missing");
        EXPECT_EQ(clip["unproven_files"], nlohmann::json::array({bad}));
        EXPECT_EQ(clip["proven_files"].size(), frames - 1);
        EXPECT_EQ(clip["files"].size(), frames);

        // CSV: the clip's row, then a row per frame.
        const std::string csv = ReportExporter::csv(report);
        EXPECT_EQ(occurrences(csv, "\nmember MISSING," + bad + ","), 1u);
        EXPECT_EQ(occurrences(csv, "\nmember MISSING,"), 1u);
        EXPECT_EQ(occurrences(csv, "\nmember confirmed,"), frames - 1);

        // PDF: the same lines, read back from the file.
        const auto pdf = sandbox / ("burst" + std::to_string(frames) + ".pdf");
        writeFileAtomically(pdf, ReportExporter::pdf(report));
        const std::string pdfLines = pdfText(pdf);
        EXPECT_EQ(occurrences(pdfLines, "\u2717 " + bad + " no proven copy") + occurrences(pdfLines, "\u2717 " + bad + "  no proven copy"), 1u)
            << pdfLines.substr(0, 2000);
        EXPECT_EQ(occurrences(pdfLines, "\u2713 IMG_"), frames - 1);
    }
}

TEST_F(BurstMemberReportTest, AProvenBurstListsEveryFrameInEveryForm) {
    const size_t frames = 1000;
    const auto report = reportOf({{burst(frames), MatchStatus::confirmed("/media/BACKUP/DCIM/IMG_00000.JPG")}});
    const std::string text = report.summary();
    for (size_t k : {size_t(1), size_t(500), frames - 1}) EXPECT_NE(text.find("+ " + frameName(k)), std::string::npos) << k;
    EXPECT_EQ(occurrences(text, "+ IMG_"), frames - 1);
    const auto json = nlohmann::json::parse(ReportExporter::json(report));
    EXPECT_EQ(json["clips"][0]["files"].size(), frames);
    EXPECT_FALSE(json["clips"][0].contains("unproven_files"));
    EXPECT_EQ(occurrences(ReportExporter::csv(report), "\nmember confirmed,"), frames);
    const auto pdf = sandbox / "proven.pdf";
    writeFileAtomically(pdf, ReportExporter::pdf(report));
    EXPECT_EQ(occurrences(pdfText(pdf), "+ IMG_"), frames - 1);
}
