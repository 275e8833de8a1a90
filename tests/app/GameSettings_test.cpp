#include "app/GameSettings.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The toolkit reports modes in scaled pixels; the game wants the screen's own.
// 1024x768 twice: the same size at two colour depths.
TEST(ResolutionChoices, EveryModeOnceInTheScreensPixelsWidestFirstTheSavedOrCurrentPreselected)
{
    const wxArrayString choices =
        ResolutionChoices({{800, 600}, {1024, 768}, {1280, 720}, {1024, 768}, {1280, 1024}}, 1);
    EXPECT_EQ(std::vector<wxString>(choices.begin(), choices.end()),
              (std::vector<wxString>{"1280x1024", "1280x720", "1024x768", "800x600"}));
    EXPECT_EQ(ResolutionChoices({{1920, 1080}, {1920, 1080}}, 2), wxArrayString(1, "3840x2160"));
    EXPECT_EQ(ResolutionChoices({{1280, 720}}, 1.5), wxArrayString(1, "1920x1080"));

    EXPECT_EQ(PreselectResolution(choices, "1280x720", "800x600"), 1);
    EXPECT_EQ(PreselectResolution(choices, "", "800x600"), 3);
    EXPECT_EQ(PreselectResolution(choices, "1366x768", "2560x1440"), 2) << "else 1024x768";
    EXPECT_EQ(PreselectResolution(ResolutionChoices({{1280, 1024}, {1920, 1080}}, 1), "", ""), 0)
        << "else the widest";
    EXPECT_EQ(PreselectResolution(wxArrayString(), "1024x768", "1024x768"), -1);
}

} // namespace
