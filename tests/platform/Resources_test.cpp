#include "platform/Resources.h"

#include <gtest/gtest.h>

// The embedded catalogs themselves are checked where they are extracted.
TEST(ResourcesTest, UnknownNameOrTypeGivesNothing)
{
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_FR", "MOFILE").empty());
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_", "MOFILE").empty());
    EXPECT_TRUE(platform::LoadResourceData("MOFILE_LAUNCHER_PT", "ICON").empty());
}
