#pragma once

#include "update/DownloadPlan.h"
#include "update/Manifest.h"

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <memory>

// The archive bytes received of one large file whose download was cut short,
// kept in the installation's "download\resume" (a name no release file can
// have) so that the next try, in this run or a later one, asks the server
// only for the rest. The bytes stay raw, as the archive holds them
// (compressed or not), and the installed file is rebuilt from them and
// verified whole, so a kept prefix that is wrong fails the digest and is
// dropped. One file is kept at a time: the download installs files one after
// another.
class ResumeFile {
public:
    // Files whose archive bytes reach this size are kept while they arrive.
    static constexpr std::uint32_t MIN_KEPT_SIZE = 8 << 20;

    explicit ResumeFile(const wxString& baseDir);

    // How many of record's bytes are kept; 0 when the kept ones are another file's.
    std::uint32_t KeptFor(const ManifestFileInfo& record) const;
    // Removes the kept bytes unless a record of list is theirs; that record
    // and how many of its bytes are kept, or none.
    ResumePoint KeepOnlyFor(const FileList& list);
    // Removes the kept bytes if they are record's (its download failed its digest).
    void Forget(const ManifestFileInfo& record);

    // Record's bytes: the kept ones (as many as KeptFor said), then network's,
    // the rest of them, which are kept in turn when the record is large. The
    // stream does not own network, which must outlive it.
    std::unique_ptr<wxInputStream> Open(const ManifestFileInfo& record, std::uint32_t kept,
                                        wxInputStream& network);

private:
    class KeepingStream;
    const wxString path;
};
