#pragma once

#include "common/WorkerThread.h"
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

// Installs the files of a download on a thread of its own: each file's bytes
// are hashed as they are written to a temporary file beside it, which replaces
// the file only when the digest matches the record's checksum (letter case
// aside). Reading and inflating the next bytes thus overlaps hashing and
// writing these, and every byte passes the digest once, with no second read.
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
    static constexpr std::size_t BLOCK_SIZE = 256 * 1024;
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
    struct Command;
    struct File;

    void Queue(Command command);
    void Run();
    void Process(const Command& command);
    void Open(const Command& command);
    void Write(const Command& command);
    void Finish(bool complete);
    bool MakeDirectory(const wxString& path);
    void Report(Result result, const wxString& digest = wxString(), const platform::FileStatus& status = {});

    std::vector<std::unique_ptr<char[]>> blocks;
    mutable std::mutex mutex;
    std::condition_variable consumerWake;
    std::condition_variable producerWake;
    std::deque<Command> commands;
    std::vector<std::size_t> freeBlocks;
    std::vector<Outcome> outcomes;
    std::size_t pendingFiles = 0;            // begun but without an outcome yet
    std::optional<std::size_t> fillingBlock; // the producer's, between NextBlock and Push
    bool failed = false;
    bool quitting = false;

    // The consumer's own state.
    std::unique_ptr<File> file;
    wxString lastDirectory;

    WorkerThread worker;
    bool threaded = false;
};
