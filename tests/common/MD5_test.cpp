#include "common/MD5.h"

#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

// Sizes around the 64-byte block, the padding's 56 and the file reader's buffer, against
// coreutils; fed whole from a file and, as the installer feeds it, in pieces of any size.
TEST(MD5, FilesAndPiecesAroundBoundariesMatchMd5sum)
{
    TempDir dir;
    std::mt19937 generator(7);
    for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 127, 128, 5000, 64000, 64001, 128000, (1 << 20) + 3}) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>(generator());
        dir.Write("random", bytes);
        ChildProcess md5sum({"/usr/bin/md5sum", "--", dir.File("random").ToStdString()});
        md5sum.Wait();
        const std::string expected = md5sum.Out().substr(0, 32);
        EXPECT_EQ(FileMD5(dir.File("random")), expected) << size << " bytes";
        if (size != 5000)
            continue;
        for (std::size_t piece : {1, 3, 55, 63, 64, 65, 1000}) {
            MD5 md5;
            for (std::size_t at = 0; at < bytes.size(); at += piece)
                md5.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
            unsigned char digest[16];
            md5.Finalize(digest);
            EXPECT_EQ(ToHexString(digest, 16), expected) << "pieces of " << piece;
        }
    }
}

// A directory opens but every read of it fails: its digest must be empty, as
// a missing file's, rather than pass for an empty file's.
TEST(MD5, UnreadableOrMissingFileGivesEmptyDigest)
{
    TempDir dir;
    dir.Write("sub/file", "x");
    LogCapture log;
    EXPECT_EQ(FileMD5(dir.File("sub")), "");
    EXPECT_EQ(FileMD5(dir.File("missing")), "");
}

} // namespace
