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
    dir.Write("a.lck", "\n");
    wxFile removed(path, wxFile::write_append);
    ASSERT_TRUE(wxRemoveFile(path));
    EXPECT_FALSE(platform::HoldFile(removed.fd(), path));

    dir.Write("a.lck", "\n");
    wxFile replaced(path, wxFile::write_append);
    ASSERT_TRUE(wxRemoveFile(path));
    dir.Write("a.lck", "\n");
    EXPECT_FALSE(platform::HoldFile(replaced.fd(), path));

    wxFile current(path, wxFile::write_append);
    EXPECT_TRUE(platform::HoldFile(current.fd(), path));
}
