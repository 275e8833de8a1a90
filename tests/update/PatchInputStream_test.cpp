#include "update/PatchInputStream.h"

#include "support/Bytes.h"
#include "support/TempDir.h"
#include "update/PatchMaker.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <zstd.h>

#include <string>

namespace {

constexpr std::uint32_t SEGMENT = 4096;

std::string MakePatch(const std::string& base, const std::string& target)
{
    wxMemoryOutputStream out;
    PatchMaker maker(SEGMENT);
    const auto bytes = [](const std::string& text) {
        return reinterpret_cast<const unsigned char*>(text.data());
    };
    EXPECT_TRUE(maker.Make(bytes(base), base.size(), bytes(target), target.size(), out)) << maker.Failure();
    std::string patch(out.GetLength(), '\0');
    out.CopyTo(patch.data(), patch.size());
    return patch;
}

// A frame of 3000 bytes that the library writes without the base, with the parameters given.
std::string LibraryFrame(int contentSizeFlag, int windowLog)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, contentSizeFlag);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    const std::string content = Noise(3000);
    std::string frame(ZSTD_compressBound(content.size()), '\0');
    frame.resize(ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size()));
    ZSTD_freeCCtx(context);
    return frame;
}

// What the stream gives, and its failure.
std::pair<StreamContent, wxString> Apply(const std::string& base, const std::string& patch,
                                         std::uint64_t size)
{
    TempDir dir;
    dir.Write("base", base);
    wxMemoryInputStream patchStream(patch.data(), patch.size());
    PatchInputStream result(patchStream, dir.File("base"), size, SEGMENT);
    return {ReadAll(result, 1000), result.Failure()};
}

// The new file shifts everything after an insertion and changes a few bytes:
// frames of every segment, the last one short or full.
TEST(PatchInputStream, RebuildsTheNewFileFrameByFrame)
{
    const std::string base = Noise(5 * SEGMENT + 100);
    for (const std::size_t size : {10u, 3 * SEGMENT, 5 * SEGMENT + 300}) {
        std::string target = "inserted" + base.substr(0, size);
        target[target.size() / 2] ^= 0x55;
        const std::string patch = MakePatch(base, target);
        EXPECT_LT(patch.size(), target.size() / 4 + 100);
        const auto [content, failure] = Apply(base, patch, target.size());
        EXPECT_EQ(content.end, wxSTREAM_EOF) << failure;
        EXPECT_TRUE(content.bytes == target) << size;
    }
}

// Whatever is wrong with a patch or its base, the stream fails with a reason
// and never hands out more than the file's bytes.
TEST(PatchInputStream, RefusesDamagedAndHostilePatches)
{
    const std::string base = Noise(3 * SEGMENT);
    const std::string target = "new" + base + "end";
    const std::string patch = MakePatch(base, target);
    std::string hugeWindow = LibraryFrame(1, 10), changedBase = base, flipped = patch;
    hugeWindow[5] = static_cast<char>(0xF8); // a window of 2^41 bytes
    changedBase[SEGMENT + 7] ^= 1;
    flipped[patch.size() / 2] ^= 0x10;
    const struct {
        const char* what;
        std::string base;
        std::string patch;
    } cases[] = {
        {"flipped byte", base, flipped},
        {"truncated frame", base, patch.substr(0, patch.size() - 5)},
        {"missing frames", base, patch.substr(0, ZSTD_findFrameCompressedSize(patch.data(), patch.size()))},
        {"frame after the last", base, patch + patch},
        {"other base", changedBase, patch},
        {"huge window", base, hugeWindow},
        {"no content size", base, LibraryFrame(0, 20)},
        {"not zstd", base, std::string(100, 'x')},
    };
    for (const auto& [what, caseBase, casePatch] : cases) {
        const auto [content, failure] = Apply(caseBase, casePatch, target.size());
        EXPECT_EQ(content.end, wxSTREAM_READ_ERROR) << what;
        EXPECT_FALSE(failure.empty()) << what;
        EXPECT_LE(content.bytes.size(), target.size()) << what;
    }
}

} // namespace
