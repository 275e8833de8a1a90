#include "update/RemoteManifest.h"

#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/Bytes.h"
#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "update/ManifestParser.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>
#include <wx/zstream.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const char ABC_MD5[] = "900150983cd24fb0d6963f7d28e17f72";

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

class RemoteManifestTest : public testing::Test {
protected:
    std::string Url() const { return server.Url("/release.xml.gz"); }

    bool LoadBody(const std::string& body, ProgressNotifier* notifier = nullptr)
    {
        server.Write("release.xml.gz", body);
        return manifest.Load(Url(), notifier);
    }
    bool LoadXml(const std::string& xml) { return LoadBody(Deflate(xml, GZIP)); }

    NginxServer server;
    LogCapture log;
    RemoteManifest manifest;
};

// A name that leaves the installation (or the server's directory) is out of
// range like a zero offset: the load fails before anything is written.
TEST_F(RemoteManifestTest, FaultyRecordStopsTheLoadWithItsCodeKeepingEarlierRecords)
{
    const std::pair<std::string, int> cases[] = {
        {"<folder name=\"x\" />", MANIFEST_UNKNOWN_ELEMENT},
        {FileElement({{"name", std::nullopt}}), MANIFEST_MISSING_ATTRIBUTE},
        {FileElement({{"compressed", "TRUE"}}), MANIFEST_BAD_COMPRESSED},
        {FileElement({{"permission", "0"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"offset", "0"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"compressed_size", "0"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"offset", "-1"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", ""}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "..\\x"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "C:\\x"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"name", "a\\..\\..\\b"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"source_zip", "..\\a.zip"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"size", "-1"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"size", "12kb"}}), MANIFEST_OUT_OF_RANGE},
        {FileElement({{"size", "4294967296"}}), MANIFEST_OUT_OF_RANGE},
        {"stray text", MANIFEST_UNKNOWN_ELEMENT},
    };
    for (const auto& [element, result] : cases) {
        LogCapture caseLog;
        EXPECT_FALSE(LoadXml("<manifest>" + FileElement({{"name", "first.pak"}}) + element +
                             FileElement({{"name", "later.pak"}}) + "</manifest>"))
            << element;
        EXPECT_EQ(manifest.result, result) << element;
        ASSERT_EQ(manifest.size(), 1u) << element;
        EXPECT_EQ(manifest.front().name, "first.pak");
        EXPECT_EQ(caseLog.HasText("XML error: the only element supported is file."),
                  result == MANIFEST_UNKNOWN_ELEMENT);
    }

    // A failed load leaves none of the previous load's records behind.
    ASSERT_TRUE(LoadXml("<manifest>" + FileElement() + FileElement({{"name", "b"}}) + "</manifest>"));
    EXPECT_FALSE(manifest.Load(server.Url("/missing.xml.gz")));
    EXPECT_TRUE(manifest.empty());
}

TEST_F(RemoteManifestTest, UnusableAnswerFailsWithItsErrorLine)
{
    FaultServer faults;
    const std::string gzip = Deflate("<manifest>" + FileElement() + "</manifest>", GZIP);
    const std::string malformed = "Malformed manifest or download error.";
    struct Case {
        std::string url;
        std::string body;
        int result;
        std::string error;
    };
    const Case cases[] = {
        {"ftp://127.0.0.1/release.xml.gz", "", MANIFEST_BAD_URL,
         "Malformed URL: ftp://127.0.0.1/release.xml.gz"},
        {server.Url("/missing.xml.gz"), "", MANIFEST_DOWNLOAD_FAILED,
         "Error requesting input stream: " + server.Url("/missing.xml.gz")},
        {Url(), "<manifest>" + FileElement() + "</manifest>", MANIFEST_DOWNLOAD_FAILED, malformed},
        {Url(), gzip.substr(0, gzip.size() - 8), MANIFEST_DOWNLOAD_FAILED, malformed}, // no trailer
        {Url(), Deflate("<manifest>" + FileElement(), GZIP), MANIFEST_DOWNLOAD_FAILED, malformed},
        {faults.Url("/trickle?size=1000000000000&bytes=65536&interval=0"), "", MANIFEST_DOWNLOAD_FAILED,
         malformed},
    };
    for (const Case& c : cases) {
        LogCapture caseLog;
        server.Write("release.xml.gz", c.body);
        EXPECT_FALSE(manifest.Load(c.url)) << c.error;
        EXPECT_EQ(manifest.result, c.result) << c.error;
        EXPECT_TRUE(caseLog.Has(wxLOG_Error, c.error)) << c.error;
    }
}

std::string Repeat(const std::string& part, int times)
{
    std::string text;
    text.reserve(part.size() * times);
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

// Each ends within seconds, whatever its size; a malformed one leaves no
// records, a refused one those before the fault.
TEST_F(RemoteManifestTest, HostileDocumentsEndQuicklyWithTheirResult)
{
    const std::string first = FileElement({{"name", "first.pak"}});
    const std::string openRecord = first.substr(0, first.size() - 3) + ">";
    std::string laughs = "<!DOCTYPE files [<!ENTITY a0 \"haha\">";
    for (int level = 1; level <= 9; ++level)
        laughs += "<!ENTITY a" + std::to_string(level) + " \"" +
                  Repeat("&a" + std::to_string(level - 1) + ";", 10) + "\">";
    laughs += "]>";
    struct Case {
        const char* what;
        std::string xml;
        int result;
        size_t records;
    };
    const Case cases[] = {
        {"elements nested under the root", "<files>" + Repeat("<a>", 1000000), MANIFEST_UNKNOWN_ELEMENT, 0},
        {"elements nested in a record", "<files>" + openRecord + Repeat("<a>", 1000000),
         MANIFEST_DOWNLOAD_FAILED, 0},
        {"line ends after text", "<files>" + first + "x" + Repeat("\n", 400000), MANIFEST_UNKNOWN_ELEMENT, 1},
        {"white space between records",
         "<files>" + first + Repeat("\r\n", 4 << 20) + FileElement() + "</files>", MANIFEST_OK, 2},
        {"long attribute",
         "<files>" + first + FileElement({{"name", std::string(1 << 20, 'n')}}) + "</files>",
         MANIFEST_DOWNLOAD_FAILED, 0},
        {"entity expansion", laughs + "<files>" + first + "<file name=\"&a9;\"/></files>",
         MANIFEST_DOWNLOAD_FAILED, 0},
        {"undeclared entity", "<files>" + first + "&x;</files>", MANIFEST_DOWNLOAD_FAILED, 0},
    };
    for (const Case& c : cases) {
        const std::string body = Deflate(c.xml, GZIP);
        wxMemoryInputStream stream(body.data(), body.size());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(manifest.Read(stream, nullptr), c.result == MANIFEST_OK) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
        EXPECT_EQ(manifest.result, c.result) << c.what;
        EXPECT_EQ(manifest.size(), c.records) << c.what;
    }

    // A bomb: reading stops at the bound, long before the end of the body.
    wxMemoryOutputStream packed;
    {
        wxZlibOutputStream deflater(packed, wxZ_DEFAULT_COMPRESSION, wxZLIB_GZIP);
        deflater.Write("<manifest>", 10);
        const std::string spaces(1 << 20, ' ');
        for (std::uint64_t written = 0; written < 4 * ManifestParser::MAX_XML_BYTES; written += spaces.size())
            deflater.Write(spaces.data(), spaces.size());
        deflater.Write("</manifest>", 11);
    }
    std::string bomb(packed.GetSize(), '\0');
    packed.CopyTo(bomb.data(), bomb.size());
    EventRecorder recorder;
    ProgressNotifier notifier(&recorder);
    EXPECT_FALSE(LoadBody(bomb, &notifier));
    EXPECT_EQ(manifest.result, MANIFEST_DOWNLOAD_FAILED);
    EXPECT_LT(recorder.Values(wxEVT_PROGRESS_UPDATED).back(), int(bomb.size() / 2));
}

} // namespace

namespace {

// Where each record's data lies, as the download reads it.
std::vector<std::string> Places(const RemoteManifest& manifest)
{
    std::vector<std::string> places;
    for (const ManifestFileInfo& record : manifest)
        places.push_back(wxString::Format("%s %s %u %u", record.name, record.source_zip, record.offset,
                                          record.compressed_size)
                             .utf8_string());
    return places;
}

// Patches are children of their records: a reader that knows nothing of them
// sees the same records, and this one skips a patch it cannot use.
TEST_F(RemoteManifestTest, PatchesInsideRecordsLeaveTheRecordsAsTheyAre)
{
    const std::string patch = "<patch from=\"" + std::string(ABC_MD5) +
                              "\" source_zip=\"p.zip\" offset=\"5\" compressed_size=\"7\" "
                              "format=\"zstd-frames\" segment=\"33554432\"/>";
    const std::string plain = FileElement() + FileElement({{"name", "b"}});
    std::string withPatches = plain;
    withPatches.replace(withPatches.find("/>"), 2, ">" + patch + "<patch format=\"other\"/></file>");
    ASSERT_TRUE(LoadXml("<files>" + plain + "</files>"));
    const std::vector<std::string> expected = Places(manifest);
    ASSERT_TRUE(LoadXml("<files>" + withPatches + "</files>"));
    EXPECT_EQ(Places(manifest), expected);
    EXPECT_EQ(manifest.front().patches.size(), 1u) << "the patch of another format is skipped";
}

} // namespace
