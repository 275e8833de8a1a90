#pragma once

#include "update/PatchDecoder.h"

#include <wx/stream.h>
#include <wx/string.h>

#include <cstdint>
#include <memory>

struct ZSTD_CCtx_s;

// Makes the patch that turns a base file into a new one, in the form that
// PatchDecoder reads: one zstd frame per segment of the new file, each with
// the whole base as its prefix, long-distance matching on, a window that
// covers the base and the segment, and the content size and checksum in its
// header. Only the release builder's tool uses it.
class PatchMaker {
public:
    explicit PatchMaker(std::uint32_t segment = PatchDecoder::SEGMENT_SIZE);
    ~PatchMaker();
    PatchMaker(const PatchMaker&) = delete;
    PatchMaker& operator=(const PatchMaker&) = delete;

    // The compression level for a base of baseSize bytes: zstd 1.5.4 loses
    // references beyond 64 MiB at level 16 and above.
    static int LevelFor(std::uint64_t baseSize);

    // Writes the patch of target against base to out; false, with Failure()
    // saying why, when the base is too large for a patch or a frame fails.
    bool Make(const unsigned char* base, std::uint64_t baseSize, const unsigned char* target,
              std::uint64_t targetSize, wxOutputStream& out);
    const wxString& Failure() const { return failure; }

private:
    bool Fail(const wxString& reason);

    std::uint32_t segment;
    ZSTD_CCtx_s* context;
    std::unique_ptr<char[]> frame;
    wxString failure;
};
