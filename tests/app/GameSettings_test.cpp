#include "app/GameSettings.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The toolkit reports modes in scaled pixels; the game wants the screen's own.
// 1024x768 twice: the same size at two colour depths.
TEST(ResolutionChoices, EveryModeOnceInTheScreensPixelsWidestFirst)
{
    struct Row {
        std::vector<DisplayMode> modes;
        double scale;
        std::vector<wxString> choices;
    };
    const Row rows[] = {
        {{{800, 600}, {1024, 768}, {1280, 720}, {1024, 768}, {1280, 1024}, {1024, 600}},
         1,
         {"1280x1024", "1280x720", "1024x768", "1024x600", "800x600"}},
        {{{800, 600}}, 1, {"800x600"}},
        {{{1920, 1080}, {1920, 1080}}, 2, {"3840x2160"}},
        {{{1280, 720}}, 1.5, {"1920x1080"}},
    };
    for (const Row& row : rows) {
        const wxArrayString choices = ResolutionChoices(row.modes, row.scale);
        EXPECT_EQ(std::vector<wxString>(choices.begin(), choices.end()), row.choices) << row.scale;
    }
}

TEST(ResolutionChoices, PreselectsTheSavedThenTheCurrentMode)
{
    const wxArrayString choices = ResolutionChoices({{1920, 1080}, {1280, 720}, {1024, 768}}, 1);
    struct Row {
        const char* saved;
        const char* current;
        int index;
    };
    const Row rows[] = {
        {"1280x720", "1920x1080", 1}, {"", "1280x720", 1}, {"1366x768", "2560x1440", 2}, // else 1024x768
    };
    for (const Row& row : rows)
        EXPECT_EQ(PreselectResolution(choices, row.saved, row.current), row.index) << row.saved;
    EXPECT_EQ(PreselectResolution(ResolutionChoices({{1280, 1024}, {1920, 1080}}, 1), "", ""), 0)
        << "else the widest";
    EXPECT_EQ(PreselectResolution(wxArrayString(), "1024x768", "1024x768"), -1);
}

} // namespace
