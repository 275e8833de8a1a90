#include "telemetry/TelemetryClient.h"

#include "support/LogCapture.h"
#include "support/TelemetryServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

bool IsRandomUuid(const wxString& text)
{
    static const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    return std::regex_match(text.utf8_string(), form);
}

TEST(TelemetryClient, KeepsTheClientIdAcrossRunsAndMakesANewSessionIdEachRun)
{
    TempDir dir;
    TelemetryClient first(dir.Path());
    EXPECT_TRUE(IsRandomUuid(first.GetClientId())) << first.GetClientId();
    EXPECT_EQ(dir.Read("client.id"), first.GetClientId().utf8_string());

    TelemetryClient second(dir.Path());
    EXPECT_EQ(second.GetClientId(), first.GetClientId());
    EXPECT_TRUE(IsRandomUuid(second.GetSessionId()));
    EXPECT_NE(second.GetSessionId(), first.GetSessionId());

    dir.Write("client.id", " \t3f2a-77  \r\nnext line\n");
    EXPECT_EQ(TelemetryClient(dir.Path()).GetClientId(), "3f2a-77");
}

// Events go out in order with the settings of the moment they were sent;
// those to an unreachable service are logged and lost, and fetch no token.
TEST(TelemetryClient, EventsFetchTheTokenOnceAndSendTheirParametersInWireOrder)
{
    TempDir dir;
    TelemetryServer server;
    auto client = std::make_unique<TelemetryClient>(dir.Path());
    wxLog::FlushActive(); // what earlier tests' threads logged
    LogCapture log;
    const std::string identity = "GUID=" + client->GetClientId().utf8_string() +
                                 "&SESSID=" + client->GetSessionId().utf8_string() + "&VERSION=";
    client->SetSecret(TelemetryServer::SECRET);
    client->SetVersion("1.2.3");
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
    const std::string auth = std::string("&auth=") + TelemetryServer::TOKEN;
    std::vector<std::string> queries;
    for (const TelemetryServer::Request& request : server.Requests())
        queries.push_back(request.query);
    EXPECT_EQ(
        queries,
        (std::vector<std::string>{
            identity + "1.2.3&action=get_token",
            identity + "1.2.3&action=updater_started" + auth,
            identity + "1.2.3&action=updater_finished" + auth + "&updater_result=VELORIAN_UPDATED",
            identity + "1.2.3&action=updater_finished" + auth + "&changes=A.dll,B.dll&updater_result=ABORTED",
            identity + "1.2.4&action=updater_started" + auth + "&changes=ERROR",
        }));
}

} // namespace
