#pragma once

#include <wx/string.h>

#include <cstdint>
#include <string_view>
#include <vector>

// A patch that a release offers for one of its files: its bytes, stored in
// source_zip at offset, turn the installed file whose MD5 is from into the
// release's file (see PatchDecoder).
struct FilePatch {
    wxString from;
    wxString source_zip;
    std::uint32_t offset = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t segment = 0;
    bool compressed = false;
};

// One file of an installation, as the local manifest or a release's manifest
// describes it. Fields that a manifest does not carry stay empty, 0 or false.
class ManifestFileInfo {
public:
    wxString name;       // relative to the base directory, a backslash between components
    wxString source_zip; // archive on the update server that holds the file's data
    std::int32_t permission;
    std::int64_t timestamp; // last modification, whole seconds since 1970-01-01 UTC
    wxString checksum;      // MD5 as 32 lowercase hexadecimal digits; empty until computed
    wxString sha256;        // of a release's file, 64 hexadecimal digits; empty when the release gives none
    std::uint32_t offset;   // of the file's data inside source_zip
    std::uint32_t size;     // of the installed file
    bool compressed;
    std::uint32_t compressed_size;
    std::vector<FilePatch> patches; // of a release's file; empty when it offers none

    // The local manifest's form.
    ManifestFileInfo(const wxString& name, std::int64_t timestamp, const wxString& checksum,
                     std::uint32_t size);
    // A release manifest's form.
    ManifestFileInfo(const wxString& name, const wxString& source_zip, std::int32_t permission,
                     const wxString& checksum, std::uint32_t offset, bool compressed,
                     std::uint32_t compressed_size);

    // Lets the patch from the installed file whose MD5 is digest stand in for
    // the file's member: until UseMember, the record's archive fields name the
    // patch's bytes, so that the download plans and fetches them as any member.
    // False when the release offers no such patch, or gives no size to check it by.
    bool UsePatchFrom(const wxString& digest);
    // Puts the member's archive fields back after a patch that failed.
    void UseMember();
    // The patch standing in for the member, or null. Its archive fields hold the
    // member's meanwhile.
    const FilePatch* PatchInUse() const { return patchInUse >= 0 ? &patches[patchInUse] : nullptr; }

private:
    void SwapWithPatch();

    int patchInUse = -1;
};

// Manifest names separate components with a backslash on every platform; these
// convert between that form and a path of the file system.
wxString ManifestNameToPath(const wxString& name);
wxString PathToManifestName(const wxString& path);

// Reads a manifest number as C's strtol reads it into 32 bits: leading white
// space, an optional sign, then digits of the base (2 to 10) up to the first
// other character; no digits give 0, values beyond the range its nearest bound.
std::int32_t ParseInt32(std::string_view text, int base = 10);
