// The local manifest from a file's bytes; whatever loads must save and load
// back to the same records, or the next start would see other files.
#include "FuzzSupport.h"

#include "update/LocalManifest.h"

#include <wx/mstream.h>

#include <cstddef>
#include <cstdint>
#include <iterator>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartToolkitQuietly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    wxMemoryInputStream stream(data, size);
    LocalManifest manifest(wxString::FromUTF8(ScratchDir()), "manifest2.xml");
    if (!manifest.Read(stream))
        return 0;
    FUZZ_CHECK(manifest.result == MANIFEST_OK && !manifest.empty());

    FUZZ_CHECK(manifest.SaveDefault());
    LocalManifest reloaded(wxString::FromUTF8(ScratchDir()), "manifest2.xml");
    FUZZ_CHECK(reloaded.LoadDefault());
    FUZZ_CHECK(reloaded.size() == manifest.size());
    for (auto before = manifest.begin(), after = reloaded.begin(); before != manifest.end();
         ++before, ++after) {
        FUZZ_CHECK(after->name == before->name);
        FUZZ_CHECK(after->checksum == before->checksum);
        FUZZ_CHECK(after->timestamp == before->timestamp);
        FUZZ_CHECK(after->size == before->size);
    }
    return 0;
}
