#include "download/RunHandover.h"

#include "common/Cancellation.h"

#include <chrono>
#include <cstring>

namespace {

// Bytes that may wait ahead of the reader in all, and in the run it reads.
constexpr std::size_t AHEAD_LIMIT = 4 << 20;
constexpr std::size_t READING_LIMIT = 1 << 20;
// Bounds how long a waiting thread takes to see a stop.
constexpr auto WAIT_SLICE = std::chrono::milliseconds(100);

} // namespace

RunHandover::RunHandover(std::size_t runs, const Cancellation& cancellation)
    : cancellation(cancellation), buffers(runs)
{
}

bool RunHandover::Add(std::size_t run, std::vector<char> bytes)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!HasRoom(run, false)) {
        ++connectionsWaiting;
        const bool freedUp = WaitFor(freed, lock, [&] { return HasRoom(run, true); });
        --connectionsWaiting;
        if (!freedUp) {
            return false;
        }
    }
    // A run that the reader has left behind is not kept.
    if (run < reading) {
        return true;
    }
    Buffer& buffer = buffers[run];
    buffer.state = State::Arriving;
    buffer.size += bytes.size();
    ahead += bytes.size();
    buffer.chunks.push_back(std::move(bytes));
    if (readerWaiting) {
        arrived.notify_one();
    }
    return true;
}

void RunHandover::Complete(std::size_t run)
{
    std::lock_guard<std::mutex> lock(mutex);
    SetState(run, run + 1, State::Complete);
}

void RunHandover::Fail(std::size_t first, std::size_t end,
                       const std::optional<ParallelDownload::RequestFailure>& why)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t run = first; run < end; ++run) {
        buffers[run].failure = why;
    }
    SetState(first, end, State::Failed);
}

// The run being read may fill a buffer of its own even when later runs have
// filled theirs, so that the reader always gets on.
bool RunHandover::HasRoom(std::size_t run, bool quarterFree) const
{
    return run == reading ? ReadingHasRoom(quarterFree) : run < reading || AheadHasRoom(quarterFree);
}

bool RunHandover::ReadingHasRoom(bool quarterFree) const
{
    return buffers[reading].size + (quarterFree ? READING_LIMIT / 4 : 0) < READING_LIMIT;
}

bool RunHandover::AheadHasRoom(bool quarterFree) const
{
    return ahead + (quarterFree ? AHEAD_LIMIT / 4 : 0) < AHEAD_LIMIT;
}

void RunHandover::SetState(std::size_t first, std::size_t end, State state)
{
    for (std::size_t run = first; run < end; ++run) {
        buffers[run].state = state;
    }
    arrived.notify_all();
}

bool RunHandover::Open(std::size_t run)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (; reading < run; ++reading) {
        ahead -= buffers[reading].size;
        buffers[reading] = Buffer();
    }
    freed.notify_all();
    Buffer& buffer = buffers[run];
    readerWaiting = true;
    const bool answered = WaitFor(arrived, lock, [&] { return buffer.state != State::Waiting; });
    readerWaiting = false;
    return answered && (buffer.state != State::Failed || buffer.size > 0);
}

std::size_t RunHandover::Read(std::size_t run, char* out, std::size_t size, wxStreamError& error)
{
    std::unique_lock<std::mutex> lock(mutex);
    Buffer& buffer = buffers[run];
    readerWaiting = true;
    const bool ready = WaitFor(arrived, lock, [&] {
        return buffer.size > 0 || buffer.state == State::Complete || buffer.state == State::Failed;
    });
    readerWaiting = false;
    if (!ready || buffer.size == 0) {
        error = ready && buffer.state == State::Complete ? wxSTREAM_EOF : wxSTREAM_READ_ERROR;
        return 0;
    }
    std::size_t copied = 0;
    while (copied < size && !buffer.chunks.empty()) {
        std::vector<char>& chunk = buffer.chunks.front();
        const std::size_t count = std::min(size - copied, chunk.size() - buffer.readOffset);
        std::memcpy(out + copied, chunk.data() + buffer.readOffset, count);
        copied += count;
        buffer.readOffset += count;
        if (buffer.readOffset == chunk.size()) {
            buffer.chunks.pop_front();
            buffer.readOffset = 0;
        }
    }
    const bool readingWasFull = !ReadingHasRoom(true);
    const bool aheadWasFull = !AheadHasRoom(true);
    buffer.size -= copied;
    ahead -= copied;
    if (connectionsWaiting > 0 &&
        ((readingWasFull && ReadingHasRoom(true)) || (aheadWasFull && AheadHasRoom(true)))) {
        freed.notify_all();
    }
    return copied;
}

std::optional<ParallelDownload::RequestFailure> RunHandover::Failure(std::size_t run)
{
    std::lock_guard<std::mutex> lock(mutex);
    return buffers[run].failure;
}

void RunHandover::WakeAll()
{
    std::lock_guard<std::mutex> lock(mutex);
    arrived.notify_all();
    freed.notify_all();
}

// False when the work is cancelled first: a stop of the update or the end
// of the download.
template <typename Predicate>
bool RunHandover::WaitFor(std::condition_variable& signal, std::unique_lock<std::mutex>& lock,
                          Predicate ready)
{
    while (!ready()) {
        if (cancellation.IsRequested()) {
            return false;
        }
        signal.wait_for(lock, WAIT_SLICE);
    }
    return true;
}
