#include "update/UpdateEngine.h"

#include "app/LauncherConfig.h"
#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "ui/LauncherEvents.h"
#include "ui/ProgressNotifier.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

int CountLines(const LogCapture& log, const std::string& text)
{
    const auto& lines = log.Lines();
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const LogCapture::Line& line) { return line.text == text; }));
}

// Makes a file refuse writes, even to root (which ignores the mode bits), and
// undoes it when it goes.
class Unwritable {
public:
    explicit Unwritable(const wxString& path) : path(path)
    {
        if (geteuid() != 0) {
            done = wxFileName(path).SetPermissions(wxPOSIX_USER_READ);
            return;
        }
        done = SetImmutable(true);
    }
    ~Unwritable()
    {
        if (done && geteuid() == 0)
            SetImmutable(false);
    }
    bool Done() const { return done; }

private:
    bool SetImmutable(bool on) const
    {
        const int fd = open(path.fn_str(), O_RDONLY);
        int flags = 0;
        bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        set = set && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        return set;
    }

    wxString path;
    bool done = false;
};

} // namespace

class UpdateEngineTest : public ::testing::Test {
protected:
    void SetUp() override { StartEngine(server.Url("/")); }

    // A fresh engine, as at the launcher's next start.
    void StartEngine(const std::string& baseUrl)
    {
        engine.reset();
        config.baseDir = install.Path();
        engine = std::make_unique<UpdateEngine>(&config);
        engine->SetProgressNotifier(&notifier);
        engine->SetBaseUrl(baseUrl);
        events.Take();
    }

    bool Posted(wxEventType type) const { return !events.Values(type).empty(); }

    // The check and, when it asks for one, the update, as the window runs them.
    void CheckAndUpdate()
    {
        engine->Check();
        if (Posted(wxEVT_START_UPDATE))
            engine->RunUpdate();
    }

    void ExpectInstalled(const TestRelease& release) const
    {
        for (const auto& [name, content] : release.Files())
            EXPECT_TRUE(install.Read(ManifestNameToPath(name)) == content) << name;
    }

    TempDir install;
    NginxServer server;
    EventRecorder events;
    ProgressNotifier notifier{&events};
    LauncherConfig config;
    std::unique_ptr<UpdateEngine> engine;
    LogCapture log;
};

// Every file of dir by its path relative to it, with its content.
std::map<wxString, std::string> Tree(const TempDir& dir, const wxArrayString& skipped)
{
    wxArrayString paths;
    wxDir::GetAllFiles(dir.Path(), &paths, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    std::map<wxString, std::string> tree;
    for (const wxString& path : paths) {
        const wxString relative = path.Mid(dir.Path().length() + 1);
        if (skipped.Index(relative.BeforeFirst('/')) == wxNOT_FOUND)
            tree[relative] = dir.Read(relative);
    }
    return tree;
}

TEST_F(UpdateEngineTest, AppliesReleasesOfTheReleaseBuilderOneAfterTheOther)
{
    TempDir game;
    game.Write("readme.txt", "first release");
    game.Write("data/maps/empty.res", "");
    game.Write(wxString::FromUTF8("data/maps/Praça.unity3d"), std::string(70000, 'p'));
    game.Write("data/old.res", "dropped in the second release");
    const auto publish = [&](const char* version) {
        const wxString command = wxString::Format("python3 %s %s %s %s --language draft", RELEASE_BUILDER,
                                                  game.Path(), server.Root(), version);
        wxArrayString output;
        return wxExecute(command, output, output, wxEXEC_SYNC) == 0;
    };
    const wxArrayString installerFiles = wxSplit("manifest2.xml,version.inf", ',');
    ASSERT_TRUE(publish("1.0"));
    CheckAndUpdate();
    EXPECT_TRUE(Tree(install, installerFiles) == Tree(game, {}));
    StartEngine(server.Url("/"));
    engine->Check();
    EXPECT_TRUE(Posted(wxEVT_NO_CHANGES_FOUND));
    EXPECT_TRUE(log.Has(wxLOG_Message, "No new version found."));

    game.Write("readme.txt", "second release");
    game.Write("data/added.bin", std::string(50000, 'a'));
    wxRemoveFile(game.File("data/old.res"));
    ASSERT_TRUE(publish("1.1"));
    StartEngine(server.Url("/"));
    CheckAndUpdate();
    EXPECT_TRUE(Tree(install, installerFiles) == Tree(game, {}));
    EXPECT_EQ(install.Read("version.inf"), "1.1");
}

TEST_F(UpdateEngineTest, PutsBackADeletedFileWithoutDuplicatingItsRecord)
{
    TestRelease release;
    release.Add("a.bin", "first");
    release.Add("b.bin", "second", false, "zips/b.zip");
    release.Publish(server.Root(), "1");
    CheckAndUpdate();
    ASSERT_TRUE(wxRemoveFile(install.File("b.bin")));

    StartEngine(server.Url("/"));
    CheckAndUpdate();
    EXPECT_TRUE(log.Has(wxLOG_Message, "Local missing files found: 1"));
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    ExpectInstalled(release);
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "name=\"b.bin\""), 1);
}

TEST_F(UpdateEngineTest, NewReleaseDeletesOnlyObsoleteDataFilesInsideTheInstallation)
{
    TestRelease first;
    for (const char* name : {"keep.bin", "old.res", "old.unity3d", "notes.txt", "UPPER.RES"})
        first.Add(name, std::string("v1 of ") + name);
    first.Publish(server.Root(), "1");
    CheckAndUpdate();

    // Files the cleaning must not reach: one the working directory holds and
    // one that a record climbing out of the installation names.
    TempDir elsewhere;
    elsewhere.Write("old.res", "not ours");
    const std::string outside = wxFileName(install.Path()).GetFullName().ToStdString() + "-outside.res";
    install.Write("../" + outside, "not ours either");
    std::string manifest = install.Read("manifest2.xml");
    manifest.insert(manifest.find("</manifest>"),
                    "\t<file name=\"..\\" + outside + "\" checksum=\"\" timestamp=\"0\" size=\"0\" />\r\n");
    install.Write("manifest2.xml", manifest);
    const wxString workingDir = wxGetCwd();
    wxSetWorkingDirectory(elsewhere.Path());

    TestRelease second;
    second.Add("keep.bin", "v2 of keep.bin");
    second.Add("new\\added.bin", "added in v2", true);
    second.Publish(server.Root(), "2");
    StartEngine(server.Url("/"));
    CheckAndUpdate();
    wxSetWorkingDirectory(workingDir);

    ExpectInstalled(second);
    EXPECT_FALSE(wxFileExists(install.File("old.res")));
    EXPECT_FALSE(wxFileExists(install.File("old.unity3d")));
    EXPECT_TRUE(wxFileExists(install.File("notes.txt")));
    EXPECT_TRUE(wxFileExists(install.File("UPPER.RES")));
    EXPECT_EQ(elsewhere.Read("old.res"), "not ours");
    EXPECT_EQ(install.Read("../" + outside), "not ours either");
    wxRemoveFile(install.File("../" + outside));
    const std::string saved = install.Read("manifest2.xml");
    EXPECT_EQ(Count(saved, "<file "), 2);
    EXPECT_EQ(install.Read("version.inf"), "2");
}

TEST_F(UpdateEngineTest, MissingReleaseOrManifestDisablesPlay)
{
    server.Write("version-win-draft.php", "invalid_remote\n");
    engine->Check();
    EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY));
    EXPECT_EQ(events.Texts().back(), "Could not find remote version.");
    EXPECT_FALSE(wxFileExists(install.File("version.inf")));

    server.Write("version-win-draft.php", "3\n");
    server.Write("3.xml.gz", "not gzip at all");
    StartEngine(server.Url("/"));
    engine->Check();
    EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY));
    EXPECT_EQ(events.Texts().back(), "Could not download update data.");
    EXPECT_EQ(install.Read("version.inf"), "invalid");
}

TEST_F(UpdateEngineTest, HostileNamesWriteNothing)
{
    TestRelease release;
    release.Add("fine.bin", "fine");
    release.AddRawRecord("name=\"..\\escaped.bin\" source_zip=\"a.zip\" checksum=\"0\" offset=\"30\" "
                         "compressed_size=\"4\" compressed=\"false\"");
    release.Publish(server.Root(), "1");
    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY));
    EXPECT_FALSE(wxFileExists(install.File("../escaped.bin")));
    EXPECT_FALSE(wxFileExists(install.File("fine.bin")));
}

TEST_F(UpdateEngineTest, DownloadOrderIsByArchiveThenOffset)
{
    RemoteManifest& remote = engine->GetRemoteManifest();
    remote.push_back(ManifestFileInfo("x", "b", 0, "1", 10, false, 1));
    remote.push_back(ManifestFileInfo("y", "a", 0, "1", 500, false, 1));
    remote.push_back(ManifestFileInfo("z", "a", 0, "1", 20, false, 1));
    const FileList list = engine->CompareManifests();
    std::vector<wxString> names;
    for (const ManifestFileInfo* record : list)
        names.push_back(record->name);
    EXPECT_EQ(names, (std::vector<wxString>{"z", "y", "x"}));
}

class GapTest : public UpdateEngineTest, public ::testing::WithParamInterface<std::pair<std::uint32_t, int>> {};

TEST_P(GapTest, SkipsSmallGapsInOneRequest)
{
    const auto [gap, requests] = GetParam();
    TestRelease release;
    release.Add("one.bin", "first file");
    release.Add("two.bin", std::string(5000, 'z'), true, "a.zip", gap);
    release.Publish(server.Root(), "1");
    CheckAndUpdate();
    ExpectInstalled(release);
    // nginx logs a request once its connection is done with it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Count(server.AccessLog(), "GET /a.zip") < requests && std::chrono::steady_clock::now() < deadline)
        wxMilliSleep(20);
    wxMilliSleep(100);
    EXPECT_EQ(Count(server.AccessLog(), "GET /a.zip"), requests);
}

INSTANTIATE_TEST_SUITE_P(Threshold, GapTest,
                         ::testing::Values(std::make_pair(100u, 1), std::make_pair(GAP_THRESHOLD, 1),
                                           std::make_pair(GAP_THRESHOLD + 1, 2)));

struct Fault {
    const char* kind;
    int times;
};

class FaultTest : public UpdateEngineTest, public ::testing::WithParamInterface<Fault> {};

// Ten failures in a row earn one pause of a second before the download is tried again.
TEST_P(FaultTest, RetriesUntilTheDownloadSucceeds)
{
    const Fault fault = GetParam();
    TestRelease release;
    release.Add("one.bin", std::string(200000, 'a'), true);
    release.Add("two.bin", "second file");
    release.Publish(server.Root(), "1");
    FaultServer faults(server.Root().ToStdString());
    StartEngine(faults.Url("/flaky/" + std::string(fault.kind) + "/" + std::to_string(fault.times) + "/"));

    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    ExpectInstalled(release);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Got " + std::to_string(fault.times) + " error while downloading update. Retrying."));
    EXPECT_EQ(log.Has(wxLOG_Error, "Update stopped 10 times, download error. Retrying in 1 seconds."),
              fault.times >= 10);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(Fault{"corrupt", 10}, Fault{"drop", 2}, Fault{"stall", 1}),
                         [](const auto& info) { return std::string(info.param.kind); });

TEST_F(UpdateEngineTest, AFileThatCannotBeWrittenEndsTheUpdateWithoutRetries)
{
    TestRelease release;
    release.Add("first.bin", "installed before the failure");
    release.Add("locked.bin", "new content");
    release.Add("sub\\blocked.bin", "cannot have a directory");
    release.Publish(server.Root(), "1");
    install.Write("locked.bin", "old content");
    Unwritable locked(install.File("locked.bin"));
    if (!locked.Done())
        GTEST_SKIP() << "this file system cannot make a file unwritable";

    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(engine->GetLastError(), ERROR_WRITE);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Could not write to file locked.bin"));
    EXPECT_EQ(CountLines(log, "Got 1 error while downloading update. Retrying."), 0);
    EXPECT_EQ(events.Texts().back(), "Error writing to files. Please check file permissions and try again.");
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "first.bin"), 1);

    // A plain file where a directory must go fails the same way.
    install.Write("sub", "a file");
    FileList blocked;
    ManifestFileInfo record("sub\\blocked.bin", "a.zip", 0, "", 30, false, 1);
    blocked.push_back(&record);
    EXPECT_FALSE(engine->DownloadFiles(blocked));
    EXPECT_EQ(engine->GetLastError(), ERROR_WRITE);
}

// Stops the engine once the first bytes of a download have arrived.
class StoppingRecorder : public EventRecorder {
public:
    UpdateEngine* engine = nullptr;
    void QueueEvent(wxEvent* event) override
    {
        const auto* progress = dynamic_cast<wxThreadEvent*>(event);
        if (engine != nullptr && event->GetEventType() == wxEVT_PROGRESS_UPDATED && progress->GetInt() > 0)
            engine->Stop();
        EventRecorder::QueueEvent(event);
    }
};

TEST_F(UpdateEngineTest, AStopDuringTheDownloadFinishesTheFileAndEndsAsAborted)
{
    TestRelease release;
    release.Add("one.bin", std::string(3000000, 'a'));
    release.Add("two.bin", "never fetched");
    release.Publish(server.Root(), "1");
    StoppingRecorder stopper;
    ProgressNotifier stopping(&stopper);
    engine->SetProgressNotifier(&stopping);
    engine->Check();
    ASSERT_FALSE(stopper.Values(wxEVT_START_UPDATE).empty());

    stopper.engine = engine.get();
    engine->RunUpdate();
    EXPECT_FALSE(stopper.Values(wxEVT_UPDATE_STOPPED).empty());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Update stopped."));
    EXPECT_TRUE(install.Read("one.bin") == release.Files().at("one.bin"));
    EXPECT_FALSE(wxFileExists(install.File("two.bin")));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    engine.reset();
}

TEST_F(UpdateEngineTest, ThreadsRunTheCheckAndTheUpdateAndTheEngineOutlivesThem)
{
    TestRelease release;
    release.Add("a.bin", "threaded");
    release.Publish(server.Root(), "1");
    engine->StartChecker();
    while (engine->IsWorking())
        wxMilliSleep(10);
    ASSERT_TRUE(Posted(wxEVT_START_UPDATE));
    engine->StartUpdater();
    while (engine->IsWorking())
        wxMilliSleep(10);
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    ExpectInstalled(release);

    // An unreachable server keeps the version query retrying until the
    // engine goes, which stops and waits for its worker.
    StartEngine("http://127.0.0.1:1/");
    engine->StartChecker();
    wxMilliSleep(1500);
    const auto start = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const std::vector<std::string> texts = events.Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Reading remote version...");
    EXPECT_EQ(texts[1], "Error reading remote version. Retrying in 1 seconds.");
}

TEST_F(UpdateEngineTest, VersionFileKeepsItsFirstLineExactly)
{
    install.Write("version.inf", " 1.2.3\r\nsecond line");
    engine->ReadLocalVersion();
    EXPECT_EQ(engine->GetLocalVersion(), " 1.2.3");

    install.Write("version.inf", "");
    engine->ReadLocalVersion();
    EXPECT_EQ(engine->GetLocalVersion(), "");
    EXPECT_TRUE(engine->IsLocalVersionValid());

    wxRemoveFile(install.File("version.inf"));
    engine->ReadLocalVersion();
    EXPECT_TRUE(log.Has(wxLOG_Error, "Error reading local version file."));
    EXPECT_FALSE(engine->IsLocalVersionValid());
    engine->WriteLocalVersion();
    EXPECT_EQ(install.Read("version.inf"), "invalid");
}
