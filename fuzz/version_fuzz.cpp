// The version check on the first line of the version query's answer. (The
// launcher compares versions only for equality; this is the check there is.)
// A version that passes must keep the manifest where the update server is:
// same host, same directory, no query or fragment.
#include "FuzzSupport.h"

#include "common/VersionText.h"
#include "download/HTTPWrapper.h"

#include <wx/mstream.h>
#include <wx/uri.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartToolkitQuietly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    wxMemoryInputStream stream(data, size);
    wxString version;
    if (!ReadFirstLine(stream, version) || !LooksLikeVersion(version))
        return 0;
    FUZZ_CHECK(!version.empty() && version.length() <= 64);
    const wxString url = "http://127.0.0.1:8080/update/" + version + ".xml.gz";
    FUZZ_CHECK(HTTPWrapper::IsHttpUrl(url));
    const wxURI uri(url);
    FUZZ_CHECK(uri.GetServer() == "127.0.0.1" && uri.GetPort() == "8080");
    FUZZ_CHECK(uri.GetPath() == "/update/" + version + ".xml.gz");
    FUZZ_CHECK(!uri.HasQuery() && !uri.HasFragment());
    return 0;
}
