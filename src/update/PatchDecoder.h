#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct ZSTD_DCtx_s;

// Decodes the frames of a patch, one at a time, against the installed file
// they were made from. A patch is a sequence of independent zstd frames: frame
// k holds bytes [k * segment, (k + 1) * segment) of the new file, compressed
// with the whole base file as its prefix. A frame is decoded in one call into
// a single segment-sized buffer, which needs no window of its own, so memory
// stays at one segment whatever the file's size; each frame's header is
// checked before it is decoded, since the patch comes from the network.
class PatchDecoder {
public:
    // The segment that the release builder uses.
    static constexpr std::uint32_t SEGMENT_SIZE = 32 << 20;
    static constexpr std::uint32_t MAX_SEGMENT_SIZE = SEGMENT_SIZE;

    // The window log that frames of segment bytes against a base of baseSize
    // bytes need; 0 when it is beyond what zstd allows (no patch for such a base).
    static int WindowLogFor(std::uint64_t baseSize, std::uint32_t segment);
    // The most bytes a frame of one segment may take.
    static std::size_t MaxFrameSize(std::uint32_t segment);

    // base (size bytes) must outlive the decoder; segment is at most MAX_SEGMENT_SIZE.
    PatchDecoder(const unsigned char* base, std::uint64_t baseSize, std::uint32_t segment);
    ~PatchDecoder();
    PatchDecoder(const PatchDecoder&) = delete;
    PatchDecoder& operator=(const PatchDecoder&) = delete;

    // Decodes the frame (exactly its size bytes), which may hold at most room
    // bytes of the new file; false, with Failure() saying why, when it is not
    // such a frame or does not decode.
    bool Decode(const unsigned char* frame, std::size_t size, std::uint64_t room);
    // The bytes of the last frame decoded.
    const char* Output() const { return output.get(); }
    std::size_t OutputSize() const { return produced; }
    const wxString& Failure() const { return failure; }

private:
    bool CheckHeader(const unsigned char* frame, std::size_t size, std::uint64_t room);
    bool Fail(const wxString& reason);

    const unsigned char* base;
    std::uint64_t baseSize;
    std::uint32_t segment;
    int windowLog;
    ZSTD_DCtx_s* context;
    std::unique_ptr<char[]> output;
    std::size_t produced = 0;
    wxString failure;
};
