#include "ScanBenchData.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include <chrono>
#include <cstdio>
namespace fs = std::filesystem;
using namespace tessaline;
int main(int argc, char** argv) {
  auto data = bench::ensureScanBenchData(fs::path(argv[1]) / "scan_parallel/media", 2000);
  NativeMetadataReader reader;
  auto cs = FolderScanner().scan(data.card, false);
  auto ds = FolderScanner().scan(data.drive, false);
  std::vector<Fingerprint> c, d;
  for (auto& f : cs.mediaFiles) c.push_back(reader.fingerprint(f.url));
  for (auto& f : ds.mediaFiles) d.push_back(reader.fingerprint(f.url));
  auto groups = Grouper().group(c, cs.sidecarFiles);
  auto claims = Matcher().match(groups, d, data.card);
  for (int i = 0; i < 5; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    auto out = MatchVerifier(ChecksumEngine(4 << 20), data.card).verify(claims, d, [] { return false; });
    std::printf("verify %zu groups: %.3f\n", groups.size(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
