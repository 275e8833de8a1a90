#include "download/ParallelDownload.h"

#include "common/Cancellation.h"
#include "common/WorkerThread.h"
#include "download/HttpSession.h"
#include "download/RangeRequest.h"
#include "download/RunHandover.h"

#include <algorithm>
#include <mutex>

namespace {

// One request's share while the server answers ranges: enough of them to
// spare many round trips, few enough bytes that the other connections get
// work too. A server that answers none sends each resource whole, once.
constexpr std::size_t MAX_RANGES_PER_REQUEST = 64;
constexpr std::uint64_t MAX_BYTES_PER_REQUEST = 16 << 20;

} // namespace

class ParallelDownload::Shared {
public:
    Shared(std::vector<Run> runs, const Cancellation* stop, ServerAbilities& server, TransferGate* gate)
        : runs(std::move(runs)), cancellation(stop), handover(this->runs.size(), cancellation),
          server(server), gate(gate)
    {
    }

    std::size_t RunCount() const { return runs.size(); }
    // The job of one connection: requests until no run is left.
    void Fetch();
    RunHandover& Handover() { return handover; }
    void Cancel();

private:
    // The runs that the next request asks for: [first, end).
    std::pair<std::size_t, std::size_t> TakeRequest();
    bool Together(std::size_t first, std::size_t later, std::uint64_t bytesSoFar) const;

    const std::vector<Run> runs;
    Cancellation cancellation;
    RunHandover handover;
    ServerAbilities& server;
    TransferGate* const gate;
    std::mutex mutex;
    std::size_t nextToFetch = 0;
};

class ParallelDownload::RunStream : public wxInputStream {
public:
    RunStream(RunHandover& handover, std::size_t run) : handover(handover), run(run) {}

protected:
    size_t OnSysRead(void* buffer, size_t size) override
    {
        return handover.Read(run, static_cast<char*>(buffer), size, m_lasterror);
    }

private:
    RunHandover& handover;
    const std::size_t run;
};

void ParallelDownload::Shared::Fetch()
{
    HttpSession session;
    for (auto [first, end] = TakeRequest(); first < end; std::tie(first, end) = TakeRequest()) {
        RangeRequest(runs, first, end, handover, server, cancellation, gate).Fetch(session);
    }
}

std::pair<std::size_t, std::size_t> ParallelDownload::Shared::TakeRequest()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (cancellation.IsRequested() || nextToFetch == runs.size()) {
        return {0, 0};
    }
    const std::size_t first = nextToFetch;
    std::uint64_t bytes = runs[first].bytes.Length();
    std::size_t end = first + 1;
    while (end < runs.size() && Together(first, end, bytes)) {
        bytes += runs[end].bytes.Length();
        ++end;
    }
    nextToFetch = end;
    return {first, end};
}

// Whether run later may join the request for [first, later), which holds
// bytesSoFar. Ranges of one request must belong to one resource and come in
// order, without overlapping, or the server would merge or refuse them.
bool ParallelDownload::Shared::Together(std::size_t first, std::size_t later, std::uint64_t bytesSoFar) const
{
    const Run& a = runs[later - 1];
    const Run& b = runs[later];
    const bool follows = a.origin == b.origin && a.target == b.target && a.bytes.Length() > 0 &&
                         b.bytes.Length() > 0 && b.bytes.first > a.bytes.last;
    if (!server.ranges) {
        return follows;
    }
    const std::size_t limit = server.multiRange ? MAX_RANGES_PER_REQUEST : 1;
    return follows && later - first < limit && bytesSoFar + b.bytes.Length() <= MAX_BYTES_PER_REQUEST;
}

void ParallelDownload::Shared::Cancel()
{
    cancellation.Request();
    handover.WakeAll();
}

ParallelDownload::ParallelDownload(std::vector<Run> runs, int connections, const Cancellation* stop,
                                   ServerAbilities& server, TransferGate* gate)
    : shared(std::make_unique<Shared>(std::move(runs), stop, server, gate))
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
    if (nextRun >= shared->RunCount()) {
        return nullptr;
    }
    lastOpened = nextRun;
    if (!shared->Handover().Open(nextRun)) {
        return nullptr;
    }
    current = std::make_unique<RunStream>(shared->Handover(), nextRun++);
    return current.get();
}

std::optional<ParallelDownload::RequestFailure> ParallelDownload::Failure() const
{
    return lastOpened < shared->RunCount() ? shared->Handover().Failure(lastOpened) : std::nullopt;
}
