// A second mount of the card's own file system (a read-only loop device over the card's
// device, mounted) shows the card's files under another path and device. The matcher passes
// them over before any proof; the verifier then names each once as not counted, on a second
// view of the card, whatever the verdicts, so a clip seen only there is explained, while
// the card's own mount reached again (a bind mount) stays silently the card. Real
// loop-mounted ext4 and FUSE exFAT cards.

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <set>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;
using Kind = MatchStatus::Kind;

namespace {

class SecondViewProofTest : public SandboxedTest {};

TEST_F(SecondViewProofTest, ClipsOnASecondViewOfTheCardAreNamedAsNotCountedOnce) {
    TESSALINE_REQUIRE_ROOT();
    constexpr int frames = 70;  // with their copies, above the matcher's threshold for a large size bucket
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 32, "CARD_2ND");
        LoopVolume drive("ext4", 32, "DRIVE_2ND");
        const fs::path root = card.mountPoint();

        // A clip found only on the view and the card's own bind mount; undated frames of one
        // size with byte-identical copies on the drive, and on the view.
        std::vector<ClipGroup> groups;
        std::vector<Fingerprint> drives;
        writePatternFile(root / "DCIM/A.MOV", 40'000, 1);
        groups.push_back({{{.url = root / "DCIM/A.MOV", .byteSize = 40'000}}, {}, ClipGroup::Kind::video});
        for (int k = 0; k < frames; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "F%05d.JPG", k);
            const fs::path frame = root / "DCIM" / name;
            writePatternFile(frame, 3'000, unsigned(k + 2));
            fs::create_directories(drive.mountPoint() / "DCIM");
            fs::copy_file(frame, drive.mountPoint() / "DCIM" / name);
            groups.push_back({{{.url = frame, .byteSize = 3'000}}, {}, ClipGroup::Kind::still});
            drives.push_back({.url = drive.mountPoint() / "DCIM" / name, .byteSize = 3'000});
        }
        ::sync();
        ReadOnlyLoop overCard(card.device());
        auto view = mountReadOnly(fsType, overCard.device(), sandbox / fsType / "view");
        ScopedMount bound({"--bind", (root / "DCIM").string()}, sandbox / fsType / "bound");
        std::set<fs::path> onView;
        for (const ClipGroup& group : groups) {
            const Fingerprint& file = group.primaryFiles.front();
            const fs::path seen = view->target() / fs::relative(file.url, root);
            ASSERT_TRUE(fs::exists(seen)) << seen;
            drives.push_back({.url = seen, .byteSize = file.byteSize});
            onView.insert(seen);
        }
        drives.push_back({.url = bound.target() / "A.MOV", .byteSize = 40'000});

        const MatchClaims claims = Matcher().claim(groups, drives, root);
        EXPECT_EQ(claims.claim(0).kind, Kind::missing) << "the clip's only copies lie in the card's file system";
        std::vector<UncountedCopy> uncounted;
        const auto results = MatchVerifier(ChecksumEngine(), root).verify(claims, [] { return false; }, {}, &uncounted);

        ASSERT_EQ(results.size(), groups.size());
        EXPECT_EQ(results[0].status, MatchStatus::missing());
        for (size_t g = 1; g < results.size(); ++g)
            EXPECT_EQ(results[g].status, MatchStatus::confirmed(drive.mountPoint() / "DCIM" /
                                                                  results[g].group.primaryFiles.front().url.filename()));
        std::set<fs::path> named;
        for (const UncountedCopy& copy : uncounted) {
            EXPECT_EQ(copy.doubt, ProofGround::Doubt::viewOfCard) << copy.path;
            EXPECT_TRUE(named.insert(copy.path).second) << "named twice: " << copy.path;
        }
        EXPECT_EQ(named, onView) << "every file seen on the view, none through the bind mount";
    }
}

}  // namespace
