// The main of the window's tests: the toolkit with its window system, on the
// display that the test command provides, and an active event loop that tests
// run by yielding to it.
#include "app/LauncherLog.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdlib>

namespace {

// A toolkit assertion must fail the test, never open a dialog or abort the run.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str().data(), line)
        << "wxWidgets assertion in " << func.utf8_str().data() << ": " << cond.utf8_str().data() << " "
        << msg.utf8_str().data();
}

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
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "could not initialise the toolkit on the display\n");
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);
    LauncherLog::PrepareForWorkers();
    // As the application does at start-up, before any thread makes a request.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int result = 0;
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    curl_global_cleanup();
    return result;
}
