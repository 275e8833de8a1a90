#include "update/MD5.h"

#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

// The reference digest of a file, from coreutils.
std::string Md5sum(const wxString& path)
{
    const std::string command = "md5sum -- '" + path.ToStdString() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    char digest[33] = {};
    const bool read = std::fread(digest, 1, 32, pipe) == 32;
    pclose(pipe);
    return read ? digest : "md5sum failed";
}

TEST(MD5, RfcTestSuiteThroughStringAndFile)
{
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TempDir dir;
    for (const auto& [text, digest] : suite) {
        EXPECT_EQ(StringMD5(text), digest) << '"' << text << '"';
        dir.Write("input", text);
        EXPECT_EQ(FileMD5(dir.File("input")), digest) << "file of \"" << text << '"';
    }
}

TEST(MD5, FilesAroundBlockAndReadBoundariesMatchMd5sum)
{
    TempDir dir;
    for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 127, 128, 64000, 64001, 128000, (1 << 20) + 3}) {
        const wxString name = wxString::Format("random-%zu", size);
        dir.Write(name, RandomBytes(size, size));
        EXPECT_EQ(FileMD5(dir.File(name)), Md5sum(dir.File(name))) << size << " bytes";
    }
}

TEST(MD5, PiecesOfAnySizeGiveTheDigestOfTheWhole)
{
    TempDir dir;
    const std::string bytes = RandomBytes(5000, 7);
    dir.Write("whole", bytes);
    const std::string expected = Md5sum(dir.File("whole"));
    for (std::size_t piece : {1, 3, 55, 63, 64, 65, 1000}) {
        MD5 md5;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            md5.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
        unsigned char digest[16];
        md5.Finalize(digest);
        EXPECT_EQ(ToHexString(digest, 16), expected) << "pieces of " << piece;
    }
}

// A directory opens but every read of it fails: the digest must stop and be
// empty rather than wait for an end of file or pass for an empty file's digest.
TEST(MD5, UnreadableOrMissingFileGivesEmptyDigestAndAnError)
{
    TempDir dir;
    dir.Write("sub/file", "x");
    for (const wxString& path : {dir.File("sub"), dir.File("missing")}) {
        LogCapture log;
        EXPECT_EQ(FileMD5(path), "") << path;
        ASSERT_FALSE(log.Lines().empty()) << path;
        EXPECT_EQ(log.Lines().front().level, wxLOG_Error) << log.Lines().front().text;
    }
}

TEST(MD5, StringCharactersAbove127BecomeUnderscores)
{
    EXPECT_EQ(StringMD5(wxString::FromUTF8("Jo\u00e3o \u20ac")), StringMD5("Jo_o _"));
    EXPECT_EQ(StringMD5(wxString(wxUniChar(128))), StringMD5("_"));
    EXPECT_NE(StringMD5(wxString(wxUniChar(127))), StringMD5("_"));
}

}  // namespace
