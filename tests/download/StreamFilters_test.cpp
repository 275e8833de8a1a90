#include "download/BoundedInputStream.h"
#include "download/LimitedInputStream.h"
#include "download/MultipartReader.h"
#include "download/ProgressInputStream.h"
#include "download/WasteOutputStream.h"

#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/Bytes.h"
#include "support/EventRecorder.h"

#include <wx/mstream.h>
#include <wx/zstream.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// A source that fails with a read error after limit of its bytes, as a dropped connection does.
struct FailingSource {
    FailingSource(std::string content, std::size_t limit)
        : bytes(std::move(content)), data(bytes.data(), bytes.size()), failing(&data, limit)
    {
    }
    std::string bytes;
    wxMemoryInputStream data;
    BoundedInputStream failing;
};

// The next member is read from the same source, so nothing past the limit
// may be taken from it. A source that fails early fails the filter too, so
// that a broken transfer is not taken for a corrupt file.
TEST(LimitedInputStream, StopsExactlyAtTheLimitAndEndsShortWithItsSource)
{
    const std::string body = Pattern(0, 12000);
    wxMemoryInputStream source(body.data(), body.size());
    LimitedInputStream limited(&source, 10000);
    EXPECT_EQ(ReadAll(limited, 4096).bytes, body.substr(0, 10000));
    EXPECT_TRUE(limited.Eof());
    EXPECT_EQ(source.TellI(), 10000);
    LimitedInputStream next(&source, 2000);
    EXPECT_EQ(ReadAll(next, 333).bytes, body.substr(10000));

    wxMemoryInputStream untouched(body.data(), body.size());
    LimitedInputStream empty(&untouched, 0);
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(ReadAll(empty).bytes, "");
    EXPECT_EQ(untouched.TellI(), 0);

    FailingSource source60(Pattern(0, 100), 60);
    LimitedInputStream cut(&source60.failing, 80);
    EXPECT_EQ(ReadAll(cut, 25).bytes, Pattern(0, 60));
    EXPECT_EQ(source60.failing.GetLastError(), wxSTREAM_READ_ERROR);
    EXPECT_EQ(cut.GetLastError(), wxSTREAM_READ_ERROR);
    EXPECT_FALSE(cut.Eof());
}

// Exactly the limit is a whole stream; one byte more fails after the limit,
// and the source's own failure comes through.
TEST(BoundedInputStream, MoreThanTheLimitIsAReadError)
{
    const std::string body = Pattern(0, 10000);
    for (const size_t limit : {10000, 9999}) {
        wxMemoryInputStream source(body.data(), body.size());
        BoundedInputStream bounded(&source, limit);
        EXPECT_EQ(ReadAll(bounded, 3000).bytes, body.substr(0, limit));
        EXPECT_EQ(bounded.GetLastError(), limit == body.size() ? wxSTREAM_EOF : wxSTREAM_READ_ERROR);
    }
    FailingSource source50(body, 50);
    BoundedInputStream passedOn(&source50.failing, 100);
    EXPECT_EQ(ReadAll(passedOn).bytes, body.substr(0, 50));
    EXPECT_EQ(passedOn.GetLastError(), wxSTREAM_READ_ERROR);
}

// One body holds a stored member, a gap and a deflated member: the way a
// ranged answer carries a run of files. Progress counts the members' archive
// bytes, not the gap's and not the inflated ones; the inflater takes nothing
// past its member.
TEST(StreamFilters, ReadsMembersOutOfOneBodyCountingTheirArchiveBytes)
{
    const std::string stored = Pattern(1, 5000), deflated = Pattern(2, 30000);
    const std::string packed = Deflate(deflated, RAW_DEFLATE);
    const std::string body = stored + Pattern(4, 1234) + packed + "next member";
    wxMemoryInputStream source(body.data(), body.size());
    EventRecorder recorder;
    // Every read a second after the last, so that each is posted.
    ProgressNotifier notifier(&recorder, [time = 0]() mutable { return time += 1000; });
    LimitedInputStream first(&source, stored.size());
    ProgressInputStream countedFirst(&first, &notifier);
    EXPECT_EQ(ReadAll(countedFirst).bytes, stored);
    WasteOutputStream waste;
    LimitedInputStream(&source, 1234).Read(waste);
    LimitedInputStream second(&source, packed.size());
    ProgressInputStream countedSecond(&second, &notifier);
    wxZlibInputStream inflater(countedSecond, wxZLIB_NO_HEADER);
    EXPECT_EQ(ReadAll(inflater).bytes, deflated);
    EXPECT_EQ(source.TellI(), static_cast<wxFileOffset>(body.size() - 11));
    EXPECT_EQ(recorder.Values(wxEVT_PROGRESS_UPDATED).back(),
              static_cast<int>(stored.size() + packed.size()));

    // A broken transfer stays a read error through the chain, not a short (corrupt) file.
    FailingSource broken(stored, 100);
    ProgressInputStream countedBroken(&broken.failing, &notifier);
    EXPECT_EQ(ReadAll(countedBroken).end, wxSTREAM_READ_ERROR);
}

// A multipart/byteranges body counts only as exactly the parts asked for, in
// their order, each whole: "data|" per part read, "!" when the reader fails.
TEST(StreamFilters, MultipartBodyGivesExactlyTheAskedPartsOrFails)
{
    const auto part = [](const std::string& range, const std::string& data) {
        return "--B\r\nContent-Type: application/zip\r\nContent-Range: bytes " + range + "/1000\r\n\r\n" +
               data + "\r\n";
    };
    const std::string first = part("10-14", "abcde"), second = part("100-102", "xyz");
    const std::pair<std::string, std::string> cases[] = {
        {"\r\n" + first + second + "--B--\r\n", "abcde|xyz|"},
        {first + second + "--B--", "abcde|xyz|"},
        {"\r\n" + second + first + "--B--\r\n", "!"},
        {"\r\n" + first + part("200-202", "xyz") + "--B--\r\n", "abcde|!"},
        {"\r\n" + first + "--B--\r\n", "abcde|!"},
        {"\r\n" + first + second + part("300-301", "no") + "--B--\r\n", "abcde|xyz|!"},
        {"\r\n" + first + second.substr(0, second.size() - 4), "abcde|x|!"},
        {"\r\n" + part("10-14", "abcdeEXTRA") + second + "--B--\r\n", "abcde|!"},
        {"\r\n--B\r\n\r\nabcde\r\n--B--\r\n", "!"},
        {"\r\n--C\r\nContent-Range: bytes 10-14/1000\r\n\r\nabcde\r\n--C--\r\n", "!"},
        {"\r\n--B\r\nX-Pad: " + std::string(5000, 'h') + "\r\n", "!"},
        {std::string(10, '\n') + first + second + "--B--\r\n", "!"},
        {"", "!"},
    };
    for (const auto& [body, expected] : cases) {
        SCOPED_TRACE(body.substr(0, 80));
        wxMemoryInputStream source(body.data(), body.size());
        MultipartReader reader(source, "B", {{10, 14}, {100, 102}});
        std::string read;
        while (reader.NextPart())
            read += ReadAll(reader.Part()).bytes + "|";
        EXPECT_EQ(read + (reader.Failed() ? "!" : ""), expected);
    }
    const std::pair<std::string, std::string> types[] = {
        {"multipart/byteranges; boundary=00000000001", "00000000001"},
        {"Multipart/ByteRanges; boundary=\"a b\"; x=y", "a b"},
        {"multipart/byteranges; boundary=abc; charset=x", "abc"},
        {"multipart/byteranges", ""},
        {"multipart/mixed; boundary=abc", ""},
        {"application/zip", ""},
    };
    for (const auto& [type, boundary] : types)
        EXPECT_EQ(MultipartReader::Boundary(type), boundary) << type;
}

} // namespace
