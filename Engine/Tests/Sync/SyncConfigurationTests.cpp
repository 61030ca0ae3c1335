#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/Uuid.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <cerrno>

using namespace tessaline;
using tessaline::testing::readFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;

namespace {

SyncPair makePair(const std::string& name, const std::string& label, bool enabled = true) {
    SyncPair pair;
    pair.id = Uuid::random();
    pair.name = name;
    pair.sourceVolumeLabel = label;
    pair.destinationPath = "/media/backup/" + name;
    pair.enabled = enabled;
    return pair;
}

const char* kPairWithoutSubpath = R"({
  "pairs": [
    {
      "destinationPath": "\/media\/crew\/Backup\/Day1",
      "enabled": true,
      "id": "1b4e28ba-2fa1-11d2-883f-0016d3cca427",
      "name": "A cam",
      "preserveStructure": true,
      "sourceVolumeLabel": "EOS_DIGITAL",
      "verifyAfterCopy": false,
      "somethingNew": 1
    }
  ],
  "settleQuietSeconds": 3,
  "settleTimeoutSeconds": 120.5
})";

}  // namespace

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
    auto id = Uuid::parse("1b4e28ba-2fa1-11d2-883f-0016d3cca427");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->text(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
    EXPECT_EQ(Uuid::parse(id->text()), id);
    EXPECT_FALSE(Uuid::parse("1b4e28ba2fa1-11d2-883f-0016d3cca4270"));
    EXPECT_FALSE(Uuid::parse("1b4e28ba-2fa1-11d2-883f-0016d3cca42g"));
    EXPECT_FALSE(Uuid::parse(""));
    Uuid a = Uuid::random();
    EXPECT_NE(a, Uuid::random());
    EXPECT_EQ(a.text()[14], '4');
}

class SyncConfigurationFile : public SandboxedTest {};

TEST_F(SyncConfigurationFile, RoundTripWritesSortedKeysEscapedSlashesAndNoAbsentSubpath) {
    SyncConfiguration config = SyncConfiguration::fallback();
    SyncPair plain = makePair("A cam", "EOS_DIGITAL");
    SyncPair sub = makePair("B cam", "Untitled", false);
    sub.sourceSubpath = "DCIM/100CANON";
    sub.preserveStructure = false;
    config.pairs = {plain, sub};
    auto url = sandbox / "deep/er/sync-config.json";  // parents do not exist yet
    config.save(url);

    EXPECT_EQ(SyncConfiguration::load(url), config);
    std::string text = readFile(url);
    EXPECT_NE(text.find("\"destinationPath\": \"\\/media\\/backup\\/A cam\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"id\": \"" + plain.id.text() + "\""), std::string::npos);
    // Exactly one pair carries the optional key.
    EXPECT_EQ(text.find("sourceSubpath"), text.rfind("sourceSubpath"));
    // Keys of a pair in byte order.
    const char* order[] = {"destinationPath", "enabled", "id", "name", "preserveStructure", "sourceSubpath",
                           "sourceVolumeLabel", "verifyAfterCopy"};
    size_t secondPair = text.find("\"B cam\"");
    size_t from = text.rfind('{', secondPair);
    size_t last = from;
    for (const char* key : order) {
        size_t at = text.find(std::string("\"") + key + "\"", from);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_LT(text.find("\"pairs\""), text.find("\"settleQuietSeconds\""));
    EXPECT_LT(text.find("\"settleQuietSeconds\""), text.find("\"settleTimeoutSeconds\""));
}

TEST_F(SyncConfigurationFile, ReadsEitherSlashFormIgnoresUnknownKeysAndTakesIntegersAsSeconds) {
    auto url = sandbox / "sync-config.json";
    writeFile(url, kPairWithoutSubpath);
    SyncConfiguration config = SyncConfiguration::load(url);
    ASSERT_EQ(config.pairs.size(), 1u);
    EXPECT_EQ(config.pairs[0].destinationPath, "/media/crew/Backup/Day1");
    EXPECT_EQ(config.pairs[0].id.text(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
    EXPECT_FALSE(config.pairs[0].sourceSubpath);
    EXPECT_FALSE(config.pairs[0].verifyAfterCopy);
    EXPECT_EQ(config.settleQuietSeconds, 3.0);
    EXPECT_EQ(config.settleTimeoutSeconds, 120.5);

    std::string withNull = kPairWithoutSubpath;
    withNull.replace(withNull.find("\"somethingNew\": 1"), 17, "\"sourceSubpath\": null");
    writeFile(url, withNull);
    EXPECT_FALSE(SyncConfiguration::load(url).pairs[0].sourceSubpath);
}

TEST_F(SyncConfigurationFile, AnyMissingOrMistypedKeyFailsTheWholeFile) {
    auto url = sandbox / "sync-config.json";
    auto expectRejected = [&](const std::string& from, const std::string& to) {
        std::string text = kPairWithoutSubpath;
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        writeFile(url, text);
        EXPECT_THROW(SyncConfiguration::load(url), SyncConfigurationError) << from << " -> " << to;
    };
    expectRejected("\"name\": \"A cam\",", "");
    expectRejected("\"enabled\": true,", "");
    expectRejected("\"enabled\": true", "\"enabled\": 1");
    expectRejected("\"id\": \"1b4e28ba-2fa1-11d2-883f-0016d3cca427\"", "\"id\": \"not-a-uuid\"");
    expectRejected(",\n  \"settleTimeoutSeconds\": 120.5", "");
    expectRejected("\"settleQuietSeconds\": 3", "\"settleQuietSeconds\": \"3\"");
    expectRejected("{\n  \"pairs\"", "[{\n  \"pairs\"");
    expectRejected("\"pairs\": [", "\"pairs\": [[],");

    writeFile(url, "{ this is not json");
    try {
        SyncConfiguration::load(url);
        FAIL() << "damaged file loaded";
    } catch (const SyncConfigurationError& e) {
        EXPECT_NE(std::string(e.what()).find(url.string()), std::string::npos);
    }
}

TEST_F(SyncConfigurationFile, MissingFileThrowsNotFoundAndAnUnreadableFileIsKeptAside) {
    auto url = sandbox / "sync-config.json";
    try {
        SyncConfiguration::load(url);
        FAIL() << "missing file loaded";
    } catch (const FileReadError& e) {
        EXPECT_EQ(e.error(), ENOENT);
    }
    EXPECT_FALSE(SyncConfiguration::preserveUnreadable(url));

    writeFile(url, "{\"pairs\": [{\"name\": \"precious\"");
    EXPECT_THROW(SyncConfiguration::load(url), SyncConfigurationError);
    auto aside = SyncConfiguration::preserveUnreadable(url);
    ASSERT_TRUE(aside);
    EXPECT_NE(aside->filename().string().find("sync-config.json.unreadable-"), std::string::npos);
    EXPECT_EQ(readFile(*aside), "{\"pairs\": [{\"name\": \"precious\"");
    // The next save (the fallback with one new pair) no longer destroys the old pairs.
    SyncConfiguration config = SyncConfiguration::fallback();
    config.pairs.push_back(makePair("new", "CARD"));
    config.save(url);
    EXPECT_EQ(SyncConfiguration::load(url), config);
    EXPECT_EQ(readFile(*aside), "{\"pairs\": [{\"name\": \"precious\"");
}

TEST_F(SyncConfigurationFile, SaveFailsBeforeWritingWhenTheFolderCannotBeMade) {
    writeFile(sandbox / "blocker", "a file where a folder must be");
    SyncConfiguration config = SyncConfiguration::fallback();
    EXPECT_THROW(config.save(sandbox / "blocker/sub/sync-config.json"), FileWriteError);
}

TEST(SyncConfiguration, PairsForMountedLabelIgnoreOnlyLetterCaseAndSkipDisabledPairs) {
    SyncConfiguration config = SyncConfiguration::fallback();
    config.pairs = {makePair("one", "EOS_DIGITAL"), makePair("off", "EOS_DIGITAL", false),
                    makePair("other", "UNTITLED"), makePair("two", "eos_digital"), makePair("street", "STRASSE")};
    auto matched = config.pairsForMountedLabel("eos_Digital");
    ASSERT_EQ(matched.size(), 2u);
    EXPECT_EQ(matched[0].name, "one");
    EXPECT_EQ(matched[1].name, "two");
    EXPECT_TRUE(config.pairsForMountedLabel("EOS_DIGITAL ").empty());
    EXPECT_EQ(config.pairsForMountedLabel("straße").size(), 1u);
    EXPECT_TRUE(SyncConfiguration{}.pairsForMountedLabel("EOS_DIGITAL").empty());
}

TEST(SyncPair, SourceSubpathStaysInsideTheSourceRoot) {
    SyncPair pair = makePair("p", "CARD");
    const std::filesystem::path root = "/media/crew/CARD";
    EXPECT_EQ(pair.sourceFolder(root), root);
    pair.sourceSubpath = "";
    EXPECT_EQ(pair.sourceFolder(root), root);
    pair.sourceSubpath = "DCIM//100CANON/";
    EXPECT_EQ(pair.sourceFolder(root), root / "DCIM/100CANON");
    for (const char* hostile : {"../../home/user", "/etc", "DCIM/../..", "./DCIM", "DCIM/..", ".."}) {
        pair.sourceSubpath = hostile;
        EXPECT_FALSE(pair.sourceFolder(root)) << hostile;
    }
    pair.sourceSubpath = std::string("DCIM\0/x", 7);
    EXPECT_FALSE(pair.sourceFolder(root));
}
