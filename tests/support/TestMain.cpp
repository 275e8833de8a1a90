#include "support/TestProcess.h"

#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) {
        fprintf(stderr, "could not initialise the toolkit\n");
        return 1;
    }
    return RunTests();
}
