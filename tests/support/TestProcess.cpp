#include "support/TestProcess.h"

#include "app/LauncherLog.h"

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
    wxSetAssertHandler(FailOnAssert);
    LauncherLog::PrepareForWorkers();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
