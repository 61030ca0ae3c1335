#include "Tessaline/CardPrep/CameraFormatProfile.hpp"

#include <gtest/gtest.h>

using tessaline::CameraFormatProfile;

TEST(CameraFormatProfile, TableOrderAndLookup) {
    const auto& all = CameraFormatProfile::all();
    std::vector<std::string> ids;
    for (const auto& p : all) ids.push_back(p.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"sony-alpha", "sony-avchd", "canon-eos", "nikon", "fujifilm", "panasonic",
                                              "gopro", "dji", "blackmagic", "red", "arri", "generic"}));
    EXPECT_EQ(all.front().folders.size(), 5u);
    EXPECT_EQ(all.front().folders.back(), "PRIVATE/M4ROOT/GENERAL");

    auto canon = CameraFormatProfile::profile("canon-eos");
    ASSERT_TRUE(canon);
    EXPECT_EQ(canon->displayName, "Canon EOS");
    EXPECT_EQ(canon->folders, (std::vector<std::string>{"DCIM/100CANON", "MISC"}));

    EXPECT_FALSE(CameraFormatProfile::profile("Nikon"));
    ASSERT_TRUE(CameraFormatProfile::profile("nikon"));
    EXPECT_EQ(CameraFormatProfile::profile("nikon")->folders, std::vector<std::string>{"DCIM/100NIKON"});
    for (const char* eraseOnly : {"blackmagic", "red", "arri"})
        EXPECT_TRUE(CameraFormatProfile::profile(eraseOnly)->folders.empty()) << eraseOnly;
    EXPECT_EQ(CameraFormatProfile::profile("generic")->note,
              "The bare DCF standard \u2014 safe for any camera; it builds its own subfolders.");
}
