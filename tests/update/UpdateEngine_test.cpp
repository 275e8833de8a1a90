#include "update/UpdateEngine.h"

#include "platform/FileStatus.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/Bytes.h"
#include "support/DiskFull.h"
#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TelemetryServer.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "support/TestSigningKey.h"
#include "telemetry/TelemetryClient.h"
#include "update/DownloadPlan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Mode(const wxString& path)
{
    platform::FileStatus status;
    platform::GetFileStatus(path, status);
    return status.mode;
}

class UpdateEngineTest : public ::testing::Test {
protected:
    void SetUp() override { StartEngine(server.Url("/")); }
    // The workers' last lines wait for the main thread: they belong to this test.
    void TearDown() override
    {
        engine.reset();
        wxLog::FlushActive();
    }

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

    // The worker's end after a stop, as the window's exit waits for it.
    Clock::duration StopAndWait()
    {
        const auto start = Clock::now();
        engine->Stop();
        WaitUntil([this] { return !engine->IsWorking(); });
        return Clock::now() - start;
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

// What the real release builder writes, split over archives and signed, installs
// as is, with the game's execute bits, and its checksums agree with ours: the
// next start finds nothing to do, without even reading the release's manifest.
TEST_F(UpdateEngineTest, InstallsAReleaseOfTheReleaseBuilder)
{
    TempDir game, keys;
    game.Write("readme.txt", "first release");
    game.Write("data/maps/empty.res", "");
    game.Write(wxString::FromUTF8("data/maps/Praça.unity3d"), std::string(70000, 'p'));
    game.Write("bin/game.exe", Pattern(0, 3000000));
    chmod(game.File("bin/game.exe").fn_str(), 0755);
    // Debian's own interpreter, which sees python3-nacl.
    const auto run = [](const wxString& command) {
        wxArrayString output;
        EXPECT_EQ(wxExecute("/usr/bin/python3 " + command, output, output, wxEXEC_SYNC), 0) << command;
        return output.empty() ? wxString() : output.Last();
    };
    const wxString key =
        run(wxFileName(RELEASE_BUILDER).GetPath() + "/make_signing_key.py " + keys.File("key"));
    const auto publish = [&](const char* version) {
        run(wxString::Format("%s %s %s %s --language draft --archives 3 --sign-key %s", RELEASE_BUILDER,
                             game.Path(), server.Root(), version, keys.File("key")));
    };
    const auto start = [&] {
        StartEngine(server.Url("/"));
        engine->SetReleaseKey(SignatureVerifier::FromBase64(key.AfterFirst('=').utf8_string()));
    };
    publish("1.0");
    ASSERT_FALSE(HasFailure()) << "no release to check against";
    start();
    CheckAndUpdate();
    auto installed = Tree(install);
    EXPECT_EQ(installed["version.inf"], "1.0");
    installed.erase("version.inf");
    installed.erase("manifest2.xml");
    EXPECT_TRUE(installed == Tree(game));
    EXPECT_EQ(Mode(install.File("bin/game.exe")), 0755);
    EXPECT_EQ(Mode(install.File("readme.txt")), 0644);

    start();
    engine->Check();
    EXPECT_TRUE(Posted(wxEVT_NO_CHANGES_FOUND));
    ASSERT_EQ(server.Requests("GET /version-win-", 2), 2);
    EXPECT_EQ(Count(server.AccessLog(), ".xml.gz HTTP"), 1);
}

// A release cannot let others change the game, nor undo the umask or what the
// player took away, though a file runs wherever it may be read: whether it is
// replaced (game) or kept (readme).
TEST_F(UpdateEngineTest, ModesLoseWriteBitsForOthersTheUmasksAndThePlayers)
{
    // The umask, the player's mode before the second release (0: none), the mode after it.
    const int rows[][3] = {{002, 0, 0755}, {077, 0, 0700}, {022, 0500, 0500}, {022, 0644, 0755}};
    for (const auto& [mask, chosen, expected] : rows) {
        wxFileName::Rmdir(install.Path(), wxPATH_RMDIR_RECURSIVE);
        wxMkdir(install.Path());
        for (const std::string version : {"1", "2"}) {
            TestRelease release;
            release.Add("game", version);
            release.AppendAttributes("permission=\"777\"");
            release.Add("readme", "kept");
            release.AppendAttributes("permission=\"775\"");
            release.Publish(server.Root(), version);
            for (const char* name : {"game", "readme"})
                chmod(install.File(name).fn_str(), chosen != 0 ? chosen : Mode(install.File(name)));
            // Around the engine alone: the server must read the release.
            const mode_t umaskBefore = umask(mask);
            StartEngine(server.Url("/"));
            CheckAndUpdate();
            umask(umaskBefore);
        }
        for (const char* name : {"game", "readme"})
            EXPECT_EQ(Mode(install.File(name)), expected) << name << " " << mask << " " << chosen;
    }
}

// Release files make way for a folder or a file of the next release; the player's own stay, failing it.
TEST_F(UpdateEngineTest, FilesOfTheReleaseBecomeFoldersAndFoldersFiles)
{
    const std::vector<std::vector<std::string>> releases = {
        {"X", "D\\a", "D\\b\\c"}, {"X\\y", "D"}, {"X", "D\\a"}, {"X\\y", "D"}};
    for (std::size_t index = 0; index < releases.size(); ++index) {
        const std::string version = std::to_string(index + 1);
        TestRelease release;
        for (const std::string& name : releases[index])
            release.Add(name, name + version);
        release.Publish(server.Root(), version);
        if (index == 3)
            install.Write("D/mine", "the player's");
        StartEngine(server.Url("/"));
        CheckAndUpdate();
        if (index < 3)
            ExpectInstalled(release);
        EXPECT_EQ(install.Read("version.inf"), index < 3 ? version : "invalid");
    }
    EXPECT_EQ(install.Read("D/mine"), "the player's");
}

// Links planted at temporary names, old and new, lead nowhere; a release may hold both X and X.part.
TEST_F(UpdateEngineTest, TemporaryFilesAreMadeAfreshWhereNoReleaseFileCanBe)
{
    TempDir outside;
    outside.Write("target", "outside");
    for (const char* name : {"big\\part", "version.inf\\part", "manifest2.xml\\part", "download\\resume",
                             "version.inf.tmp", "manifest2.xml.tmp", "download.resume"})
        ASSERT_EQ(symlink(outside.File("target").fn_str(), install.File(name).fn_str()), 0) << name;
    TestRelease release;
    release.Add("big.part", "a file of its own");
    release.Add("big", Pattern(0, 9 << 20));
    release.Publish(server.Root(), "1");
    CheckAndUpdate();
    ExpectInstalled(release);
    EXPECT_EQ(install.Read("version.inf"), "1");
    EXPECT_EQ(outside.Read("target"), "outside");
}

// Each way a check and an update end, as support reads it in the log, the
// telemetry service hears it and the next start finds it in the version file.
// The rows run in order on one installation, each as a start of its own.
TEST_F(UpdateEngineTest, EachOutcomeIsLoggedReportedAndRecorded)
{
    TelemetryServer service;
    FaultServer faults(server.Root().ToStdString());
    // Steps that set a row up, and their sequence.
    using Step = std::function<void()>;
    const auto publishing = [this](const char* version, const char* second) -> Step {
        return [=, this] {
            TestRelease release;
            release.Add("data/a.bin", "the same in every release");
            release.Add("data\\b.bin", second, false, "a.zip", GAP_THRESHOLD);
            release.Publish(server.Root(), version);
        };
    };
    const auto writing = [this](const char* name, const char* content) -> Step {
        return [=, this] { install.Write(name, content); };
    };
    const auto removing = [this](const char* name) -> Step {
        return [=, this] {
            wxFileName::Rmdir(install.File(name), wxPATH_RMDIR_RECURSIVE) || wxRemoveFile(install.File(name));
        };
    };
    const auto blocking = [this](const char* name) -> Step {
        return [=, this] { wxFileName::Mkdir(install.File(name)); };
    };
    const auto then = [](std::vector<Step> steps) -> Step {
        return [=] {
            for (const Step& step : steps)
                step();
        };
    };
    const Step refusedRelease = [this] {
        TestRelease release;
        release.Add("data/new.bin", "fine");
        release.AddRawRecord("name=\"..\\escaped.bin\" source_zip=\"a.zip\" checksum=\"0\" offset=\"30\" "
                             "compressed_size=\"4\" compressed=\"false\"");
        release.Publish(server.Root(), "4");
    };
    struct Row {
        const char* what;
        Step arrange;
        std::vector<std::string> logged;
        const char* result; // of updater_finished
        const char* version;
        wxEventType ends; // 0: none
        std::string baseUrl = "/";
        bool stopped = false;
    };
    const std::string missing = "Missing: " + install.File("data/b.bin").ToStdString() + " (src: a.zip)";
    const char* const UPDATED = "VELORIAN_UPDATED";
    const char* const CURRENT = "VELORIAN_ALREADY_UPDATED";
    const char* const NO_RELEASE = "ABORTED_GET_REMOTE_VERSION";
    // clang-format off
    const Row rows[] = {
        {"new release", publishing("1", "first"),
         {"New version found: 1", "Mismatches: 2", "Update started.", "Update done."},
         UPDATED, "1", wxEVT_UPDATE_FINISHED},
        {"up to date", [] {}, {"No new version found."}, CURRENT, "1", wxEVT_NO_CHANGES_FOUND},
        {"a file deleted", removing("data/b.bin"),
         {missing, "Local missing files found: 1", "Mismatches: 1", "Update done."},
         UPDATED, "1", wxEVT_UPDATE_FINISHED},
        // A record outlives its file: it is fetched whatever its record says.
        {"a file deleted, kept by a new release", then({publishing("2", "first"), removing("data/a.bin")}),
         {"New version found: 2", "Mismatches: 1"}, UPDATED, "2", wxEVT_UPDATE_FINISHED},
        {"a file deleted after a repair was cut short",
         then({writing("version.inf", "invalid"), removing("data/a.bin")}),
         {"New version found: 2", "Mismatches: 1"}, UPDATED, "2", wxEVT_UPDATE_FINISHED},
        {"new release, same files", publishing("3", "first"),
         {"New version found: 3", "No mismatches found."}, CURRENT, "3", wxEVT_NO_CHANGES_FOUND},
        {"stopped", [] {}, {"Stopped local check."}, "ABORTED", "3", 0, "/", true},
        {"no release", [&] { server.Write("version-win-draft.php", "invalid_remote\n"); },
         {"Could not read remote version."}, NO_RELEASE, "3", wxEVT_DISABLE_PLAY},
        // Not even its good files are written.
        {"a manifest naming a file outside", refusedRelease,
         {"Could not read download remote manifest."}, NO_RELEASE, "invalid", wxEVT_DISABLE_PLAY},
        {"a file in the way",
         then({publishing("5", "second"), removing("data/b.bin"), blocking("data/b.bin")}),
         {"Could not write to file data\\b.bin", "Update stopped, write error."},
         "DOWNLOAD_WRITING_ERROR", "invalid", wxEVT_UPDATE_STOPPED},
        {"a file where a folder goes", then({removing("data"), writing("data", "a file")}),
         {"Update stopped, write error."}, "DOWNLOAD_WRITING_ERROR", "invalid", wxEVT_UPDATE_STOPPED},
        // A directory in its way stops even root from marking the update as begun.
        {"the version file blocked",
         then({removing("data"), removing("version.inf"), blocking("version.inf")}),
         {"Update stopped, write error."}, "DOWNLOAD_WRITING_ERROR", "", wxEVT_UPDATE_STOPPED},
        {"a damaged release",
         then({removing("version.inf"), writing("data/a.bin", "the same in every release"),
               writing("data/b.bin", "the previous version")}),
         {"data\\b.bin failed its checksum in 3 series of retries: the release is damaged.",
          "Update stopped, download error."},
         "UNKNOWN_ERROR", "invalid", wxEVT_UPDATE_STOPPED, "/flaky/corrupt/1000/"},
        {"an archive answered with other bytes in every series", [] {},
         {"The update server answered 206 for " + faults.Url("/misrange/shift/a.zip") + " in 3 series of retries: giving up.",
          "Update stopped, the update server refused a file of the release."},
         "UNKNOWN_ERROR", "invalid", wxEVT_UPDATE_STOPPED, "/misrange/shift/"},
        {"an archive that the server does not have", [this] { wxRemoveFile(server.Root() + "/a.zip"); },
         {"The update server answered 404 for " + server.Url("/a.zip") + ": it does not have the release's file."},
         "UNKNOWN_ERROR", "invalid", wxEVT_UPDATE_STOPPED},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.arrange();
        const std::size_t heard = service.Events().size();
        LogCapture rowLog;
        {
            TelemetryClient telemetry(install.Path());
            telemetry.SetServiceUrl(service.Url());
            StartEngine(row.baseUrl == "/" ? server.Url("/") : faults.Url(row.baseUrl));
            engine->SetTelemetry(&telemetry);
            notifier.SetStopRequested(row.stopped);
            CheckAndUpdate();
            engine.reset();
        }
        for (const std::string& line : row.logged)
            EXPECT_TRUE(rowLog.HasText(line)) << line;
        const auto heardNow = service.Events();
        EXPECT_EQ(std::vector(heardNow.begin() + heard, heardNow.end()),
                  (std::vector<std::pair<std::string, std::string>>{{"updater_started", ""},
                                                                    {"updater_finished", row.result}}));
        EXPECT_EQ(install.Read("version.inf"), row.version);
        for (const wxEventType end :
             {wxEVT_UPDATE_FINISHED, wxEVT_UPDATE_STOPPED, wxEVT_NO_CHANGES_FOUND, wxEVT_DISABLE_PLAY})
            EXPECT_EQ(Posted(end), end == row.ends) << end;
        EXPECT_FALSE(wxFileExists(install.File("data/new.bin")) ||
                     wxFileExists(install.File("../escaped.bin")));
    }
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "data\\a.bin"), 1) << "updated, not doubled";
    EXPECT_EQ(install.Read("data/b.bin"), "the previous version") << "never replaced by a corrupt download";
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

// With the key, only the signed manifest says which release it is: one that
// is not the version line's release, or older than the installed one unless
// signed as a rollback, or without a SHA-256 per file, is refused before
// anything is written; a file whose bytes miss its SHA-256 is never installed.
TEST_F(UpdateEngineTest, TakesOnlyTheSignedVersionAndNoOlderOne)
{
    const TestSigningKey publisher;
    const auto update = [&](TestRelease release, const char* version) {
        release.Publish(server.Root(), version, "draft", &publisher);
        StartEngine(server.Url("/"));
        engine->SetReleaseKey(SignatureVerifier::FromBase64(publisher.PublicKey()));
        CheckAndUpdate();
    };
    TestRelease first, second, noSha256, badSha256;
    first.Add("game.bin", "version 1.0.0");
    second.Add("game.bin", "version 1.1.0");
    second.Add("new.bin", "new in 1.1.0");
    noSha256.Add("game.bin", "version 1.2.0");
    noSha256.ReplaceAttribute("sha256", "");
    badSha256.Add("game.bin", "version 1.2.0");
    badSha256.ReplaceAttribute("sha256", std::string(64, 'a'));
    TestRelease renamed = second;
    renamed.SetRootAttributes("version=\"1.1.0\"");
    update(second, "1.1.0");
    ExpectInstalled(second);

    const std::tuple<const char*, TestRelease, const char*, const char*> refused[] = {
        {"an older release", first, "1.0.0",
         "The update server offers a release older than the installed one. Please contact support."},
        {"a file without SHA-256", noSha256, "1.2.0", "The update data is not signed by the publisher."},
        {"the installed release's manifest as 9.9.9", renamed, "9.9.9",
         "The update data is not the one of the current release. Please contact support."},
    };
    for (const auto& [name, release, version, status] : refused) {
        SCOPED_TRACE(name);
        const auto before = Tree(install);
        update(release, version);
        EXPECT_EQ(events.Texts().back(), status);
        EXPECT_TRUE(Posted(wxEVT_DISABLE_PLAY) && engine->ReleaseRefused());
        EXPECT_TRUE(Tree(install) == before);
    }
    first.SetRootAttributes("version=\"1.0.0\" rollback=\"1\"");
    update(first, "1.0.0");
    ExpectInstalled(first);
    // The MD5 matches: only the SHA-256 tells.
    update(badSha256, "1.2.0");
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(install.Read("game.bin"), "version 1.0.0");
}

// Files read through a gap at the threshold, from a run beyond it and from
// another archive arrive whole, whether the server answers several ranges at
// once (nginx) or only with the whole archive (the fault server), or answers
// no range at all: one request for each archive, and no failed attempt.
TEST_F(UpdateEngineTest, InstallsRunsOfFilesWhateverTheServerMakesOfSeveralRanges)
{
    TestRelease release;
    release.Add("one.bin", "first file");
    release.Add("two.bin", std::string(5000, 'z'), true, "a.zip", GAP_THRESHOLD);
    release.Add("three.bin", Pattern(3, 7000), false, "a.zip", GAP_THRESHOLD + 1);
    release.Add("four.bin", "in another archive", false, "zips/b.zip");
    // Release tools differ in the letter case of their digests.
    release.UpperCaseDigests();
    release.Publish(server.Root(), "1");
    FaultServer faults(server.Root().ToStdString());
    for (const std::string& baseUrl :
         {server.Url("/"), faults.Url("/whole/"), faults.Url("/misrange/whole/")}) {
        SCOPED_TRACE(baseUrl);
        for (const char* name : {"version.inf", "one.bin", "two.bin", "three.bin", "four.bin"})
            wxRemoveFile(install.File(name));
        StartEngine(baseUrl);
        CheckAndUpdate();
        ExpectInstalled(release);
        EXPECT_FALSE(log.HasText("Got 1 error while downloading update. Retrying."));
    }
    EXPECT_EQ(server.Requests("GET /a.zip", 1), 1);
    EXPECT_EQ(faults.Requests("GET /whole/a.zip"), 1);
    EXPECT_EQ(faults.Requests("/misrange/whole/a.zip"), 1);
}

struct Fault {
    const char* name;
    const char* kind; // of the fault server's first `times` answers for the archive
    int times;
    bool compressed;
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
// bytes, or a member that inflates beyond its size like a deflate bomb. A
// stored file's corruption reaches the digest check alone.
TEST_P(FaultTest, RetriesUntilTheDownloadSucceedsOrTheReleaseProvesBroken)
{
    const Fault fault = GetParam();
    TestRelease release;
    release.Add("one.bin", Pattern(0, 200000), fault.compressed);
    release.AppendAttributes(fault.sizeAttribute);
    release.Add("two.bin", "second file");
    release.Publish(server.Root(), "1");
    install.Write("one.bin", "the previous version");
    FaultServer faults(server.Root().ToStdString());
    StartEngine(faults.Url("/flaky/" + std::string(fault.kind) + "/" + std::to_string(fault.times) + "/"));

    CheckAndUpdate();
    EXPECT_FALSE(wxFileExists(install.File("one.bin\\part")));
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
    // A dropped transfer is taken up where it broke, which costs no failed attempt.
    const bool retried = std::string(fault.kind) != "drop";
    EXPECT_EQ(log.Has(wxLOG_Error, "Got " + std::to_string(retried ? fault.times : 1) +
                                       " error while downloading update. Retrying."),
              retried);
    EXPECT_EQ(log.Has(wxLOG_Error, "Update stopped 10 times, download error. Retrying in 1 seconds."),
              fault.times >= 10);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(Fault{"corrupt_stored", "corrupt", 10, false, ""},
                                           Fault{"corrupt_always_deflated", "corrupt", 1000, true, ""},
                                           Fault{"drop", "drop", 2, true, ""},
                                           Fault{"beyond_size", "drop", 0, true, "size=\"1000\""}),
                         [](const auto& info) { return std::string(info.param.name); });

// A full disk stops the update at once: it keeps the file it was to replace
// and records what it installed before.
TEST_F(UpdateEngineTest, AFullDiskStopsTheUpdateAtOnceReplacingNothing)
{
    TestRelease release;
    release.Add("first.bin", "installed before the failure");
    release.Add("sub/big.bin", Pattern(0, 300000));
    release.Publish(server.Root(), "1");
    install.Write("sub/big.bin", "the previous version");
    const int lastError = RunWithDiskFullAfter(100000, [this] {
        CheckAndUpdate();
        const bool told =
            Posted(wxEVT_UPDATE_STOPPED) &&
            events.Texts().back() == "Error writing to files. Please check file permissions and try again.";
        return told ? engine->GetLastError() : -1;
    });
    EXPECT_EQ(lastError, ERROR_WRITE);
    EXPECT_EQ(server.Requests("GET /a.zip", 1), 1) << "no retry";
    EXPECT_EQ(install.Read("sub/big.bin"), "the previous version");
    EXPECT_FALSE(wxFileExists(install.File("sub/big.bin\\part")));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "first.bin"), 1);
}

// The engine stops its worker at once wherever it waits: on a request, in the
// version query's pause or in the download's pause between series of retries.
// Either check ends as stopped and leaves the installation as it was.
TEST_F(UpdateEngineTest, AStopEndsTheVersionQueryAtOnceAndTouchesNothing)
{
    const std::string manifest = "<manifest>\r\n</manifest>\r\n";
    FaultServer faults;
    const std::pair<std::string, std::string> cases[] = {
        {"http://127.0.0.1:1/", "Error reading remote version. Retrying in 1 seconds."},
        {faults.Url("/silent/"), "Reading remote version..."}};
    for (const auto& [url, waitingOn] : cases) {
        SCOPED_TRACE(url);
        install.Write("version.inf", "1");
        install.Write("manifest2.xml", manifest);
        StartEngine(url);
        engine->StartChecker();
        ASSERT_TRUE(WaitUntil([&] { return !events.Texts().empty() && events.Texts().back() == waitingOn; }));
        EXPECT_LT(StopAndWait(), std::chrono::milliseconds(500));
        EXPECT_TRUE(log.Has(wxLOG_Message, "Stopped local check."));
        EXPECT_EQ(install.Read("version.inf"), "1");
        EXPECT_EQ(install.Read("manifest2.xml"), manifest);
    }
}

TEST_F(UpdateEngineTest, AStopEndsTheRetryPauseAtOnce)
{
    TestRelease release;
    release.Add("one.bin", "first file");
    release.Publish(server.Root(), "1");
    // Other bytes than asked for: refused, and retried.
    FaultServer faults(server.Root().ToStdString());
    StartEngine(faults.Url("/misrange/shift/"));
    engine->Check();
    ASSERT_TRUE(Posted(wxEVT_START_UPDATE));
    engine->StartUpdater();
    const std::string pausing = "Error while downloading update... retrying in 2 seconds.";
    ASSERT_TRUE(WaitUntil([&] { return !events.Texts().empty() && events.Texts().back() == pausing; }));
    EXPECT_LT(StopAndWait(), std::chrono::milliseconds(500));
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
}

// A large file that comes slowly, in a run of its own asked for with the
// small file's: the half-written file never takes its place, so the next
// update fetches it again, and the stop is no download error.
TEST_F(UpdateEngineTest, AStopDuringALargeFileEndsTheUpdateAsStopped)
{
    TestRelease release;
    release.Add("small.bin", "installed before the stop");
    release.Add("large.bin", Pattern(0, 3 << 20), false, "a.zip", GAP_THRESHOLD + 1);
    release.Publish(server.Root(), "1");
    StartEngine(server.Url("/slow/"));
    engine->Check();
    ASSERT_TRUE(Posted(wxEVT_START_UPDATE));
    engine->StartUpdater();
    ASSERT_TRUE(WaitUntil([this] { return wxFileExists(install.File("large.bin\\part")); }));
    EXPECT_LT(StopAndWait(), std::chrono::milliseconds(1000));
    EXPECT_TRUE(Posted(wxEVT_UPDATE_STOPPED));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "small.bin"), 1);
    EXPECT_EQ(Count(install.Read("manifest2.xml"), "large.bin"), 0);
    EXPECT_FALSE(wxFileExists(install.File("large.bin")) || wxFileExists(install.File("large.bin\\part")));
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

    const auto start = Clock::now();
    CheckAndUpdate();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    ExpectInstalled(release);

    engine.reset();
    const auto exit = Clock::now();
    telemetry.reset();
    EXPECT_LT(Clock::now() - exit, std::chrono::seconds(4));
    wxLog::FlushActive();
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Dropped 2 telemetry events that were not sent before exit."));
}

// Only the first line counts, untrimmed; what cannot be read is "invalid".
TEST(VersionFile, KeepsItsFirstLineExactly)
{
    TempDir install;
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {" 1.2.3\r\nsecond line", " 1.2.3"}, {"2.0\n", "2.0"}, {"", ""}, {std::nullopt, "invalid"}};
    for (const auto& [content, version] : cases) {
        wxRemoveFile(install.File("version.inf"));
        if (content)
            install.Write("version.inf", *content);
        VersionFile file(install.Path());
        EXPECT_EQ(file.GetLocalVersion(), version);
        EXPECT_EQ(file.IsLocalVersionValid(), version != "invalid");
    }
}

} // namespace
