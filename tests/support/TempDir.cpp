#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

TempDir::TempDir()
{
    std::string pattern = (wxFileName::GetTempDir() + "/launcher-test-XXXXXX").ToStdString();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr)
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    path = wxString::FromUTF8(pattern);
}

TempDir::~TempDir()
{
    if (!path.empty())
        wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE);
}

std::string ReadFileBytes(const wxString& path)
{
    std::ifstream in(path.fn_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const wxString& path, const std::string& bytes)
{
    wxFileName::Mkdir(wxFileName(path).GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    std::ofstream out(path.fn_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        ADD_FAILURE() << "could not write " << path;
}
