#include "platform/Resources.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// First four bytes of a little-endian GNU message catalog.
const unsigned char MO_MAGIC[] = {0xde, 0x12, 0x04, 0x95};

TEST(ResourcesTest, BothCatalogsAreEmbedded)
{
    for (const char* name : {"MOFILE_LAUNCHER_EN", "MOFILE_LAUNCHER_PT"}) {
        const auto bytes = platform::LoadResourceData(name, "MOFILE");
        ASSERT_GT(bytes.size(), sizeof MO_MAGIC) << name;
        EXPECT_EQ(std::memcmp(bytes.data(), MO_MAGIC, sizeof MO_MAGIC), 0) << name;
    }
}

TEST(ResourcesTest, UnknownNameOrTypeGivesNothing)
{
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_FR", "MOFILE").empty());
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_", "MOFILE").empty());
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_PT", "ICON").empty());
}

} // namespace
