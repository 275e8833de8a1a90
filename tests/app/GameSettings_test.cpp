#include "app/GameSettings.h"

#include <gtest/gtest.h>

namespace {

std::vector<wxString> Texts(const wxArrayString& array)
{
    return std::vector<wxString>(array.begin(), array.end());
}

wxArrayString Array(std::initializer_list<const char*> texts)
{
    wxArrayString array;
    for (const char* text : texts)
        array.Add(text);
    return array;
}

} // namespace

TEST(ResolutionChoices, KeepsWideModesOnceWidestAndTallestFirst)
{
    // 1024x768 twice: the same size at 16 and at 32 bits per pixel.
    EXPECT_EQ(
        Texts(ResolutionChoices(
            {{800, 600}, {1024, 768}, {1280, 720}, {1024, 768}, {1280, 1024}, {1920, 1080}, {1024, 600}})),
        (std::vector<wxString>{"1920x1080", "1280x1024", "1280x720", "1024x768", "1024x600"}));
    EXPECT_TRUE(ResolutionChoices({{800, 600}, {1023, 768}}).empty());
}

TEST(PreselectResolution, SavedThen1024x768ThenWidest)
{
    const wxArrayString choices = Array({"1920x1080", "1280x1024", "1024x768"});
    EXPECT_EQ(PreselectResolution(choices, "1280x1024"), 1);
    EXPECT_EQ(PreselectResolution(choices, "1366x768"), 2);
    EXPECT_EQ(PreselectResolution(Array({"1920x1080", "1280x1024"}), ""), 0);
    EXPECT_EQ(PreselectResolution(Array({"1280x1024", "1920X1080"}), "1920x1080"), 0) << "case matters";
    EXPECT_EQ(PreselectResolution(wxArrayString(), "1024x768"), -1);
}

TEST(PreselectQuality, SavedNameIgnoringCaseElseBeautiful)
{
    const wxArrayString names = GetQualityNames();
    EXPECT_EQ(PreselectQuality(names, "Fast"), 1);
    EXPECT_EQ(PreselectQuality(names, "fantastic"), 5);
    EXPECT_EQ(PreselectQuality(names, "Mais rápido"), DEFAULT_QUALITY);
    EXPECT_EQ(PreselectQuality(wxArrayString(), "Fast"), -1);
}
