#include "download/ParallelDownload.h"

#include "common/Cancellation.h"
#include "common/WorkerThread.h"
#include "download/CurlInputStream.h"
#include "download/HttpSession.h"
#include "download/MultipartReader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

constexpr std::size_t CHUNK = 64 * 1024;
// Bytes that may wait ahead of the reader in all, and in the run it reads.
constexpr std::size_t AHEAD_LIMIT = 4 << 20;
constexpr std::size_t READING_LIMIT = 1 << 20;
// One request's share: enough ranges to spare many round trips, few enough
// bytes that the other connections get work too.
constexpr std::size_t MAX_RANGES_PER_REQUEST = 64;
constexpr std::uint64_t MAX_BYTES_PER_REQUEST = 16 << 20;
// Bounds how long a waiting thread takes to see a stop.
constexpr auto WAIT_SLICE = std::chrono::milliseconds(100);

enum class RunState { Waiting, Arriving, Complete, Failed };

struct RunBuffer {
    RunState state = RunState::Waiting;
    std::deque<std::vector<char>> chunks;
    std::size_t readOffset = 0; // into the first chunk
    std::size_t size = 0;
};

} // namespace

class ParallelDownload::Shared {
public:
    Shared(std::vector<Run> runs, const Cancellation* stop, std::atomic<bool>& multiRange)
        : runs(std::move(runs)), buffers(this->runs.size()), cancellation(stop), multiRange(multiRange)
    {
    }

    std::size_t RunCount() const { return runs.size(); }
    // The job of one connection: requests until no run is left.
    void Fetch();
    // Moves the reader on to run and waits for its answer; false when its
    // request failed or was stopped.
    bool Open(std::size_t run);
    std::size_t Read(std::size_t run, char* out, std::size_t size, wxStreamError& error);
    void Cancel();

private:
    // The runs that the next request asks for: [first, first + count).
    std::pair<std::size_t, std::size_t> TakeRequest();
    bool Together(std::size_t earlier, std::size_t later, std::uint64_t bytesSoFar) const;
    // Asks for the runs [first, first + count) in one request; returns how
    // many of them it has dealt with, the rest to be asked for one by one.
    std::size_t FetchTogether(HttpSession& session, std::size_t first, std::size_t count);
    void FetchSeparately(HttpSession& session, std::size_t first, std::size_t count);
    bool FetchOne(HttpSession& session, std::size_t run);
    bool Deliver(std::size_t run, wxInputStream& source);
    static void ReadToEnd(wxInputStream& body);
    // Whether run may take more bytes, or with quarterFree a quarter of its
    // limit more.
    bool HasRoom(std::size_t run, bool quarterFree) const;
    bool ReadingHasRoom(bool quarterFree) const;
    bool AheadHasRoom(bool quarterFree) const;
    void SetState(std::size_t first, std::size_t count, RunState state);
    template <typename Predicate>
    bool WaitFor(std::condition_variable& signal, std::unique_lock<std::mutex>& lock, Predicate ready);

    const std::vector<Run> runs;
    std::vector<RunBuffer> buffers;
    Cancellation cancellation;
    std::atomic<bool>& multiRange;
    std::mutex mutex;
    // The reader waits for arrived, connections for freed; each side wakes
    // the other only when it waits, and a full buffer waits for a quarter to
    // be free, so that the two do not wake each other for every block.
    std::condition_variable arrived;
    std::condition_variable freed;
    bool readerWaiting = false;
    int connectionsWaiting = 0;
    std::size_t nextToFetch = 0;
    std::size_t reading = 0; // the run the reader is on, or is about to open
    std::size_t ahead = 0;   // bytes in all buffers
};

class ParallelDownload::RunStream : public wxInputStream {
public:
    RunStream(Shared& shared, std::size_t run) : shared(shared), run(run) {}

protected:
    size_t OnSysRead(void* buffer, size_t size) override
    {
        return shared.Read(run, static_cast<char*>(buffer), size, m_lasterror);
    }

private:
    Shared& shared;
    const std::size_t run;
};

void ParallelDownload::Shared::Fetch()
{
    HttpSession session;
    for (auto [first, count] = TakeRequest(); count > 0; std::tie(first, count) = TakeRequest()) {
        const std::size_t taken = count > 1 ? FetchTogether(session, first, count) : 0;
        FetchSeparately(session, first + taken, count - taken);
    }
}

std::pair<std::size_t, std::size_t> ParallelDownload::Shared::TakeRequest()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (cancellation.IsRequested() || nextToFetch == runs.size()) {
        return {0, 0};
    }
    const std::size_t first = nextToFetch;
    const std::size_t limit = multiRange ? MAX_RANGES_PER_REQUEST : 1;
    std::uint64_t bytes = runs[first].bytes.Length();
    std::size_t count = 1;
    while (first + count < runs.size() && count < limit &&
           Together(first + count - 1, first + count, bytes)) {
        bytes += runs[first + count].bytes.Length();
        ++count;
    }
    nextToFetch += count;
    return {first, count};
}

// Ranges of one request must belong to one resource and come in order,
// without overlapping, or the server would merge or refuse them.
bool ParallelDownload::Shared::Together(std::size_t earlier, std::size_t later,
                                        std::uint64_t bytesSoFar) const
{
    const Run& a = runs[earlier];
    const Run& b = runs[later];
    return a.origin == b.origin && a.target == b.target && a.bytes.Length() > 0 && b.bytes.Length() > 0 &&
           b.bytes.first > a.bytes.last && bytesSoFar + b.bytes.Length() <= MAX_BYTES_PER_REQUEST;
}

std::size_t ParallelDownload::Shared::FetchTogether(HttpSession& session, std::size_t first,
                                                    std::size_t count)
{
    std::vector<ByteRange> ranges;
    for (std::size_t run = first; run < first + count; ++run) {
        ranges.push_back(runs[run].bytes);
    }
    CurlInputStream body(runs[first].origin, runs[first].target, RangeList(ranges), &cancellation, &session);
    if (body.Open() != wxPROTO_NOERR) {
        SetState(first, count, RunState::Failed);
        return count;
    }
    const std::string boundary =
        body.GetStatus() == 206 ? MultipartReader::Boundary(body.GetContentType()) : "";
    MultipartReader reader(body, boundary, ranges);
    if (boundary.empty() || !reader.NextPart()) {
        if (body.GetLastError() == wxSTREAM_READ_ERROR) {
            SetState(first, count, RunState::Failed);
            return count;
        }
        // Whole bodies, single ranges, error statuses, parts other than those
        // asked for: this server is asked for one range at a time from now on.
        multiRange = false;
        return 0;
    }
    for (std::size_t run = first; run < first + count; ++run) {
        if (!Deliver(run, reader.Part())) {
            SetState(run, first + count - run, RunState::Failed);
            return count;
        }
        // A part is whole only once what follows it, the next part or the
        // closing delimiter, shows that it ended where its header said.
        if (!reader.NextPart() && reader.Failed()) {
            // Cleared first, so that whoever sees the run fail sees it cleared too.
            if (body.GetLastError() != wxSTREAM_READ_ERROR) {
                multiRange = false;
            }
            SetState(run, first + count - run, RunState::Failed);
            return count;
        }
        SetState(run, 1, RunState::Complete);
    }
    ReadToEnd(body);
    return count;
}

void ParallelDownload::Shared::FetchSeparately(HttpSession& session, std::size_t first, std::size_t count)
{
    for (std::size_t run = first; run < first + count; ++run) {
        if (!FetchOne(session, run)) {
            SetState(run, first + count - run, RunState::Failed);
            return;
        }
    }
}

bool ParallelDownload::Shared::FetchOne(HttpSession& session, std::size_t run)
{
    const ByteRange bytes = runs[run].bytes;
    if (bytes.Length() == 0) {
        SetState(run, 1, RunState::Complete);
        return true;
    }
    CurlInputStream body(runs[run].origin, runs[run].target, RangeList({bytes}), &cancellation, &session);
    // A server or proxy that ignores or shifts the range would feed the wrong bytes to the reader.
    if (body.Open() != wxPROTO_NOERR || body.GetStatus() != 206 || body.GetContentRange() != bytes ||
        !Deliver(run, body)) {
        return false;
    }
    SetState(run, 1, RunState::Complete);
    ReadToEnd(body);
    return true;
}

// A transfer read to its end leaves its connection to the session's next
// request; one taken off earlier closes it.
void ParallelDownload::Shared::ReadToEnd(wxInputStream& body)
{
    char byte = 0;
    body.Read(&byte, 1);
}

// Passes exactly the run's bytes from source on to the reader, waiting while
// the buffer is full; the caller tells the reader when they are whole.
bool ParallelDownload::Shared::Deliver(std::size_t run, wxInputStream& source)
{
    SetState(run, 1, RunState::Arriving);
    for (std::uint64_t left = runs[run].bytes.Length(); left > 0;) {
        std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK, left)));
        const std::size_t count = source.Read(chunk.data(), chunk.size()).LastRead();
        if (count == 0) {
            return false;
        }
        chunk.resize(count);
        left -= count;
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
        if (run >= reading) {
            buffers[run].chunks.push_back(std::move(chunk));
            buffers[run].size += count;
            ahead += count;
            if (readerWaiting) {
                arrived.notify_one();
            }
        }
    }
    return true;
}

// The run being read may fill a buffer of its own even when later runs have
// filled theirs, so that the reader always gets on.
bool ParallelDownload::Shared::HasRoom(std::size_t run, bool quarterFree) const
{
    return run == reading ? ReadingHasRoom(quarterFree) : run < reading || AheadHasRoom(quarterFree);
}

bool ParallelDownload::Shared::ReadingHasRoom(bool quarterFree) const
{
    return buffers[reading].size + (quarterFree ? READING_LIMIT / 4 : 0) < READING_LIMIT;
}

bool ParallelDownload::Shared::AheadHasRoom(bool quarterFree) const
{
    return ahead + (quarterFree ? AHEAD_LIMIT / 4 : 0) < AHEAD_LIMIT;
}

void ParallelDownload::Shared::SetState(std::size_t first, std::size_t count, RunState state)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t run = first; run < first + count; ++run) {
        buffers[run].state = state;
    }
    arrived.notify_all();
}

bool ParallelDownload::Shared::Open(std::size_t run)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (; reading < run; ++reading) {
        ahead -= buffers[reading].size;
        buffers[reading] = RunBuffer();
    }
    freed.notify_all();
    RunBuffer& buffer = buffers[run];
    readerWaiting = true;
    const bool answered = WaitFor(arrived, lock, [&] { return buffer.state != RunState::Waiting; });
    readerWaiting = false;
    return answered && (buffer.state != RunState::Failed || buffer.size > 0);
}

std::size_t ParallelDownload::Shared::Read(std::size_t run, char* out, std::size_t size, wxStreamError& error)
{
    std::unique_lock<std::mutex> lock(mutex);
    RunBuffer& buffer = buffers[run];
    readerWaiting = true;
    const bool ready = WaitFor(arrived, lock, [&] {
        return buffer.size > 0 || buffer.state == RunState::Complete || buffer.state == RunState::Failed;
    });
    readerWaiting = false;
    if (!ready || buffer.size == 0) {
        error = ready && buffer.state == RunState::Complete ? wxSTREAM_EOF : wxSTREAM_READ_ERROR;
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

void ParallelDownload::Shared::Cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    cancellation.Request();
    arrived.notify_all();
    freed.notify_all();
}

// False when the work is cancelled first: a stop of the update or the end
// of the download.
template <typename Predicate>
bool ParallelDownload::Shared::WaitFor(std::condition_variable& signal, std::unique_lock<std::mutex>& lock,
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

ParallelDownload::ParallelDownload(std::vector<Run> runs, int connections, const Cancellation* stop,
                                   std::atomic<bool>& multiRange)
    : shared(std::make_unique<Shared>(std::move(runs), stop, multiRange))
{
    const auto count = std::min<std::size_t>(std::max(connections, 1), shared->RunCount());
    for (std::size_t slot = 0; slot < count; ++slot) {
        auto worker = std::make_unique<WorkerThread>([this] { shared->Fetch(); });
        if (worker->Start()) {
            workers.push_back(std::move(worker));
        }
    }
    // Without a connection nothing would ever arrive.
    if (workers.empty()) {
        shared->Cancel();
    }
}

ParallelDownload::~ParallelDownload()
{
    shared->Cancel();
    workers.clear();
}

wxInputStream* ParallelDownload::NextRun()
{
    current.reset();
    if (nextRun >= shared->RunCount() || !shared->Open(nextRun)) {
        return nullptr;
    }
    current = std::make_unique<RunStream>(*shared, nextRun++);
    return current.get();
}
