// The main of the window's tests: the toolkit with its window system, on the
// display that the test command provides, and an active event loop that tests
// run by yielding to it.
#include "support/TempDir.h"
#include "support/TestProcess.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdlib>

namespace {

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(TestApp);

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests, as the build does, needs no display; without one the
    // tests skip themselves, seeing no application.
    if (testing::GTEST_FLAG(list_tests) || std::getenv("DISPLAY") == nullptr)
        return RUN_ALL_TESTS();
    // Whatever a page in a test saves lands in a home of the tests' own, set
    // before the toolkit reads it, with a Downloads folder as desktops have.
    TempDir home;
    home.Write(".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    home.Write("Downloads/.keep", "");
    setenv("HOME", home.Path().utf8_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "could not initialise the toolkit on the display\n");
        return 1;
    }
    int result = 0;
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RunTests();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
