#include "update/RemoteManifest.h"

#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "ui/LauncherEvents.h"
#include "ui/ProgressNotifier.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <wx/zstream.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const char ABC_MD5[] = "900150983cd24fb0d6963f7d28e17f72";

std::string Compress(const std::string& xml, int format = wxZLIB_GZIP)
{
    wxMemoryOutputStream out;
    {
        wxZlibOutputStream deflater(out, wxZ_DEFAULT_COMPRESSION, format);
        deflater.Write(xml.data(), xml.size());
    }
    std::string packed(out.GetSize(), '\0');
    out.CopyTo(packed.data(), packed.size());
    return packed;
}

// A file element with good attributes, some replaced or (nullopt) left out.
std::string FileElement(const std::map<std::string, std::optional<std::string>>& changes = {})
{
    std::map<std::string, std::optional<std::string>> attributes = {
        {"name", "data/a.pak"}, {"source_zip", "zips/data.zip"}, {"checksum", ABC_MD5},
        {"offset", "10"},       {"compressed_size", "20"},       {"compressed", "true"}};
    for (const auto& [name, value] : changes)
        attributes[name] = value;
    std::string element = "<file";
    for (const auto& [name, value] : attributes) {
        if (value)
            element += " " + name + "=\"" + *value + "\"";
    }
    return element + " />";
}

int ErrorCount(const LogCapture& log)
{
    int errors = 0;
    for (const LogCapture::Line& line : log.Lines())
        errors += line.level == wxLOG_Error;
    return errors;
}

// A release served over HTTP, and the log of reading its manifest.
class RemoteManifestTest : public testing::Test {
protected:
    std::string Url() const { return server.Url("/release.xml.gz"); }

    bool LoadBody(const std::string& body, ProgressNotifier* notifier = nullptr)
    {
        server.Write("release.xml.gz", body);
        return manifest.Load(Url(), notifier);
    }
    bool LoadXml(const std::string& xml) { return LoadBody(Compress(xml)); }

    NginxServer server;
    LogCapture log;
    RemoteManifest manifest;
};

// Loaded twice: the second load replaces the records of the first.
TEST_F(RemoteManifestTest, ReadsGzipOrZlibWithSlashesTurnedToBackslashes)
{
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<release>\n  <!-- built by hand -->\n  " +
                            FileElement({{"name", "data/maps/a.pak"}}) + "\n  " +
                            FileElement({{"name", "bin\\run"},
                                         {"source_zip", "bin.zip"},
                                         {"permission", "0755"},
                                         {"compressed", "false"},
                                         {"checksum", "900150983CD24FB0D6963F7D28E17F72"}}) +
                            "\n</release>\n";
    for (const int format : {wxZLIB_GZIP, wxZLIB_ZLIB}) {
        EventRecorder recorder;
        ProgressNotifier notifier(&recorder);
        const std::string body = Compress(xml, format);
        ASSERT_TRUE(LoadBody(body, &notifier)) << format;
        EXPECT_EQ(manifest.result, MANIFEST_OK);
        ASSERT_EQ(manifest.size(), 2u);
        // The gauge follows the compressed bytes against the announced length.
        EXPECT_EQ(recorder.Values(wxEVT_PROGRESS_RANGE_UPDATED), std::vector<int>{int(body.size())});
        EXPECT_EQ(recorder.Values(wxEVT_PROGRESS_UPDATED).back(), int(body.size()));
    }
    const ManifestFileInfo& data = manifest.front();
    EXPECT_EQ(data.name, "data\\maps\\a.pak");
    EXPECT_EQ(data.source_zip, "zips\\data.zip");
    EXPECT_EQ(data.permission, 0);
    EXPECT_EQ(data.checksum, ABC_MD5);
    EXPECT_EQ(data.offset, 10u);
    EXPECT_EQ(data.compressed_size, 20u);
    EXPECT_TRUE(data.compressed);
    EXPECT_EQ(data.timestamp, 0);
    EXPECT_EQ(data.size, 0u);
    const ManifestFileInfo& run = manifest.back();
    EXPECT_EQ(run.permission, 0755);
    EXPECT_FALSE(run.compressed);
    // Never equal to a computed digest, so the file always counts as changed.
    EXPECT_EQ(run.checksum, "900150983CD24FB0D6963F7D28E17F72");

    EXPECT_TRUE(log.Has(wxLOG_Message, "Reading manifest from: " + Url()));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Read file mode 755 for bin\\run"));
    EXPECT_TRUE(log.Has(wxLOG_Info, std::string("Read from remote manifest: data\\maps\\a.pak, ") + ABC_MD5));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Done reading remote manifest. Result: 0"));
}

TEST_F(RemoteManifestTest, RootWithoutChildrenIsAnEmptyRelease)
{
    EXPECT_TRUE(LoadXml("<manifest>\n</manifest>"));
    EXPECT_TRUE(manifest.empty());
    EXPECT_EQ(manifest.result, MANIFEST_OK);
}

// A name that leaves the installation (or the server's directory) is out of
// range like a zero offset: the load fails before anything is written.
TEST_F(RemoteManifestTest, FaultyRecordStopsTheLoadWithItsCodeKeepingEarlierRecords)
{
    struct Case {
        std::string element;
        int result;
        std::string line = {}; // logged besides the result
    };
    const Case cases[] = {
        {"<folder name=\"x\" />", MANIFEST_UNKNOWN_ELEMENT, "XML error: the only element supported is file."},
        {FileElement({{"name", std::nullopt}}), MANIFEST_MISSING_ATTRIBUTE},
        {FileElement({{"offset", std::nullopt}}), MANIFEST_MISSING_ATTRIBUTE},
        {FileElement({{"compressed", std::nullopt}}), MANIFEST_MISSING_ATTRIBUTE},
        {FileElement({{"compressed", "TRUE"}}), MANIFEST_BAD_COMPRESSED},
        {FileElement({{"permission", "0"}}), MANIFEST_OUT_OF_RANGE, "Read file mode 0 for data\\a.pak"},
        {FileElement({{"offset", "0"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"compressed_size", "0"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"offset", "-1"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", ""}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "..\\x"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "/etc/x"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "C:\\x"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "a\\..\\..\\b"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"source_zip", "..\\a.zip"}}), MANIFEST_OUT_OF_RANGE},
    };
    for (const Case& c : cases) {
        LogCapture caseLog;
        EXPECT_FALSE(LoadXml("<manifest>" + FileElement({{"name", "first.pak"}}) + c.element +
                             FileElement({{"name", "later.pak"}}) + "</manifest>"))
            << c.element;
        EXPECT_EQ(manifest.result, c.result) << c.element;
        ASSERT_EQ(manifest.size(), 1u) << c.element;
        EXPECT_EQ(manifest.front().name, "first.pak");
        EXPECT_TRUE(
            caseLog.Has(wxLOG_Info, "Done reading remote manifest. Result: " + std::to_string(c.result)))
            << c.element;
        EXPECT_TRUE(c.line.empty() || caseLog.HasText(c.line)) << c.element;
    }
}

// The inflater's and the parser's own messages stay out: one error line each.
TEST_F(RemoteManifestTest, UnusableAnswerFailsWithOneErrorLine)
{
    FaultServer faults;
    const std::string gzip = Compress("<manifest>" + FileElement() + "</manifest>");
    const std::string endless = faults.Url("/trickle?size=1000000000000&bytes=65536&interval=0");
    struct Case {
        std::string what;
        std::string url;
        std::string body;
        int result;
        std::string error;
    };
    const std::string malformed = "Malformed manifest or download error.";
    const Case cases[] = {
        {"https", "https://127.0.0.1/release.xml.gz", "", MANIFEST_BAD_URL,
         "Malformed URL: https://127.0.0.1/release.xml.gz"},
        {"404", server.Url("/missing.xml.gz"), "", MANIFEST_DOWNLOAD_FAILED,
         "Error requesting input stream: " + server.Url("/missing.xml.gz")},
        {"plain XML", Url(), "<manifest>" + FileElement() + "</manifest>", MANIFEST_DOWNLOAD_FAILED,
         malformed},
        {"gzip cut in half", Url(), gzip.substr(0, gzip.size() / 2), MANIFEST_DOWNLOAD_FAILED, malformed},
        {"gzip without its trailer", Url(), gzip.substr(0, gzip.size() - 8), MANIFEST_DOWNLOAD_FAILED,
         malformed},
        {"unclosed root", Url(), Compress("<manifest>" + FileElement()), MANIFEST_DOWNLOAD_FAILED, malformed},
        {"endless plain body", endless, "", MANIFEST_DOWNLOAD_FAILED, malformed},
    };
    for (const Case& c : cases) {
        LogCapture caseLog;
        server.Write("release.xml.gz", c.body);
        EXPECT_FALSE(manifest.Load(c.url)) << c.what;
        EXPECT_EQ(manifest.result, c.result) << c.what;
        EXPECT_TRUE(caseLog.Has(wxLOG_Error, c.error)) << c.what;
        EXPECT_EQ(ErrorCount(caseLog), 1) << c.what;
    }
}

TEST_F(RemoteManifestTest, FailedLoadLeavesNoOldRecords)
{
    const std::string good = "<manifest>" + FileElement() + FileElement({{"name", "b"}}) + "</manifest>";
    ASSERT_TRUE(LoadXml(good));
    EXPECT_FALSE(manifest.Load(server.Url("/missing.xml.gz")));
    EXPECT_TRUE(manifest.empty());

    ASSERT_TRUE(LoadXml(good));
    EXPECT_FALSE(LoadXml("<manifest>" + FileElement({{"name", "new"}}) + "<x/></manifest>"));
    ASSERT_EQ(manifest.size(), 1u);
    EXPECT_EQ(manifest.front().name, "new");
}

// A well-formed manifest that inflates to four times the bound: reading stops
// at the bound instead of taking it all (memory stays flat, whitespace between
// elements is not kept), long before the end of the compressed body.
TEST_F(RemoteManifestTest, CompressedBombStopsAtTheBound)
{
    wxMemoryOutputStream packed;
    {
        wxZlibOutputStream deflater(packed, wxZ_DEFAULT_COMPRESSION, wxZLIB_GZIP);
        deflater.Write("<manifest>", 10);
        const std::string spaces(1 << 20, ' ');
        for (std::uint64_t written = 0; written < 4 * RemoteManifest::MAX_XML_BYTES; written += spaces.size())
            deflater.Write(spaces.data(), spaces.size());
        deflater.Write("</manifest>", 11);
    }
    std::string bomb(packed.GetSize(), '\0');
    packed.CopyTo(bomb.data(), bomb.size());

    EventRecorder recorder;
    ProgressNotifier notifier(&recorder);
    EXPECT_FALSE(LoadBody(bomb, &notifier));
    EXPECT_EQ(manifest.result, MANIFEST_DOWNLOAD_FAILED);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Malformed manifest or download error."));
    EXPECT_LT(recorder.Values(wxEVT_PROGRESS_UPDATED).back(), int(bomb.size() / 2));
}

// The parser's time grows with the square of a text's length: a MiB of text
// would hold the check for seconds, a few MiB for minutes.
TEST_F(RemoteManifestTest, LongTextBetweenElementsIsRefused)
{
    std::string lines;
    for (int line = 0; line < 1 << 19; ++line)
        lines += "x\n";
    EXPECT_FALSE(LoadXml("<manifest>" + FileElement() + lines + "</manifest>"));
    EXPECT_EQ(manifest.result, MANIFEST_DOWNLOAD_FAILED);
}

} // namespace
