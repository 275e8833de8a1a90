#include "update/PatchInputStream.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t READ_SIZE = 256 * 1024;

} // namespace

PatchInputStream::PatchInputStream(wxInputStream& patch, const wxString& basePath,
                                   std::optional<std::uint64_t> resultSize, std::uint32_t segment)
    : patch(patch), resultSize(resultSize), segment(segment), base(basePath)
{
    if (segment == 0 || segment > PatchDecoder::MAX_SEGMENT_SIZE)
        Fail("a segment size beyond the bounds");
    else if (!base.IsOk())
        Fail("the installed file cannot be read");
    else
        decoder = std::make_unique<PatchDecoder>(base.Data(), base.Size(), segment);
}

PatchInputStream::~PatchInputStream() = default;

size_t PatchInputStream::OnSysRead(void* buffer, size_t size)
{
    if (decoder == nullptr || !failure.empty()) {
        m_lasterror = wxSTREAM_READ_ERROR;
        return 0;
    }
    if (ended || (outputRead == decoder->OutputSize() && !NextFrame()))
        return 0;
    const std::size_t count = std::min(size, decoder->OutputSize() - outputRead);
    std::memcpy(buffer, decoder->Output() + outputRead, count);
    outputRead += count;
    return count;
}

bool PatchInputStream::NextFrame()
{
    if (!ReadFrame())
        return false;
    if (frameSize == 0) {
        if (resultSize && produced != *resultSize)
            return Fail("the patch ends before the file");
        // The result is taken only if the base it was made from held still.
        if (!base.Unchanged())
            return Fail("the installed file changed while it was patched");
        ended = true;
        m_lasterror = wxSTREAM_EOF;
        return false;
    }
    if (lastFrame)
        return Fail("a frame after the last one");
    const std::uint64_t room = resultSize ? *resultSize - produced : segment;
    outputRead = 0;
    if (!decoder->Decode(frame.data(), frameSize, room))
        return Fail(decoder->Failure());
    produced += decoder->OutputSize();
    lastFrame = decoder->OutputSize() < segment;
    // The next frame's bytes read with this one move to the front.
    frameFilled -= frameSize;
    std::memmove(frame.data(), frame.data() + frameSize, frameFilled);
    return true;
}

// The frame's end shows once enough of it has come: its blocks are walked
// as they arrive, and a frame may not grow beyond the bound of one segment.
bool PatchInputStream::ReadFrame()
{
    const std::size_t limit = PatchDecoder::MaxFrameSize(segment);
    for (;;) {
        if (frameFilled == 0 && !ReadMore())
            break;
        const std::size_t found = ZSTD_findFrameCompressedSize(frame.data(), frameFilled);
        if (!ZSTD_isError(found)) {
            frameSize = found;
            return true;
        }
        if (ZSTD_getErrorCode(found) != ZSTD_error_srcSize_wrong)
            return Fail(ZSTD_getErrorName(found));
        if (frameFilled > limit)
            return Fail("a frame larger than its segment allows");
        if (!ReadMore())
            return frameFilled == 0 || m_lasterror == wxSTREAM_READ_ERROR ? false : Fail("a truncated frame");
    }
    frameSize = 0;
    return m_lasterror != wxSTREAM_READ_ERROR;
}

// False when nothing more came: at the end of the patch, or on a read error of its own.
bool PatchInputStream::ReadMore()
{
    // Grown by doubling, but never beyond the largest frame and one read.
    const std::size_t needed = frameFilled + READ_SIZE;
    if (frame.capacity() < needed)
        frame.reserve(std::min(std::max(needed, 2 * frame.capacity()),
                               PatchDecoder::MaxFrameSize(segment) + READ_SIZE));
    if (frame.size() < needed)
        frame.resize(needed);
    const std::size_t count = patch.Read(frame.data() + frameFilled, READ_SIZE).LastRead();
    frameFilled += count;
    if (count == 0 && patch.GetLastError() == wxSTREAM_READ_ERROR)
        m_lasterror = wxSTREAM_READ_ERROR;
    return count > 0;
}

bool PatchInputStream::Fail(const wxString& reason)
{
    failure = reason;
    m_lasterror = wxSTREAM_READ_ERROR;
    return false;
}
