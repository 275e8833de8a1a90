#include "update/UpdateEngine.h"

#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/Bytes.h"
#include "support/DiskFull.h"
#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "support/TestSigningKey.h"
#include "telemetry/TelemetryClient.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>

namespace {

int Mode(const wxString& path)
{
    struct stat status {};
    stat(path.fn_str(), &status);
    return status.st_mode & 0777;
}

class UpdateEngineTest : public ::testing::Test {
protected:
    void SetUp() override { StartEngine(server.Url("/")); }

    // A fresh engine, as at the launcher's next start.
    void StartEngine(const std::string& baseUrl)
    {
        engine.reset();
        engine = std::make_unique<UpdateEngine>(install.Path());
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
    std::unique_ptr<UpdateEngine> engine;
    LogCapture log;
};

// Every file of dir by its path relative to it, with its content.
std::map<wxString, std::string> Tree(const TempDir& dir)
{
    wxArrayString paths;
    wxDir::GetAllFiles(dir.Path(), &paths, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    std::map<wxString, std::string> tree;
    for (const wxString& path : paths)
        tree[path.Mid(dir.Path().length() + 1)] = dir.Read(path.Mid(dir.Path().length() + 1));
    return tree;
}

// What the real release builder writes installs as is, with the game's
// execute bits, and its checksums agree with ours: the next start finds
// nothing to do, without even reading the release's manifest. A file whose
// content a new release keeps gets the release's permission bits all the same.
TEST_F(UpdateEngineTest, InstallsAReleaseOfTheReleaseBuilder)
{
    TempDir game;
    game.Write("readme.txt", "first release");
    game.Write("data/maps/empty.res", "");
    game.Write(wxString::FromUTF8("data/maps/Praça.unity3d"), std::string(70000, 'p'));
    game.Write("bin/game.exe", Pattern(0, 3000000));
    chmod(game.File("bin/game.exe").fn_str(), 0755);
    const auto publish = [&](const char* version) {
        wxArrayString output;
        ASSERT_EQ(wxExecute(wxString::Format("python3 %s %s %s %s --language draft", RELEASE_BUILDER,
                                             game.Path(), server.Root(), version),
                            output, output, wxEXEC_SYNC),
                  0);
    };
    publish("1.0");
    CheckAndUpdate();
    auto installed = Tree(install);
    EXPECT_EQ(installed["version.inf"], "1.0");
    installed.erase("version.inf");
    installed.erase("manifest2.xml");
    EXPECT_TRUE(installed == Tree(game));
    EXPECT_EQ(Mode(install.File("bin/game.exe")), 0755);
    EXPECT_EQ(Mode(install.File("readme.txt")), 0644);

    StartEngine(server.Url("/"));
    engine->Check();
    EXPECT_TRUE(Posted(wxEVT_NO_CHANGES_FOUND));
    ASSERT_EQ(server.Requests("GET /version-win-", 2), 2);
    EXPECT_EQ(Count(server.AccessLog(), ".xml.gz"), 1);

    chmod(install.File("bin/game.exe").fn_str(), 0644);
    game.Write("readme.txt", "second release");
    publish("2.0");
    StartEngine(server.Url("/"));
    CheckAndUpdate();
    EXPECT_EQ(install.Read("readme.txt"), "second release");
    EXPECT_EQ(Mode(install.File("bin/game.exe")), 0755);
}

class MissingFileTest : public UpdateEngineTest, public ::testing::WithParamInterface<bool> {};

// A record outlives its file: a file gone from the disk is fetched after a
// repair that was cut short (version "invalid"), and when a new release
// leaves it unchanged.
TEST_P(MissingFileTest, IsFetchedWhateverItsRecordSays)
{
    const auto publish = [this](const char* version) {
        TestRelease release;
        release.Add("kept.bin", "unchanged in every release");
        release.Add("other.bin", std::string("changed in release ") + version);
        release.Publish(server.Root(), version);
    };
    publish("1");
    CheckAndUpdate();
    ASSERT_TRUE(wxRemoveFile(install.File("kept.bin")));
    if (GetParam())
        publish("2");
    else
        install.Write("version.inf", "invalid");
    StartEngine(server.Url("/"));
    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    EXPECT_EQ(install.Read("kept.bin"), "unchanged in every release");
}

INSTANTIATE_TEST_SUITE_P(Records, MissingFileTest, ::testing::Bool());

// Only data files (.res, .unity3d, case-sensitive) go, and only inside the
// installation: not in the working directory, not where a record climbs out.
TEST_F(UpdateEngineTest, NewReleaseDeletesOnlyObsoleteDataFilesInsideTheInstallation)
{
    TestRelease first;
    for (const char* name : {"keep.bin", "old.res", "old.unity3d", "notes.txt", "UPPER.RES"})
        first.Add(name, std::string("v1 of ") + name);
    first.Publish(server.Root(), "1");
    CheckAndUpdate();

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
    second.Add("new\\added.bin", "added in v2", true, "zips/b.zip");
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
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "<file "), 2);
    EXPECT_EQ(install.Read("version.inf"), "2");

    // A file deleted by hand comes back at the next start, its record not doubled.
    ASSERT_TRUE(wxRemoveFile(install.File("new/added.bin")));
    StartEngine(server.Url("/"));
    CheckAndUpdate();
    EXPECT_TRUE(log.Has(wxLOG_Message, "Local missing files found: 1"));
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    ExpectInstalled(second);
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "<file "), 2);
}

// A refused manifest (here a name climbing out) must not write even its good files.
TEST_F(UpdateEngineTest, RefusedManifestDisablesPlayAndWritesNothing)
{
    TestRelease release;
    release.Add("fine.bin", "fine");
    release.AddRawRecord("name=\"..\\escaped.bin\" source_zip=\"a.zip\" checksum=\"0\" offset=\"30\" "
                         "compressed_size=\"4\" compressed=\"false\"");
    release.Publish(server.Root(), "1");
    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY));
    EXPECT_EQ(events.Texts().back(), "Could not download update data.");
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_FALSE(wxFileExists(install.File("../escaped.bin")));
    EXPECT_FALSE(wxFileExists(install.File("fine.bin")));
}

// With the publisher's key, a release is taken only when the signature beside
// its manifest verifies over the bytes served; anything else stops the check
// before it writes a byte, whether a new release or a missing file is at stake.
TEST_F(UpdateEngineTest, TakesOnlyReleasesSignedByThePublisher)
{
    const TestSigningKey publisher, stranger;
    const auto startSigned = [&] {
        StartEngine(server.Url("/"));
        engine->SetReleaseKey(SignatureVerifier::FromBase64(publisher.PublicKey()));
    };
    TestRelease first, second;
    first.Add("game.bin", "version 1");
    second.Add("game.bin", "version 2");
    first.Publish(server.Root(), "1", "draft", &publisher);
    startSigned();
    CheckAndUpdate();
    ExpectInstalled(first);

    const std::pair<const char*, std::function<void()>> refused[] = {
        {"one flipped byte",
         [&] {
             std::string manifest = server.Read("2.xml.gz");
             manifest[20] ^= 1;
             server.Write("2.xml.gz", manifest);
         }},
        {"no signature", [&] { wxRemoveFile(server.Root() + "/2.xml.gz.sig"); }},
        {"another key", [&] { server.Write("2.xml.gz.sig", stranger.Sign(server.Read("2.xml.gz"))); }},
        {"another version's", [&] { server.Write("2.xml.gz.sig", server.Read("1.xml.gz.sig")); }},
        {"a missing file",
         [&] {
             wxRemoveFile(install.File("game.bin"));
             first.Publish(server.Root(), "1", "draft", &stranger);
         }},
    };
    for (const auto& [name, tamper] : refused) {
        SCOPED_TRACE(name);
        second.Publish(server.Root(), "2", "draft", &publisher);
        tamper();
        const auto before = Tree(install);
        startSigned();
        CheckAndUpdate();
        EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY));
        EXPECT_EQ(events.Texts().back(), "The update data is not signed by the publisher.");
        EXPECT_TRUE(engine->ReleaseRefused());
        EXPECT_TRUE(Tree(install) == before);
    }
    second.Publish(server.Root(), "2", "draft", &publisher);
    startSigned();
    CheckAndUpdate();
    ExpectInstalled(second);
}

// Gaps up to the threshold are read through, larger ones start a run of their
// own. The runs of an archive share one request while the server answers
// several ranges at once; one that answers them with the whole archive (the
// fault server) is asked for one run at a time, without a failed attempt.
class GapTest : public UpdateEngineTest,
                public ::testing::WithParamInterface<std::pair<std::uint32_t, bool>> {};

TEST_P(GapTest, ReadsSmallGapsThroughAndAsksForEachRunOnce)
{
    const auto [gap, multipart] = GetParam();
    TestRelease release;
    const std::uint32_t one = release.Add("one.bin", "first file");
    const std::uint32_t two = release.Add("two.bin", std::string(5000, 'z'), true, "a.zip", gap);
    release.Add("three.bin", "in another archive", false, "b.zip");
    // Release tools differ in the letter case of their digests.
    release.UpperCaseDigests();
    release.Publish(server.Root(), "1");
    FaultServer faults(server.Root().ToStdString());
    if (!multipart)
        StartEngine(faults.Url("/whole/"));
    CheckAndUpdate();
    ExpectInstalled(release);
    EXPECT_FALSE(log.HasText("Got 1 error while downloading update. Retrying."));
    if (!multipart)
        return;
    const auto& manifest = engine->GetRemoteManifest();
    const auto twoEnd = two + std::find_if(manifest.begin(), manifest.end(), [](const auto& record) {
                                  return record.name == "two.bin";
                              })->compressed_size;
    const auto range = [](std::uint32_t first, std::uint32_t end) {
        return std::to_string(first) + "-" + std::to_string(end - 1);
    };
    const std::string asked =
        gap <= GAP_THRESHOLD ? range(one, twoEnd) : range(one, one + 10) + "," + range(two, twoEnd);
    EXPECT_EQ(server.Requests("range=\"bytes=" + asked + "\"", 1), 1) << server.AccessLog();
    EXPECT_EQ(server.Requests("GET /a.zip", 1), 1);
}

INSTANTIATE_TEST_SUITE_P(Threshold, GapTest,
                         ::testing::Values(std::make_pair(GAP_THRESHOLD, true),
                                           std::make_pair(GAP_THRESHOLD + 1, true),
                                           std::make_pair(GAP_THRESHOLD + 1, false)));

struct Fault {
    const char* name;
    const char* kind; // of the fault server's first `times` answers for the archive
    int times;
    const char* sizeAttribute; // appended to the first file's record
};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

class FaultTest : public UpdateEngineTest, public ::testing::WithParamInterface<Fault> {};

// Ten failures in a row earn one pause of a second before the download is
// tried again. A bad download never replaces the file it was meant for, and
// a file that is bad in three series of retries ends the update: corrupt
// bytes, or a member that inflates beyond its size like a deflate bomb.
TEST_P(FaultTest, RetriesUntilTheDownloadSucceedsOrTheReleaseProvesBroken)
{
    const Fault fault = GetParam();
    TestRelease release;
    release.Add("one.bin", std::string(200000, 'a'), true);
    release.AppendAttributes(fault.sizeAttribute);
    release.Add("two.bin", "second file");
    release.Publish(server.Root(), "1");
    install.Write("one.bin", "the previous version");
    FaultServer faults(server.Root().ToStdString());
    StartEngine(faults.Url("/flaky/" + std::string(fault.kind) + "/" + std::to_string(fault.times) + "/"));

    CheckAndUpdate();
    EXPECT_FALSE(wxFileExists(install.File("one.bin.part")));
    if (fault.times > 30 || std::string(fault.sizeAttribute) != "") {
        EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
        EXPECT_EQ(install.Read("one.bin"), "the previous version");
        EXPECT_TRUE(log.Has(wxLOG_Error,
                            "one.bin failed its checksum in 3 series of retries: the release is damaged."));
        EXPECT_EQ(events.Texts().back(), "Could not download update data.");
        return;
    }
    EXPECT_TRUE(Posted(wxEVT_UPDATE_FINISHED));
    ExpectInstalled(release);
    EXPECT_TRUE(log.Has(wxLOG_Error,
                        "Got " + std::to_string(fault.times) + " error while downloading update. Retrying."));
    EXPECT_EQ(log.Has(wxLOG_Error, "Update stopped 10 times, download error. Retrying in 1 seconds."),
              fault.times >= 10);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(Fault{"corrupt", "corrupt", 10, ""}, Fault{"drop", "drop", 2, ""},
                                           Fault{"stall", "stall", 1, ""},
                                           Fault{"corrupt_always", "corrupt", 1000, ""},
                                           Fault{"beyond_size", "drop", 0, "size=\"1000\""}),
                         [](const auto& info) { return std::string(info.param.name); });

// Retrying cannot help a file that cannot be opened (a directory in its way) or
// a directory that cannot be made; what was installed before stays recorded.
TEST_F(UpdateEngineTest, AFileThatCannotBeWrittenEndsTheUpdateWithoutRetries)
{
    TestRelease release;
    release.Add("first.bin", "installed before the failure");
    release.Add("locked.bin", "new content");
    release.Publish(server.Root(), "1");
    ASSERT_TRUE(wxFileName::Mkdir(install.File("locked.bin")));

    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(engine->GetLastError(), ERROR_WRITE);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Could not write to file locked.bin"));
    EXPECT_FALSE(log.HasText("Got 1 error while downloading update. Retrying."));
    EXPECT_EQ(events.Texts().back(), "Error writing to files. Please check file permissions and try again.");
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "first.bin"), 1);

    install.Write("sub", "a file");
    ManifestFileInfo record("sub\\blocked.bin", "a.zip", 0, "", 30, false, 1);
    FileList blocked{&record};
    EXPECT_FALSE(engine->DownloadFiles(blocked));
    EXPECT_EQ(engine->GetLastError(), ERROR_WRITE);
}

// Retrying cannot help when a write fails: not the version file's "invalid"
// guard (a directory in its way stops even root), nor a file on a full disk.
// The update stops at once, having replaced nothing.
TEST_F(UpdateEngineTest, FailedWritesStopAtOnceAndReplaceNothing)
{
    TestRelease release;
    release.Add("big.bin", Pattern(0, 300000));
    release.Publish(server.Root(), "1");
    install.Write("big.bin", "the previous version");
    ASSERT_TRUE(wxFileName::Mkdir(install.File("version.inf")));
    CheckAndUpdate();
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(engine->GetLastError(), ERROR_WRITE);
    EXPECT_EQ(events.Texts().back(), "Error writing to files. Please check file permissions and try again.");
    ASSERT_TRUE(wxFileName::Rmdir(install.File("version.inf")));

    const int lastError = RunWithDiskFullAfter(100000, [this] {
        StartEngine(server.Url("/"));
        CheckAndUpdate();
        return engine->GetLastError();
    });
    EXPECT_EQ(lastError, ERROR_WRITE);
    EXPECT_EQ(server.Requests("GET /a.zip", 1), 1);
    EXPECT_EQ(install.Read("big.bin"), "the previous version");
    EXPECT_FALSE(wxFileExists(install.File("big.bin.part")));
}

// The engine stops its worker and waits for it when it goes; the stop cuts
// whatever request the worker waits on, so that takes about no time.
class StopTest : public UpdateEngineTest {
protected:
    void StopWhen(const std::function<bool()>& underWay)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!underWay() && std::chrono::steady_clock::now() < deadline)
            wxMilliSleep(20);
        wxMilliSleep(300);
        const auto start = std::chrono::steady_clock::now();
        engine.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        wxLog::FlushActive(); // the worker's lines
    }
};

// Retrying a server that refuses or answers with no version, or waiting on
// one that never answers: the check ends as stopped and touches nothing.
TEST_F(StopTest, DuringTheVersionQueryLeavesTheInstallationAlone)
{
    const std::string manifest = "<manifest>\r\n</manifest>\r\n";
    const std::vector<std::string> retrying = {"Reading remote version...",
                                               "Error reading remote version. Retrying in 1 seconds."};
    FaultServer faults;
    std::vector<std::pair<std::string, std::vector<std::string>>> cases = {{"http://127.0.0.1:1/", retrying}};
    for (const std::string& answer : {std::string("1.0 beta\n"), std::string("../1.0"), std::string(65, '1'),
                                      std::string(""), std::string("<html>\n")}) {
        const std::string dir = "answer" + std::to_string(cases.size());
        server.Write(dir + "/version-win-draft.php", answer);
        cases.emplace_back(server.Url("/" + dir + "/"), retrying);
    }
    // Last: the notifier passes on a status only when it changes.
    cases.emplace_back(faults.Url("/silent/"), std::vector<std::string>{"Reading remote version..."});
    for (const auto& [url, texts] : cases) {
        SCOPED_TRACE(url);
        install.Write("version.inf", "1");
        install.Write("manifest2.xml", manifest);
        StartEngine(url);
        engine->StartChecker();
        StopWhen([] { return true; });
        EXPECT_EQ(events.Texts(), texts);
        EXPECT_TRUE(log.Has(wxLOG_Message, "Stopped local check."));
        EXPECT_EQ(install.Read("version.inf"), "1");
        EXPECT_EQ(install.Read("manifest2.xml"), manifest);
    }
}

// A large file that comes slowly, in a run of its own asked for with the
// small file's: the half-written file never takes its place, so the next
// update fetches it again, and the stop is no download error.
TEST_F(StopTest, DuringALargeFileEndsTheUpdateAsStopped)
{
    TestRelease release;
    release.Add("small.bin", "installed before the stop");
    release.Add("large.bin", Pattern(0, 3 << 20), false, "a.zip", GAP_THRESHOLD + 1);
    release.Publish(server.Root(), "1");
    StartEngine(server.Url("/slow/"));
    engine->Check();
    ASSERT_TRUE(Posted(wxEVT_START_UPDATE));
    engine->StartUpdater();
    StopWhen([this] { return wxFileExists(install.File("large.bin.part")); });
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "small.bin"), 1);
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "large.bin"), 0);
    EXPECT_FALSE(wxFileExists(install.File("large.bin")) || wxFileExists(install.File("large.bin.part")));
    EXPECT_FALSE(log.HasText("Corrupted download of large.bin"));
    EXPECT_FALSE(log.HasText("Got 1 error while downloading update. Retrying."));
}

// A telemetry service that never answers costs the update nothing and the
// exit a short grace, after which the events still queued are dropped.
TEST_F(UpdateEngineTest, ATelemetryServiceThatNeverAnswersDelaysNeitherTheUpdateNorTheExit)
{
    TestRelease release;
    release.Add("one.bin", "first file");
    release.Publish(server.Root(), "1");
    FaultServer silent;
    auto telemetry = std::make_unique<TelemetryClient>(install.Path());
    telemetry->SetServiceUrl(silent.Url("/stall?size=1"));
    engine->SetTelemetry(telemetry.get());

    const auto start = std::chrono::steady_clock::now();
    CheckAndUpdate();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ExpectInstalled(release);

    engine.reset();
    const auto exit = std::chrono::steady_clock::now();
    telemetry.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - exit, std::chrono::seconds(4));
    wxLog::FlushActive();
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Dropped 2 telemetry events that were not sent before exit."));
}

// Only the first line counts, untrimmed.
TEST_F(UpdateEngineTest, VersionFileKeepsItsFirstLineExactly)
{
    install.Write("version.inf", " 1.2.3\r\nsecond line");
    engine->ReadLocalVersion();
    EXPECT_EQ(engine->GetLocalVersion(), " 1.2.3");
}

} // namespace
