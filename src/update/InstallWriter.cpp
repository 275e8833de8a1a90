#include "update/InstallWriter.h"

#include "common/MD5.h"
#include "platform/AtomicFileWriter.h"
#include "update/ManifestFileInfo.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <utility>

namespace {

// Enough blocks in flight that neither thread waits for the other on a
// steady stream, few enough to keep the memory small.
constexpr std::size_t BLOCK_COUNT = 8;

} // namespace

// The consumer gets copies of the record's texts: the producer reads the
// record meanwhile, and converting a shared string is not thread-safe.
struct InstallWriter::Command {
    enum Kind { Begin, Data, End, Drop, Quit };
    Kind kind = Quit;
    const ManifestFileInfo* record = nullptr;
    wxString name;
    wxString checksum;
    wxString path;
    int mode = 0;
    std::size_t block = 0;
    std::size_t count = 0;
};

struct InstallWriter::File {
    explicit File(const Command& begin)
        : record(begin.record), name(begin.name), checksum(begin.checksum), path(begin.path),
          mode(begin.mode), writer(begin.path)
    {
    }

    const ManifestFileInfo* record;
    wxString name;
    wxString checksum;
    wxString path;
    int mode;
    platform::AtomicFileWriter writer;
    MD5 md5;
    std::uint64_t written = 0;
    Result result = Result::Installed; // until something fails
};

InstallWriter::InstallWriter() : worker([this] { Run(); })
{
    for (std::size_t index = 0; index < BLOCK_COUNT; ++index) {
        blocks.push_back(std::make_unique<char[]>(BLOCK_SIZE));
        freeBlocks.push_back(index);
    }
    // Without a thread of its own the writer still works, in the producer's.
    threaded = worker.Start();
}

InstallWriter::~InstallWriter()
{
    Queue(Command{});
    worker.Join();
}

void InstallWriter::Begin(const ManifestFileInfo& record, const wxString& path, int mode)
{
    {
        std::lock_guard lock(mutex);
        ++pendingFiles;
    }
    Command command;
    command.kind = Command::Begin;
    command.record = &record;
    command.name = record.name;
    command.checksum = record.checksum;
    command.path = path;
    command.mode = mode;
    Queue(std::move(command));
}

// A block taken and not pushed is given again by the next call.
char* InstallWriter::NextBlock()
{
    if (!fillingBlock) {
        std::unique_lock lock(mutex);
        producerWake.wait(lock, [this] { return !freeBlocks.empty(); });
        fillingBlock = freeBlocks.back();
        freeBlocks.pop_back();
    }
    return blocks[*fillingBlock].get();
}

void InstallWriter::Push(std::size_t count)
{
    Command command;
    command.kind = Command::Data;
    command.block = *fillingBlock;
    command.count = count;
    fillingBlock.reset();
    Queue(std::move(command));
}

void InstallWriter::End()
{
    Command command;
    command.kind = Command::End;
    Queue(std::move(command));
}

void InstallWriter::Drop()
{
    Command command;
    command.kind = Command::Drop;
    Queue(std::move(command));
}

bool InstallWriter::HasFailed() const
{
    std::lock_guard lock(mutex);
    return failed;
}

std::vector<InstallWriter::Outcome> InstallWriter::TakeOutcomes(bool wait)
{
    std::unique_lock lock(mutex);
    if (wait)
        producerWake.wait(lock, [this] { return pendingFiles == 0; });
    return std::exchange(outcomes, {});
}

void InstallWriter::Queue(Command command)
{
    if (!threaded) {
        if (command.kind != Command::Quit)
            Process(command);
        return;
    }
    {
        std::lock_guard lock(mutex);
        commands.push_back(std::move(command));
    }
    consumerWake.notify_one();
}

// Commands are taken in order, so the files queued before the quit are finished.
void InstallWriter::Run()
{
    for (;;) {
        Command command;
        {
            std::unique_lock lock(mutex);
            consumerWake.wait(lock, [this] { return !commands.empty(); });
            command = std::move(commands.front());
            commands.pop_front();
        }
        if (command.kind == Command::Quit)
            return;
        Process(command);
    }
}

void InstallWriter::Process(const Command& command)
{
    switch (command.kind) {
    case Command::Begin:
        Open(command);
        break;
    case Command::Data:
        Write(command);
        break;
    case Command::End:
        Finish(true);
        break;
    case Command::Drop:
        Finish(false);
        break;
    case Command::Quit:
        break;
    }
}

void InstallWriter::Open(const Command& command)
{
    file = std::make_unique<File>(command);
    wxLogVerbose("Writing %s", file->name);
    if (HasFailed()) {
        file->result = Result::Dropped;
    } else if (!MakeDirectory(file->path)) {
        file->result = Result::WriteFailed;
    } else if (!file->writer.Open()) {
        wxLogError("Could not write to file %s", file->name);
        file->result = Result::WriteFailed;
    }
}

void InstallWriter::Write(const Command& command)
{
    const char* bytes = blocks[command.block].get();
    if (file->result == Result::Installed) {
        file->md5.Update(bytes, command.count);
        file->written += command.count;
        if (!file->writer.Write(bytes, command.count)) {
            wxLogError("Could not write to file %s", file->name);
            file->result = Result::WriteFailed;
            file->writer.Discard();
            // The producer may stop at once rather than at the end of the file.
            std::lock_guard lock(mutex);
            failed = true;
        }
    }
    {
        std::lock_guard lock(mutex);
        freeBlocks.push_back(command.block);
    }
    producerWake.notify_one();
}

void InstallWriter::Finish(bool complete)
{
    if (!complete && file->result == Result::Installed)
        file->result = Result::Dropped;
    if (file->result != Result::Installed) {
        file->writer.Discard();
        Report(file->result);
        return;
    }
    wxLogVerbose("Wrote %llu bytes.", static_cast<unsigned long long>(file->written));
    unsigned char bytes[16];
    file->md5.Finalize(bytes);
    const wxString digest = ToHexString(bytes, sizeof bytes);
    if (!digest.IsSameAs(file->checksum, false)) {
        wxLogError("Corrupted download of %s", file->name);
        wxLogError("Corrupted download of %s", file->path);
        file->writer.Discard();
        Report(Result::Corrupt);
        return;
    }
    platform::FileStatus status;
    if (!file->writer.Commit(file->mode, status)) {
        wxLogError("Could not write to file %s", file->name);
        Report(Result::WriteFailed);
        return;
    }
    Report(Result::Installed, digest, status);
}

// Files of one directory follow each other in a release: it is made once.
bool InstallWriter::MakeDirectory(const wxString& path)
{
    const wxString directory = wxFileName(path).GetPath(wxPATH_GET_VOLUME);
    if (directory == lastDirectory)
        return true;
    if (!wxFileName::Mkdir(directory, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL)) {
        wxLogError("Could not create directory %s", directory);
        return false;
    }
    lastDirectory = directory;
    return true;
}

void InstallWriter::Report(Result result, const wxString& digest, const platform::FileStatus& status)
{
    {
        std::lock_guard lock(mutex);
        outcomes.push_back({file->record, result, digest, status});
        --pendingFiles;
        if (result == Result::Corrupt || result == Result::WriteFailed)
            failed = true;
    }
    producerWake.notify_one();
    file.reset();
}
