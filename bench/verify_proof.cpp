// MatchVerifier::verify proving 1 GiB of matches (16 card files of 64 MiB, each against its
// copy on a "drive"), against `xxhsum -H1` of all 32 files, all in the page cache. The
// verifier hashes a card file and its copy at once, and the next claims' files ahead, so it
// should beat one xxhsum reading the files one after another. RATIO is our speed over
// xxhsum's; the target is at least 1.8. Exits non-zero when a proof fails.

#include "BenchSupport.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"

#include <cstdio>

using namespace tessaline;

int main(int argc, char** argv) {
    auto scratch = bench::scratchFolder(argc, argv) / "verify_proof";
    std::filesystem::create_directories(scratch / "card");
    std::filesystem::create_directories(scratch / "drive");
    constexpr int pairs = 16;
    constexpr uint64_t size = uint64_t{64} << 20;
    std::vector<MatchResult> claims;
    std::vector<Fingerprint> drives;
    std::vector<std::string> peerArgs{"xxhsum", "-q", "-H1"};
    for (int i = 0; i < pairs; ++i) {
        auto name = "C" + std::to_string(i) + ".MOV";
        auto card = scratch / "card" / name;
        auto drive = scratch / "drive" / name;
        bench::ensurePatternFile(card, size);
        bench::ensurePatternFile(drive, size);
        bench::warmCache(card);
        bench::warmCache(drive);
        Fingerprint cardFp{.url = card, .byteSize = static_cast<int64_t>(size)};
        Fingerprint driveFp{.url = drive, .byteSize = static_cast<int64_t>(size)};
        claims.push_back({{{cardFp}, {}, ClipGroup::Kind::video}, MatchStatus::confirmed(drive)});
        drives.push_back(driveFp);
        peerArgs.push_back(card.string());
        peerArgs.push_back(drive.string());
    }

    MatchVerifier verifier{ChecksumEngine(), scratch / "card"};
    std::vector<MatchResult> proven;
    auto [oursSeconds, peerSeconds] = bench::bestOfInterleaved(
        3, [&] { proven = verifier.verify(claims, drives, [] { return false; }); },
        [&] { bench::timeCommand(peerArgs); });
    for (const auto& result : proven) {
        if (result.status.kind() != MatchStatus::Kind::confirmed) {
            std::fprintf(stderr, "verify_proof: %s was not proven\n", result.description().c_str());
            return 1;
        }
    }
    bench::printRatio("verify_proof", oursSeconds, peerSeconds);
    return 0;
}
