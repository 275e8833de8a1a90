#include "support/TestProcess.h"

#include "app/LauncherLog.h"

#include <cstdlib>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <wx/debug.h>

namespace {

// A toolkit assertion must fail the test, never open a dialog or abort the run.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str().data(), line)
        << "wxWidgets assertion in " << func.utf8_str().data() << ": " << cond.utf8_str().data() << " "
        << msg.utf8_str().data();
}

} // namespace

int RunTests()
{
    // No proxy of the machine's stands between the tests (or the launchers they start) and loopback.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    wxSetAssertHandler(FailOnAssert);
    LauncherLog::PrepareForWorkers();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
