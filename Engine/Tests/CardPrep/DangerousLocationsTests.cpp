#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/CardPrep/DangerousLocations.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using tessaline::CardPrepEngine;
using tessaline::DangerousLocations;
using Issue = CardPrepEngine::CardRootIssue;
namespace fs = std::filesystem;

class DangerousLocationsTest : public tessaline::testing::SandboxedTest {};

TEST_F(DangerousLocationsTest, ExactPathsInEveryWritingAndThroughLinks) {
    for (const char* p : {"/", "//", "/media", "/media/", "/media/../media", "/mnt", "/run/media", "/home", "/usr/",
                          "/etc", "/var", "/boot", "/opt", "/srv", "/root", "/proc", "/sys", "/dev", "/run", "/tmp",
                          "/Volumes/", "/dev/shm", "/boot/efi"})
        EXPECT_TRUE(DangerousLocations::contains(p)) << p;
    const char* home = std::getenv("HOME");
    ASSERT_TRUE(home);
    EXPECT_TRUE(DangerousLocations::contains(std::string(home) + "/"));

    // Exact, not prefixes: a card below a mount parent is not a dangerous location.
    EXPECT_FALSE(DangerousLocations::contains("/media/someone/EOS_DIGITAL"));
    EXPECT_FALSE(DangerousLocations::contains(sandbox.path()));

    // A link to "/" or to a system tree is as dangerous as its target.
    fs::create_directory_symlink("/", sandbox / "card");
    fs::create_directory_symlink("/etc", sandbox / "etc-link");
    EXPECT_TRUE(DangerousLocations::contains(sandbox / "card"));
    EXPECT_TRUE(DangerousLocations::contains(sandbox / "etc-link"));
}

TEST_F(DangerousLocationsTest, PrepareRefusesWithoutValidateAndTouchesNothing) {
    // An ordinary folder (the Documents folder of a careless caller) is not a volume root.
    tessaline::testing::writeFile(sandbox / "Documents/thesis.txt", "only copy");
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "Documents"), Issue::notAVolumeRoot);
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "missing"), Issue::notAVolumeRoot);
    int events = 0;
    try {
        // Facts made up by the caller do not help.
        CardPrepEngine::prepare(sandbox / "Documents", {.canonicalRoot = sandbox / "Documents"},
                                *tessaline::CameraFormatProfile::profile("generic"), {},
                                [&](const CardPrepEngine::Event&) { ++events; });
        FAIL() << "an ordinary folder was erased";
    } catch (const CardPrepEngine::PrepError& e) {
        EXPECT_EQ(e.kind(), CardPrepEngine::PrepError::Kind::refusedDangerousRoot);
        EXPECT_EQ(std::string(e.what()), "Refusing to erase " + (sandbox / "Documents").string() +
                                             " \u2014 that's a system location, not a camera card.");
    }
    EXPECT_EQ(events, 0);
    EXPECT_EQ(tessaline::testing::readFile(sandbox / "Documents/thesis.txt"), "only copy");
    EXPECT_FALSE(fs::exists(sandbox / "Documents/DCIM"));

    // The root, the mount parents, home and the system trees.
    for (const char* p : {"/", "/media", "/mnt", "/home", "/usr", "/tmp", "/proc", "/run"}) {
        EXPECT_EQ(CardPrepEngine::validate(p), Issue::dangerousSystemLocation) << p;
        EXPECT_THROW(CardPrepEngine::prepare(p, {.canonicalRoot = p}, *tessaline::CameraFormatProfile::profile("generic"), {}),
                     CardPrepEngine::PrepError)
            << p;
    }
    EXPECT_EQ(CardPrepEngine::validate(std::getenv("HOME")), Issue::dangerousSystemLocation);
}
