#include "app/GameSettings.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 1024x768 twice: the same size at two colour depths. The quality's preselection is the window's.
TEST(ResolutionChoices, KeepsWideModesOnceWidestFirstAndPreselectsTheSavedOne)
{
    const wxArrayString choices = ResolutionChoices(
        {{800, 600}, {1024, 768}, {1280, 720}, {1024, 768}, {1280, 1024}, {1920, 1080}, {1024, 600}});
    EXPECT_EQ(std::vector<wxString>(choices.begin(), choices.end()),
              (std::vector<wxString>{"1920x1080", "1280x1024", "1280x720", "1024x768", "1024x600"}));
    EXPECT_TRUE(ResolutionChoices({{800, 600}, {1023, 768}}).empty());

    EXPECT_EQ(PreselectResolution(choices, "1280x720"), 2);
    EXPECT_EQ(PreselectResolution(choices, "1366x768"), 3) << "else 1024x768";
    EXPECT_EQ(PreselectResolution(ResolutionChoices({{1280, 1024}, {1920, 1080}}), ""), 0)
        << "else the widest";
    EXPECT_EQ(PreselectResolution(wxArrayString(), "1024x768"), -1);
}

} // namespace
