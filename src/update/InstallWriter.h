#pragma once

#include "common/MD5.h"
#include "common/SHA256.h"
#include "common/WorkerThread.h"
#include "platform/AtomicFileWriter.h"
#include "platform/FileStatus.h"

#include <wx/string.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class ManifestFileInfo;

// Installs the files of a download behind the thread that reads them: one
// thread hashes each file's bytes while another writes them to a temporary
// file beside it, which replaces the file only when the digest matches the
// record's checksum (letter case aside), and its SHA-256 when the record gives one. Reading and inflating,
// hashing and writing thus run side by side, and every byte passes the digest once, with no second read of
// the file.
//
// One producer thread feeds it, one file at a time: Begin, then NextBlock and
// Push as often as needed, then End (or Drop when the input failed). After a
// failure the writer drops every later file, so the producer should stop.
class InstallWriter {
public:
    enum class Result {
        Installed,
        Corrupt,     // the bytes do not match the checksum
        WriteFailed, // a directory, the file or its replacement could not be written
        Dropped,     // the producer gave it up, or an earlier file failed
    };
    struct Outcome {
        const ManifestFileInfo* record;
        Result result;
        wxString digest;
        platform::FileStatus status; // of the installed file
    };

    InstallWriter();
    // Finishes the files already queued.
    ~InstallWriter();
    InstallWriter(const InstallWriter&) = delete;
    InstallWriter& operator=(const InstallWriter&) = delete;

    // Starts the file of record at path, with the permission bits of mode.
    void Begin(const ManifestFileInfo& record, const wxString& path, int mode);
    // Room for the next bytes of the file; waits while every block is in use.
    char* NextBlock();
    static constexpr std::size_t BLOCK_SIZE = 64 * 1024;
    // Queues the first count bytes of the block that NextBlock gave.
    void Push(std::size_t count);
    void End();
    void Drop();

    // True once a file has failed.
    bool HasFailed() const;
    // The outcomes of the files ended or dropped so far, in their order; with
    // wait, once every queued file is done.
    std::vector<Outcome> TakeOutcomes(bool wait);

private:
    // The threads get copies of the texts they use: the producer reads the record
    // meanwhile, and converting a shared string is not thread-safe.
    struct Command {
        enum Kind { Begin, Data, End, Drop, Quit };
        Kind kind = Quit;
        const ManifestFileInfo* record = nullptr;
        wxString name;
        wxString checksum;
        wxString sha256;
        wxString path;
        int mode = 0;
        std::size_t block = 0;
        std::size_t count = 0;
        // Set by the hashing thread at the end of a file.
        bool intact = false;
        wxString digest;
    };
    // A thread that takes commands in their order.
    struct Stage {
        explicit Stage(void (InstallWriter::*handle)(Command&)) : handle(handle) {}

        void (InstallWriter::*handle)(Command&);
        std::deque<Command> commands;
        std::condition_variable wake;
        std::unique_ptr<WorkerThread> thread;
    };
    // What the hashing thread knows of the current file.
    struct Digest {
        MD5 md5;
        // Only for a record that gives a SHA-256: a release of older tools costs no more.
        std::optional<SHA256> sha256;
        wxString name;
        wxString checksum;
        wxString expectedSha256;
        wxString path;
    };
    // What the writing thread knows of the current file.
    struct Output {
        Output(const ManifestFileInfo* record, const wxString& name, const wxString& path, int mode)
            : record(record), name(name), mode(mode), file(path)
        {
        }

        const ManifestFileInfo* record;
        wxString name;
        int mode;
        platform::AtomicFileWriter file;
        std::uint64_t written = 0;
        Result result = Result::Installed; // until something fails
    };

    void Start(Stage& stage);
    void Queue(Stage& stage, Command command);
    void Run(Stage& stage);
    void Hash(Command& command);
    void Write(Command& command);
    void Open(const Command& command);
    void WriteBlock(const Command& command);
    void Finish(const Command& command);
    bool MakeDirectory(const wxString& path);
    void Report(Result result, const wxString& digest = wxString(), const platform::FileStatus& status = {});
    void MarkFailed();

    std::vector<std::unique_ptr<char[]>> blocks;
    mutable std::mutex mutex;           // guards the stages' commands and everything below it
    std::condition_variable blockFreed; // the producer waits on these two
    std::condition_variable filesDone;
    std::vector<std::size_t> freeBlocks;
    std::vector<Outcome> outcomes;
    std::size_t pendingFiles = 0; // begun but without an outcome yet
    bool failed = false;

    std::optional<std::size_t> fillingBlock; // the producer's, between NextBlock and Push
    std::optional<Digest> digest;            // the hashing thread's
    std::optional<Output> output;            // the writing thread's
    wxString lastDirectory;                  // the writing thread's

    Stage hashing{&InstallWriter::Hash};
    Stage writing{&InstallWriter::Write};
};
