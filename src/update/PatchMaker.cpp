#include "update/PatchMaker.h"

#include <zstd.h>

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint64_t HIGH_LEVEL_MAX_BASE = 64 << 20;
constexpr int HIGH_LEVEL = 19;
constexpr int LARGE_BASE_LEVEL = 12;

} // namespace

PatchMaker::PatchMaker(std::uint32_t segment)
    : segment(segment), context(ZSTD_createCCtx()),
      frame(std::make_unique_for_overwrite<char[]>(PatchDecoder::MaxFrameSize(segment)))
{
}

PatchMaker::~PatchMaker()
{
    ZSTD_freeCCtx(context);
}

int PatchMaker::LevelFor(std::uint64_t baseSize)
{
    return baseSize <= HIGH_LEVEL_MAX_BASE ? HIGH_LEVEL : LARGE_BASE_LEVEL;
}

bool PatchMaker::Make(const unsigned char* base, std::uint64_t baseSize, const unsigned char* target,
                      std::uint64_t targetSize, wxOutputStream& out)
{
    const int windowLog = PatchDecoder::WindowLogFor(baseSize, segment);
    if (context == nullptr || windowLog == 0)
        return Fail("the base is too large for a patch");
    const std::pair<ZSTD_cParameter, int> parameters[] = {
        {ZSTD_c_compressionLevel, LevelFor(baseSize)},
        {ZSTD_c_enableLongDistanceMatching, 1},
        {ZSTD_c_windowLog, windowLog},
        {ZSTD_c_contentSizeFlag, 1},
        {ZSTD_c_checksumFlag, 1},
    };
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    for (const auto& [parameter, value] : parameters) {
        if (const size_t result = ZSTD_CCtx_setParameter(context, parameter, value); ZSTD_isError(result))
            return Fail(ZSTD_getErrorName(result));
    }
    for (std::uint64_t start = 0; start < targetSize; start += segment) {
        const std::size_t length = std::min<std::uint64_t>(segment, targetSize - start);
        // A prefix serves one frame only.
        size_t result = ZSTD_CCtx_refPrefix(context, base, baseSize);
        if (!ZSTD_isError(result))
            result = ZSTD_compress2(context, frame.get(), PatchDecoder::MaxFrameSize(segment), target + start,
                                    length);
        if (ZSTD_isError(result))
            return Fail(ZSTD_getErrorName(result));
        if (!out.WriteAll(frame.get(), result))
            return Fail("the patch cannot be written");
    }
    return true;
}

bool PatchMaker::Fail(const wxString& reason)
{
    failure = reason;
    return false;
}
