// The remote manifest from the bytes of an update server's answer. Input that
// is not already gzip is compressed here first, so that mutations reach the
// XML instead of breaking the compression; gzip input goes in as it is.
#include "FuzzSupport.h"

#include "update/RemoteManifest.h"

#include <wx/mstream.h>
#include <wx/zstream.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string Gzip(const std::uint8_t* data, std::size_t size)
{
    wxMemoryOutputStream out;
    {
        wxZlibOutputStream deflater(out, 1, wxZLIB_GZIP);
        deflater.Write(data, size);
    }
    std::string packed(out.GetSize(), '\0');
    out.CopyTo(packed.data(), packed.size());
    return packed;
}

bool IsGzip(const std::uint8_t* data, std::size_t size)
{
    return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartToolkitQuietly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body = IsGzip(data, size) ? std::string(data, data + size) : Gzip(data, size);
    wxMemoryInputStream stream(body.data(), body.size());
    RemoteManifest manifest;
    const bool loaded = manifest.Read(stream, nullptr);

    FUZZ_CHECK(loaded == (manifest.result == MANIFEST_OK));
    if (manifest.result == MANIFEST_DOWNLOAD_FAILED)
        FUZZ_CHECK(manifest.empty());
    // Whatever was taken is safe to install: names inside the installation,
    // real byte ranges.
    for (const ManifestFileInfo& record : manifest) {
        for (const wxString& path : {record.name, record.source_zip}) {
            FUZZ_CHECK(!path.empty() && path[0] != '\\' && !path.Contains("/"));
            FUZZ_CHECK(!("\\" + path + "\\").Contains("\\..\\"));
        }
        FUZZ_CHECK(record.offset >= 1 && record.offset <= INT32_MAX);
        FUZZ_CHECK(record.compressed_size >= 1 && record.compressed_size <= INT32_MAX);
        FUZZ_CHECK(record.permission >= 0);
    }
    return 0;
}
