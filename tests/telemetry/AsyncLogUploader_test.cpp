#include "telemetry/AsyncLogUploader.h"

#include "progress/LauncherEvents.h"
#include "telemetry/TelemetryClient.h"

#include "support/Bytes.h"
#include "support/EventRecorder.h"
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
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs ZipEntries(const std::string& archive)
{
    wxMemoryInputStream bytes(archive.data(), archive.size());
    wxZipInputStream zip(bytes, wxConvUTF8);
    Pairs entries;
    for (std::unique_ptr<wxZipEntry> entry(zip.GetNextEntry()); entry; entry.reset(zip.GetNextEntry()))
        entries.emplace_back(entry->GetName().utf8_string(), ReadAll(zip).bytes);
    return entries;
}

// An uploader and its client, of a scripted service. Archives are made in a
// temporary directory outside ASCII, which only a path in the file system's
// own encoding reaches; the launcher reads such a directory from the
// environment once its locale is set, as here.
class TelemetryUpload : public testing::Test {
protected:
    TelemetryUpload()
        : tempDir(dir.File(wxString::FromUTF8("tmp-ação"))), locale(setlocale(LC_CTYPE, nullptr))
    {
        wxMkdir(tempDir);
        setlocale(LC_CTYPE, "C.UTF-8");
        setenv("TMPDIR", tempDir.fn_str(), 1);
        client.SetSecret(TelemetryServer::SECRET);
        client.SetServiceUrl(server.Url());
        client.SetVersion("1.2.3");
    }
    ~TelemetryUpload() override
    {
        uploader.reset();
        unsetenv("TMPDIR");
        setlocale(LC_CTYPE, locale.c_str());
    }

    void AddLog(const wxString& name, const std::string& bytes)
    {
        dir.Write(name, bytes);
        uploader->AddLogFile(dir.File(name));
    }

    // Every wxEVT_LOG_UPLOAD_DONE value so far, once the upload has ended.
    std::vector<int> Upload()
    {
        uploader->StartLogUpload();
        EXPECT_TRUE(WaitUntil([&] { return !uploader->IsUploading(); }));
        return events.Values(wxEVT_LOG_UPLOAD_DONE);
    }

    bool TempDirIsEmpty() const { return !wxDir(tempDir).HasFiles(); }

    TempDir dir;
    const wxString tempDir;
    const std::string locale;
    EventRecorder events;
    TelemetryServer server;
    TelemetryClient client{dir.Path()};
    std::unique_ptr<AsyncLogUploader> uploader = std::make_unique<AsyncLogUploader>(&events, client);
};

// Nothing to upload sends nothing. Only regular files go, and only their last
// 4 MiB: a link could send any other file of the player's, a FIFO would hold
// the upload for good, and a log without bound would make an upload as large.
TEST_F(TelemetryUpload, PostsTheEndsOfTheRegularFilesAsOneZipAfterTheFormFields)
{
    EXPECT_EQ(Upload(), std::vector<int>{0});
    EXPECT_TRUE(server.Requests().empty());

    AddLog("logs/launcher.log", "head" + std::string(4 << 20, 'l'));
    ASSERT_EQ(symlink(dir.File("logs/launcher.log").fn_str(), dir.File("linked.log").fn_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.log").fn_str(), 0600), 0);
    for (const char* name : {"missing.log", "linked.log", "fifo.log"})
        uploader->AddLogFile(dir.File(name));
    AddLog(wxString::FromUTF8("game/jogo-ação.log"), "game log\n");
    const wxArrayString changes = wxSplit("A.dll", ',');
    client.SetChanges(&changes);
    EXPECT_EQ(Upload(), (std::vector<int>{0, 0}));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].query.ends_with("&action=get_token"));
    // The file part shows as the first three letters of its file name.
    std::string form;
    for (const TelemetryServer::Part& part : requests[1].parts)
        form += part.name + "=" + (part.filename.empty() ? part.bytes : part.filename.substr(0, 3)) + ";";
    EXPECT_EQ(form, "GUID=" + client.GetClientId().utf8_string() +
                        ";SESSID=" + client.GetSessionId().utf8_string() +
                        ";VERSION=1.2.3;action=send_file;auth=" + TelemetryServer::TOKEN +
                        ";changes=A.dll;logfile=log;");
    EXPECT_TRUE(ZipEntries(requests[1].parts.back().bytes) ==
                (Pairs{{"launcher.log", std::string(4 << 20, 'l')}, {"jogo-ação.log", "game log\n"}}));
    EXPECT_TRUE(TempDirIsEmpty());
}

// Events from several threads go out one at a time, with the token that the
// upload fetched, while the stalled upload holds its connection; it gives up
// after 10 s without a byte, and a second one, stopped mid-transfer, ends at
// once without a report.
TEST_F(TelemetryUpload, EventsDoNotWaitForAStalledUploadWhichEndsByItselfOrWhenStopped)
{
    server.StallUploads();
    AddLog("launcher.log", "launcher log\n");
    uploader->StartLogUpload();
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 2; })); // the token, the upload

    {
        std::vector<std::jthread> senders;
        for (int i = 0; i < 4; ++i) {
            senders.emplace_back([this] {
                for (int j = 0; j < 5; ++j)
                    client.SendEvent("updater_finished", "VELORIAN_UPDATED");
            });
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return server.Requests().size() == 22; })); // and 20 events
    EXPECT_TRUE(uploader->IsUploading());
    EXPECT_EQ(server.PeakConcurrentRequests(), 1);

    EXPECT_TRUE(WaitUntil([&] { return !uploader->IsUploading(); }, std::chrono::seconds(20)));
    EXPECT_EQ(events.Values(wxEVT_LOG_UPLOAD_DONE), std::vector<int>{-1});
    EXPECT_EQ(server.Requests().size(), 22u) << "one token for the upload and the events";

    uploader->StartLogUpload();
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 23; }));
    uploader->StopLogUpload();
    EXPECT_FALSE(uploader->IsUploading());
    const auto stopped = std::chrono::steady_clock::now();
    uploader.reset(); // waits for the thread
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    EXPECT_EQ(events.Values(wxEVT_LOG_UPLOAD_DONE), std::vector<int>{-1});
    EXPECT_TRUE(TempDirIsEmpty());
}

} // namespace
