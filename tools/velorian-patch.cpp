// The release builder's patch tool: makes a patch of a new file against an
// older one, checked by applying it with the launcher's own decoder, and
// applies one.
#include "platform/MappedFile.h"
#include "update/PatchInputStream.h"
#include "update/PatchMaker.h"

#include <wx/filefn.h>
#include <wx/init.h>
#include <wx/wfstream.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr std::size_t CHUNK = 1 << 20;

int Failed(const wxString& what)
{
    std::fprintf(stderr, "velorian-patch: %s\n", static_cast<const char*>(what.utf8_str()));
    return EXIT_FAILED;
}

// True when the patch at patchPath turns base into exactly the bytes of target.
bool Reproduces(const wxString& basePath, const wxString& patchPath, const platform::MappedFile& target,
                wxString& problem)
{
    wxFileInputStream patchFile(patchPath);
    PatchInputStream result(patchFile, basePath, target.Size(), PatchDecoder::SEGMENT_SIZE);
    auto buffer = std::make_unique<char[]>(CHUNK);
    std::uint64_t compared = 0;
    while (const std::size_t count = result.Read(buffer.get(), CHUNK).LastRead()) {
        if (compared + count > target.Size() ||
            std::memcmp(buffer.get(), target.Data() + compared, count) != 0) {
            problem = "the patch does not reproduce the new file";
            return false;
        }
        compared += count;
    }
    problem = result.Failure();
    return result.GetLastError() == wxSTREAM_EOF && compared == target.Size();
}

int Make(const wxString& basePath, const wxString& targetPath, const wxString& patchPath)
{
    const platform::MappedFile base(basePath), target(targetPath);
    if (!base.IsOk() || !target.IsOk())
        return Failed("cannot read " + basePath + " or " + targetPath);
    bool made = false;
    wxString problem;
    {
        wxFileOutputStream out(patchPath);
        PatchMaker maker;
        made = out.IsOk() && maker.Make(base.Data(), base.Size(), target.Data(), target.Size(), out) &&
               out.Close();
        problem = maker.Failure();
    }
    if (made)
        made = Reproduces(basePath, patchPath, target, problem);
    if (made)
        return EXIT_OK;
    wxRemoveFile(patchPath);
    return Failed("no patch of " + targetPath + ": " + (problem.empty() ? "write error" : problem));
}

int Apply(const wxString& basePath, const wxString& patchPath, const wxString& outPath)
{
    wxFileInputStream patchFile(patchPath);
    wxFileOutputStream out(outPath);
    if (!patchFile.IsOk() || !out.IsOk())
        return Failed("cannot read " + patchPath + " or write " + outPath);
    PatchInputStream result(patchFile, basePath, std::nullopt, PatchDecoder::SEGMENT_SIZE);
    out.Write(result);
    const bool applied = result.GetLastError() == wxSTREAM_EOF && out.Close();
    if (applied)
        return EXIT_OK;
    wxRemoveFile(outPath);
    return Failed("cannot apply " + patchPath + ": " +
                  (result.Failure().empty() ? "read or write error" : result.Failure()));
}

} // namespace

int main(int argc, char** argv)
{
    wxInitializer toolkit(argc, argv);
    if (!toolkit.IsOk())
        return Failed("the toolkit could not be initialised");
    if (argc == 5 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "apply") == 0)
        return Apply(argv[2], argv[3], argv[4]);
    std::fputs("usage: velorian-patch make BASE NEW PATCH\n"
               "       velorian-patch apply BASE PATCH OUT\n"
               "make writes the patch that turns BASE into NEW, checked by applying it;\n"
               "apply writes the file that PATCH makes of BASE. Exit status 1 on any failure.\n",
               stderr);
    return EXIT_USAGE;
}
