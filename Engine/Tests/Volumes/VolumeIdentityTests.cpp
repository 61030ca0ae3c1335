// Volume identities: the matching rule, and reading real loop-mounted volumes, including a
// card reformatted in between (a new UUID is another card).

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/VolumeIdentity.hpp"

namespace tessaline {
namespace {

using testing::LoopVolume;
using testing::runCommand;

VolumeIdentity full(std::optional<std::string> uuid, std::string name = "EOS_DIGITAL", double created = 1.7e9,
                    int64_t capacity = 64'000'000) {
    return VolumeIdentity{std::move(uuid), std::move(name), created, capacity};
}

TEST(VolumeIdentityMatchTests, UuidDecidesWhenBothHaveOne) {
    EXPECT_TRUE(full("2A9C-A474", "A").matches(full("2A9C-A474", "B", 1, 2)));
    EXPECT_FALSE(full("2A9C-A474").matches(full("2A9C-A475")));
    EXPECT_FALSE(full("2a9c-a474").matches(full("2A9C-A474")));
}

TEST(VolumeIdentityMatchTests, WithoutBothUuidsNameDateAndCapacityMustAllAgree) {
    EXPECT_TRUE(full("U1").matches(full(std::nullopt)));
    EXPECT_TRUE(full(std::nullopt).matches(full("U1")));
    EXPECT_FALSE(full(std::nullopt, "A").matches(full(std::nullopt, "B")));
    EXPECT_FALSE(full(std::nullopt, "A", 1.0).matches(full(std::nullopt, "A", 1.5)));
    EXPECT_FALSE(full(std::nullopt, "A", 1.0, 5).matches(full(std::nullopt, "A", 1.0, 6)));
    VolumeIdentity noDate = full(std::nullopt);
    noDate.creationDate.reset();
    EXPECT_FALSE(noDate.matches(noDate));
    EXPECT_FALSE(noDate.matches(full(std::nullopt)));
    // Canonically equivalent names are the same name: "é" precomposed and decomposed.
    EXPECT_TRUE(full(std::nullopt, "Caf\xC3\xA9").matches(full(std::nullopt, "Cafe\xCC\x81")));
}

TEST(VolumeIdentityMatchTests, EmptyAndUuidOnlyIdentitiesMatchNothingElse) {
    VolumeIdentity empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.matches(empty));
    VolumeIdentity uuidOnly{"U1", std::nullopt, std::nullopt, std::nullopt};
    EXPECT_TRUE(uuidOnly.matches(uuidOnly));
    EXPECT_FALSE(uuidOnly.matches(full(std::nullopt)));
    EXPECT_FALSE(full(std::nullopt).matches(uuidOnly));
}

TEST(VolumeIdentityReadTests, MissingPathHasNoIdentity) {
    EXPECT_FALSE(VolumeIdentity::read("/no/such/card/DCIM"));
}

TEST(VolumeIdentityReadTests, Ext4VolumeIdentityAndReformat) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD_ID");
    testing::writeFile(card.mountPoint() / "DCIM/A.JPG", "x");
    auto identity = VolumeIdentity::read(card.mountPoint());
    ASSERT_TRUE(identity);
    ASSERT_TRUE(identity->uuid);
    EXPECT_EQ(identity->uuid->size(), 36u);
    EXPECT_EQ(identity->name, "CARD_ID");
    EXPECT_TRUE(identity->creationDate);
    ASSERT_TRUE(identity->totalCapacity);
    EXPECT_GT(*identity->totalCapacity, 32 * 1024 * 1024);
    EXPECT_LE(*identity->totalCapacity, 64 * 1024 * 1024);
    EXPECT_EQ(VolumeIdentity::read(card.mountPoint() / "DCIM/A.JPG"), identity);
    EXPECT_TRUE(identity->matches(*identity));

    // The same card remounted is still the same card.
    card.unmount();
    EXPECT_NE(VolumeIdentity::read(card.mountPoint()), identity);  // now the empty folder's disk
    card.remount();
    EXPECT_TRUE(VolumeIdentity::read(card.mountPoint())->matches(*identity));

    // Reformatted with the same label: a new UUID makes it another card.
    card.unmount();
    ASSERT_EQ(runCommand({"mkfs.ext4", "-q", "-F", "-L", "CARD_ID", card.device()}).exitCode, 0);
    card.remount();
    auto reformatted = VolumeIdentity::read(card.mountPoint());
    ASSERT_TRUE(reformatted);
    EXPECT_EQ(reformatted->name, "CARD_ID");
    EXPECT_FALSE(reformatted->matches(*identity));
}

TEST(VolumeIdentityReadTests, ExfatCardHasSerialAndNoCreationDate) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 32, "EOS_DIGITAL");
    auto identity = VolumeIdentity::read(card.mountPoint());
    ASSERT_TRUE(identity);
    ASSERT_TRUE(identity->uuid);
    EXPECT_EQ(identity->uuid->size(), 9u) << *identity->uuid;  // "XXXX-XXXX"
    EXPECT_EQ(identity->name, "EOS_DIGITAL");
    EXPECT_FALSE(identity->creationDate);
    EXPECT_TRUE(identity->totalCapacity);
}

}  // namespace
}  // namespace tessaline
