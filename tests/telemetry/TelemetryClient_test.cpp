#include "telemetry/TelemetryClient.h"

#include "progress/LauncherEvents.h"

#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/Polling.h"
#include "support/TelemetryServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/mstream.h>
#include <wx/zipstrm.h>

#include <chrono>
#include <clocale>
#include <memory>
#include <regex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* SECRET = "5e0c9a7b3f1d24e6a8b0c2d4e6f81a3c";
// MD5 of TelemetryServer::CHALLENGE followed by SECRET.
constexpr const char* TOKEN = "b1ff1b4a21b423ac8aef1b2bafd7adb5";

bool IsRandomUuid(const wxString& text)
{
    static const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    return std::regex_match(text.utf8_string(), form);
}

Pairs ZipEntries(const std::string& archive)
{
    wxMemoryInputStream bytes(archive.data(), archive.size());
    wxZipInputStream zip(bytes, wxConvUTF8);
    Pairs entries;
    for (std::unique_ptr<wxZipEntry> entry(zip.GetNextEntry()); entry; entry.reset(zip.GetNextEntry())) {
        std::string data;
        char buffer[4096];
        while (zip.Read(buffer, sizeof buffer).LastRead() > 0)
            data.append(buffer, zip.LastRead());
        entries.emplace_back(entry->GetName().utf8_string(), data);
    }
    return entries;
}

} // namespace

TEST(TelemetryClient, KeepsTheClientIdAcrossRunsAndMakesANewSessionIdEachRun)
{
    TempDir dir;
    LogCapture log;
    TelemetryClient first(nullptr, dir.Path());
    const std::string id = first.GetClientId().utf8_string();
    EXPECT_TRUE(IsRandomUuid(id)) << id;
    EXPECT_TRUE(log.Has(wxLOG_Message, "Could not find client ID, creating one: " + id));
    EXPECT_EQ(dir.Read("client.id"), id);

    TelemetryClient second(nullptr, dir.Path());
    EXPECT_EQ(second.GetClientId(), first.GetClientId());
    EXPECT_TRUE(IsRandomUuid(second.GetSessionId()));
    EXPECT_NE(second.GetSessionId(), first.GetSessionId());

    dir.Write("client.id", " \t3f2a-77  \r\nnext line\n");
    EXPECT_EQ(TelemetryClient(nullptr, dir.Path()).GetClientId(), "3f2a-77");
    EXPECT_TRUE(log.Has(wxLOG_Info, "Client ID: 3f2a-77"));
}

// A client of a scripted service. Its archives are made in a temporary
// directory outside ASCII, which only a path in the file system's own encoding
// reaches; the launcher reads such a directory from the environment once its
// locale is set, as here.
class Telemetry : public testing::Test {
protected:
    Telemetry() : tempDir(dir.File(wxString::FromUTF8("tmp-ação"))), locale(setlocale(LC_CTYPE, nullptr))
    {
        wxMkdir(tempDir);
        setlocale(LC_CTYPE, "C.UTF-8");
        setenv("TMPDIR", tempDir.fn_str(), 1);
        client = std::make_unique<TelemetryClient>(&events, dir.Path());
        client->SetSecret(SECRET);
        client->SetServiceUrl(server.Url());
        client->SetVersion("1.2.3");
    }
    ~Telemetry() override
    {
        client.reset();
        unsetenv("TMPDIR");
        setlocale(LC_CTYPE, locale.c_str());
    }

    void AddLog(const wxString& name, const std::string& bytes)
    {
        dir.Write(name, bytes);
        client->AddLogFile(dir.File(name));
    }

    // Every wxEVT_LOG_UPLOAD_DONE value so far, once the upload has ended.
    std::vector<int> Upload()
    {
        client->StartLogUpload();
        EXPECT_TRUE(WaitUntil([&] { return !client->IsUploading(); }));
        return events.Values(wxEVT_LOG_UPLOAD_DONE);
    }

    bool TempDirIsEmpty() const { return !wxDir(tempDir).HasFiles(); }

    TempDir dir;
    const wxString tempDir;
    const std::string locale;
    EventRecorder events;
    TelemetryServer server;
    std::unique_ptr<TelemetryClient> client;
};

// Events go out in order with the settings of the moment they were sent;
// those to an unreachable service are logged and lost, and fetch no token.
TEST_F(Telemetry, EventsFetchTheTokenOnceAndSendTheirParametersInWireOrder)
{
    const std::string identity = "GUID=" + client->GetClientId().utf8_string() +
                                 "&SESSID=" + client->GetSessionId().utf8_string() + "&VERSION=";
    LogCapture log;
    client->SetServiceUrl("http://127.0.0.1:1/telemetry.php");
    client->SendEvent("updater_started");
    client->SendEvent("updater_finished", "ABORTED");
    client->SetServiceUrl(server.Url());
    client->SendEvent("updater_started");
    client->SendEvent("updater_finished", "VELORIAN_UPDATED");
    const wxArrayString changes = wxSplit("A.dll,B.dll", ','), none;
    client->SetChanges(&changes);
    client->SendEvent("updater_finished", "ABORTED");
    client->SetChanges(&none);
    client->SetVersion("1.2.4");
    client->SendEvent("updater_started");
    client.reset(); // sends what is queued
    wxLog::FlushActive();

    std::vector<std::string> reported;
    for (const LogCapture::Line& line : log.Lines())
        if (line.level <= wxLOG_Message)
            reported.push_back(line.text);
    EXPECT_EQ(reported, (std::vector<std::string>{
                            "Error requesting token.", "Could not send event updater_started - ",
                            "Error requesting token.", "Could not send event updater_finished - ABORTED"}));
    const std::string auth = std::string("&auth=") + TOKEN;
    std::vector<std::string> queries;
    for (const TelemetryServer::Request& request : server.Requests())
        queries.push_back(request.QueryText());
    EXPECT_EQ(
        queries,
        (std::vector<std::string>{
            identity + "1.2.3&action=get_token",
            identity + "1.2.3&action=updater_started" + auth,
            identity + "1.2.3&action=updater_finished" + auth + "&updater_result=VELORIAN_UPDATED",
            identity + "1.2.3&action=updater_finished" + auth + "&changes=A.dll,B.dll&updater_result=ABORTED",
            identity + "1.2.4&action=updater_started" + auth + "&changes=ERROR",
        }));
    EXPECT_TRUE(log.Has(wxLOG_Info, std::string("Received auth challenge: ") + TelemetryServer::CHALLENGE));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Event result: ok"));
}

// Nothing to upload sends nothing; an error page still ends the upload as done.
TEST_F(Telemetry, UploadPostsTheReadableFilesAsOneZipAfterTheFormFields)
{
    EXPECT_EQ(Upload(), std::vector<int>{0});
    EXPECT_TRUE(server.Requests().empty());

    AddLog("logs/launcher.log", "launcher log\n");
    client->AddLogFile(dir.File("missing.log"));
    AddLog(wxString::FromUTF8("game/jogo-ação.log"), "game log\n");
    const wxArrayString changes = wxSplit("A.dll", ',');
    client->SetChanges(&changes);
    EXPECT_EQ(Upload(), (std::vector<int>{0, 0}));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Param("action"), "get_token");
    // The file part shows as the first three letters of its file name.
    std::string form;
    for (const TelemetryServer::Part& part : requests[1].parts)
        form += part.name + "=" + (part.filename.empty() ? part.bytes : part.filename.substr(0, 3)) + ";";
    EXPECT_EQ(form, "GUID=" + client->GetClientId().utf8_string() +
                        ";SESSID=" + client->GetSessionId().utf8_string() +
                        ";VERSION=1.2.3;action=send_file;auth=" + TOKEN + ";changes=A.dll;logfile=log;");
    EXPECT_EQ(ZipEntries(requests[1].parts.back().bytes),
              (Pairs{{"launcher.log", "launcher log\n"}, {"jogo-ação.log", "game log\n"}}));
    EXPECT_TRUE(TempDirIsEmpty());

    server.AnswerWith(TelemetryServer::Answer::ErrorPage);
    EXPECT_EQ(Upload(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_TRUE(TempDirIsEmpty());
}

// Events from several threads go out one at a time while a stalled upload
// holds its connection; the upload gives up after 10 s without a byte, and a
// second one, stopped mid-transfer, ends at once without a report.
TEST_F(Telemetry, EventsDoNotWaitForAStalledUploadWhichEndsByItselfOrWhenStopped)
{
    server.AnswerWith(TelemetryServer::Answer::StallUpload);
    AddLog("launcher.log", "launcher log\n");
    client->StartLogUpload();
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 2; })); // the token, the upload

    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i) {
        senders.emplace_back([this] {
            for (int j = 0; j < 5; ++j)
                client->SendEvent("updater_finished", "VELORIAN_UPDATED");
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_TRUE(WaitUntil([&] { return server.Events().size() == 20; }));
    EXPECT_TRUE(client->IsUploading());
    EXPECT_EQ(server.PeakConcurrentRequests(), 1);

    EXPECT_TRUE(WaitUntil([&] { return !client->IsUploading(); }, std::chrono::seconds(20)));
    EXPECT_EQ(events.Values(wxEVT_LOG_UPLOAD_DONE), std::vector<int>{-1});
    EXPECT_EQ(server.Requests().size(), 22u);
    EXPECT_TRUE(TempDirIsEmpty());

    client->StartLogUpload();
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 23; }));
    client->StopLogUpload();
    EXPECT_FALSE(client->IsUploading());
    const auto stopped = Clock::now();
    client.reset(); // waits for the thread
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_EQ(events.Values(wxEVT_LOG_UPLOAD_DONE), std::vector<int>{-1});
    EXPECT_TRUE(TempDirIsEmpty());
}
