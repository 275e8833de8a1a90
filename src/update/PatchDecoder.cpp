#include "update/PatchDecoder.h"

#include <zstd.h>

#include <algorithm>
#include <bit>

namespace {

constexpr int MIN_WINDOW_LOG = 10;
constexpr int MAX_WINDOW_LOG = 31;
// The frame header's first byte after the magic number.
constexpr unsigned char SINGLE_SEGMENT_FLAG = 0x20;
constexpr unsigned char CHECKSUM_FLAG = 0x04;
constexpr std::size_t DESCRIPTOR_OFFSET = 4;
constexpr std::size_t MIN_HEADER_SIZE = 6;

// The window that a frame header's window descriptor asks for.
std::uint64_t WindowSize(unsigned char descriptor)
{
    const std::uint64_t base = std::uint64_t{1} << (MIN_WINDOW_LOG + (descriptor >> 3));
    return base + base / 8 * (descriptor & 7);
}

} // namespace

int PatchDecoder::WindowLogFor(std::uint64_t baseSize, std::uint32_t segment)
{
    const int log = std::max<int>(MIN_WINDOW_LOG, std::bit_width(baseSize + segment - 1));
    return log <= MAX_WINDOW_LOG ? log : 0;
}

std::size_t PatchDecoder::MaxFrameSize(std::uint32_t segment)
{
    return ZSTD_compressBound(segment);
}

PatchDecoder::PatchDecoder(const unsigned char* base, std::uint64_t baseSize, std::uint32_t segment)
    : base(base), baseSize(baseSize), segment(segment), windowLog(WindowLogFor(baseSize, segment)),
      context(ZSTD_createDCtx()), output(std::make_unique_for_overwrite<char[]>(segment))
{
}

PatchDecoder::~PatchDecoder()
{
    ZSTD_freeDCtx(context);
}

bool PatchDecoder::Decode(const unsigned char* frame, std::size_t size, std::uint64_t room)
{
    produced = 0;
    if (context == nullptr)
        return Fail("no decoder");
    if (!CheckHeader(frame, size, room))
        return false;
    ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
    size_t result = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, windowLog);
    if (!ZSTD_isError(result))
        result = ZSTD_DCtx_refPrefix(context, base, baseSize);
    if (!ZSTD_isError(result))
        result = ZSTD_decompressDCtx(context, output.get(), segment, frame, size);
    if (ZSTD_isError(result))
        return Fail(ZSTD_getErrorName(result));
    const unsigned long long expected = ZSTD_getFrameContentSize(frame, size);
    if (result != expected)
        return Fail("a frame decodes to another size than its header gives");
    produced = result;
    return true;
}

// The decoder itself would take a frame without a content size or with a
// window beyond the base: both are refused before it sees them.
bool PatchDecoder::CheckHeader(const unsigned char* frame, std::size_t size, std::uint64_t room)
{
    if (windowLog == 0)
        return Fail("the installed file is too large for a patch");
    if (size < MIN_HEADER_SIZE || ZSTD_findFrameCompressedSize(frame, size) != size)
        return Fail("not a single frame");
    const unsigned long long content = ZSTD_getFrameContentSize(frame, size);
    if (content == ZSTD_CONTENTSIZE_UNKNOWN || content == ZSTD_CONTENTSIZE_ERROR)
        return Fail("a frame without a content size");
    if (content == 0)
        return Fail("an empty frame");
    if (content > std::min<std::uint64_t>(segment, room))
        return Fail("a frame larger than its segment");
    const unsigned char descriptor = frame[DESCRIPTOR_OFFSET];
    if ((descriptor & CHECKSUM_FLAG) == 0)
        return Fail("a frame without a checksum");
    if ((descriptor & SINGLE_SEGMENT_FLAG) == 0 &&
        WindowSize(frame[DESCRIPTOR_OFFSET + 1]) > (std::uint64_t{1} << windowLog))
        return Fail("a frame asking for a window beyond its base");
    return true;
}

bool PatchDecoder::Fail(const wxString& reason)
{
    failure = reason;
    return false;
}
