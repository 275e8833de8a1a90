#include "update/InstallWriter.h"

#include "update/ManifestFileInfo.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <chrono>
#include <utility>

namespace {

// Enough blocks in flight that no thread waits for another on a steady
// stream, or for many small files, few enough to keep the memory small.
constexpr std::size_t BLOCK_COUNT = 32;
// Waking a thread costs more than hashing or writing a small file: the
// producer wakes the threads for a full block or a batch of commands, and
// they look for work on their own this often meanwhile.
constexpr std::size_t WAKE_BATCH = 16;
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);
// A producer that ran out of blocks waits until this many are free again:
// woken for every single one, it would trade places with the writing thread
// for each small file.
constexpr std::size_t REFILL_COUNT = BLOCK_COUNT / 4;

} // namespace

InstallWriter::InstallWriter()
{
    for (std::size_t index = 0; index < BLOCK_COUNT; ++index) {
        blocks.push_back(std::make_unique<char[]>(BLOCK_SIZE));
        freeBlocks.push_back(index);
    }
    Start(writing);
    Start(hashing);
}

InstallWriter::~InstallWriter()
{
    // The quit passes both threads after every file queued before it.
    Queue(hashing, Command{});
    if (hashing.thread)
        hashing.thread->Join();
    if (writing.thread)
        writing.thread->Join();
}

// A stage whose thread cannot start does its work in the thread that queues to it.
void InstallWriter::Start(Stage& stage)
{
    stage.thread = std::make_unique<WorkerThread>([this, &stage] { Run(stage); });
    if (!stage.thread->Start())
        stage.thread.reset();
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
    command.sha256 = record.sha256;
    command.path = path;
    command.mode = mode;
    Queue(hashing, std::move(command));
}

// A block taken and not pushed is given again by the next call.
char* InstallWriter::NextBlock()
{
    if (!fillingBlock) {
        std::unique_lock lock(mutex);
        if (freeBlocks.empty()) {
            hashing.wake.notify_one();
            blockFreed.wait(lock, [this] { return freeBlocks.size() >= REFILL_COUNT; });
        }
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
    Queue(hashing, std::move(command));
}

void InstallWriter::End()
{
    Command command;
    command.kind = Command::End;
    Queue(hashing, std::move(command));
}

void InstallWriter::Drop()
{
    Command command;
    command.kind = Command::Drop;
    Queue(hashing, std::move(command));
}

bool InstallWriter::HasFailed() const
{
    std::lock_guard lock(mutex);
    return failed;
}

std::vector<InstallWriter::Outcome> InstallWriter::TakeOutcomes(bool wait)
{
    std::unique_lock lock(mutex);
    if (wait && pendingFiles > 0) {
        hashing.wake.notify_one();
        filesDone.wait(lock, [this] { return pendingFiles == 0; });
    }
    return std::exchange(outcomes, {});
}

void InstallWriter::Queue(Stage& stage, Command command)
{
    if (!stage.thread) {
        (this->*stage.handle)(command);
        return;
    }
    const bool wake = command.kind == Command::Quit || command.count == BLOCK_SIZE;
    std::size_t queued = 0;
    {
        std::lock_guard lock(mutex);
        stage.commands.push_back(std::move(command));
        queued = stage.commands.size();
    }
    if (wake || queued >= WAKE_BATCH)
        stage.wake.notify_one();
}

// Takes every command queued at once: a thread that wakes for each one of
// many small files spends more on waking than on the files.
void InstallWriter::Run(Stage& stage)
{
    std::deque<Command> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            while (stage.commands.empty())
                stage.wake.wait_for(lock, POLL_INTERVAL);
            batch.swap(stage.commands);
        }
        bool quit = false;
        for (Command& command : batch) {
            quit = command.kind == Command::Quit;
            (this->*stage.handle)(command);
        }
        // What this stage passed on is worth a look by the next one.
        if (&stage == &hashing)
            writing.wake.notify_one();
        if (quit)
            return;
        batch.clear();
    }
}

// Digests each file and tells the writing thread whether it matches its checksum.
void InstallWriter::Hash(Command& command)
{
    switch (command.kind) {
    case Command::Begin:
        digest.emplace();
        digest->name = command.name;
        digest->checksum = command.checksum;
        digest->expectedSha256 = command.sha256;
        if (!command.sha256.empty())
            digest->sha256.emplace();
        digest->path = command.path;
        break;
    case Command::Data:
        digest->md5.Update(blocks[command.block].get(), command.count);
        if (digest->sha256)
            digest->sha256->Update(blocks[command.block].get(), command.count);
        break;
    case Command::End: {
        unsigned char bytes[16];
        digest->md5.Finalize(bytes);
        command.digest = ToHexString(bytes, sizeof bytes);
        command.intact =
            command.digest.IsSameAs(digest->checksum, false) &&
            (!digest->sha256 || digest->sha256->Finalize().IsSameAs(digest->expectedSha256, false));
        if (!command.intact) {
            wxLogError("Corrupted download of %s", digest->name);
            wxLogError("Corrupted download of %s", digest->path);
        }
        break;
    }
    case Command::Drop:
    case Command::Quit:
        break;
    }
    Queue(writing, std::move(command));
}

void InstallWriter::Write(Command& command)
{
    switch (command.kind) {
    case Command::Begin:
        Open(command);
        break;
    case Command::Data:
        WriteBlock(command);
        break;
    case Command::End:
    case Command::Drop:
        Finish(command);
        break;
    case Command::Quit:
        break;
    }
}

void InstallWriter::Open(const Command& command)
{
    output.emplace(command.record, command.name, command.path, command.mode);
    wxLogVerbose("Writing %s", output->name);
    if (HasFailed()) {
        output->result = Result::Dropped;
    } else if (!MakeDirectory(command.path)) {
        output->result = Result::WriteFailed;
    } else if (!output->file.Open()) {
        wxLogError("Could not write to file %s", output->name);
        output->result = Result::WriteFailed;
    }
}

void InstallWriter::WriteBlock(const Command& command)
{
    if (output->result == Result::Installed) {
        output->written += command.count;
        if (!output->file.Write(blocks[command.block].get(), command.count)) {
            wxLogError("Could not write to file %s", output->name);
            output->result = Result::WriteFailed;
            output->file.Discard();
            // The producer may stop at once rather than at the end of the file.
            MarkFailed();
        }
    }
    std::size_t freeCount = 0;
    {
        std::lock_guard lock(mutex);
        freeBlocks.push_back(command.block);
        freeCount = freeBlocks.size();
    }
    if (freeCount == REFILL_COUNT)
        blockFreed.notify_one();
}

void InstallWriter::Finish(const Command& command)
{
    if (output->result == Result::Installed && command.kind == Command::Drop)
        output->result = Result::Dropped;
    else if (output->result == Result::Installed && !command.intact)
        output->result = Result::Corrupt;
    if (output->result != Result::Installed) {
        output->file.Discard();
        Report(output->result);
        return;
    }
    wxLogVerbose("Wrote %llu bytes.", static_cast<unsigned long long>(output->written));
    platform::FileStatus status;
    if (!output->file.Commit(output->mode, status)) {
        wxLogError("Could not write to file %s", output->name);
        Report(Result::WriteFailed);
        return;
    }
    Report(Result::Installed, command.digest, status);
}

// Files of one directory follow each other in a release: it is made once.
bool InstallWriter::MakeDirectory(const wxString& path)
{
    const wxString directory = wxFileName(path).GetPath(wxPATH_GET_VOLUME);
    if (directory == lastDirectory)
        return true;
    // Like the files, writable by the player alone (less what the umask takes).
    if (!wxFileName::Mkdir(directory, 0755, wxPATH_MKDIR_FULL)) {
        wxLogError("Could not create directory %s", directory);
        return false;
    }
    lastDirectory = directory;
    return true;
}

void InstallWriter::Report(Result result, const wxString& digest, const platform::FileStatus& status)
{
    bool done = false;
    {
        std::lock_guard lock(mutex);
        outcomes.push_back({output->record, result, digest, status});
        done = --pendingFiles == 0;
        if (result == Result::Corrupt || result == Result::WriteFailed)
            failed = true;
    }
    if (done)
        filesDone.notify_one();
    output.reset();
}

void InstallWriter::MarkFailed()
{
    std::lock_guard lock(mutex);
    failed = true;
}
