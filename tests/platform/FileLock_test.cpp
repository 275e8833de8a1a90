#include "platform/FileLock.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/file.h>
#include <wx/filefn.h>

// Another process may clear the file between a holder's open and its lock; the
// holder must notice rather than hold a lock nobody can find.
TEST(FileLock, RefusesFileRemovedOrReplacedBeforeLocking)
{
    TempDir dir;
    const wxString path = dir.File("a.lck");
    for (bool replaced : {false, true}) {
        dir.Write("a.lck", "\n");
        wxFile opened(path, wxFile::write_append);
        ASSERT_TRUE(wxRemoveFile(path));
        if (replaced)
            dir.Write("a.lck", "\n");
        EXPECT_FALSE(platform::HoldFile(opened.fd(), path)) << "replaced: " << replaced;
    }
    wxFile current(path, wxFile::write_append);
    EXPECT_TRUE(platform::HoldFile(current.fd(), path));
}
