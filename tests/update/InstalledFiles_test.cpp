#include "update/InstalledFiles.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/utils.h>

namespace {

// Dropping what a release no longer lists deletes only the game's data files
// (.res, .unity3d, case-sensitive), and only inside the installation: not in
// the working directory, not where a record climbs out.
TEST(InstalledFiles, CleaningDeletesOnlyObsoleteDataFilesInsideTheInstallation)
{
    TempDir root;
    TempDir elsewhere;
    const wxString install = root.File("install");
    InstalledFiles installed(install);
    for (const char* name : {"keep.bin", "old.res", "data/old.unity3d", "notes.txt", "UPPER.RES"}) {
        root.Write(wxString("install/") + name, name);
        installed.GetLocalManifest().push_back(ManifestFileInfo(PathToManifestName(name), 0, "", 0));
    }
    root.Write("outside.res", "not ours");
    elsewhere.Write("old.res", "not ours either");
    installed.GetLocalManifest().push_back(ManifestFileInfo("..\\outside.res", 0, "", 0));
    ManifestFileInfo kept("keep.bin", "a.zip", 0, "", 30, false, 8);
    const wxString workingDir = wxGetCwd();
    wxSetWorkingDirectory(elsewhere.Path());
    installed.CleanLocalManifest({{"keep.bin", &kept}});
    wxSetWorkingDirectory(workingDir);

    EXPECT_FALSE(wxFileExists(root.File("install/old.res")));
    EXPECT_FALSE(wxFileExists(root.File("install/data/old.unity3d")));
    for (const char* name : {"install/keep.bin", "install/notes.txt", "install/UPPER.RES", "outside.res"})
        EXPECT_TRUE(wxFileExists(root.File(name))) << name;
    EXPECT_EQ(elsewhere.Read("old.res"), "not ours either");
    InstalledFiles reloaded(install);
    ASSERT_TRUE(reloaded.ReloadLocalManifest());
    ASSERT_EQ(reloaded.GetLocalManifest().size(), 1u);
    EXPECT_EQ(reloaded.GetLocalManifest().front().name, "keep.bin");
}

} // namespace
