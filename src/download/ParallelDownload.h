#pragma once

#include "download/ByteRange.h"

#include <wx/stream.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class Cancellation;
class WorkerThread;

// Fetches runs of bytes out of resources of an HTTP server over a few kept
// connections at once, and hands them to one reader in their order. Runs of
// one resource that follow each other share a request (several ranges, one
// multipart/byteranges answer) while the server answers such requests. What
// arrives ahead of the reader waits in a bounded buffer; the connections
// pause while it is full.
class ParallelDownload {
public:
    struct Run {
        std::string origin; // HTTPWrapper::Origin()
        std::string target; // HTTPWrapper::RequestTarget()
        ByteRange bytes;
    };

    // Starts fetching at once over at most connections connections. stop
    // (may be null, must outlive this object) ends every transfer within
    // about a second. multiRange says whether to ask for several ranges in
    // one request; an answer that is anything but a well-formed
    // multipart/byteranges body of exactly the ranges asked clears it for
    // good (from the connections' threads) and the runs are asked for one at
    // a time.
    ParallelDownload(std::vector<Run> runs, int connections, const Cancellation* stop,
                     std::atomic<bool>& multiRange);
    // Ends the transfers still under way and waits for their threads.
    ~ParallelDownload();
    ParallelDownload(const ParallelDownload&) = delete;
    ParallelDownload& operator=(const ParallelDownload&) = delete;

    // Waits for the answer to the next run's request: the run's bytes, exactly
    // its length, readable until the next call (reads fail with
    // wxSTREAM_READ_ERROR when the transfer fails or is stopped, or the answer
    // turns out broken behind them). Null when its request failed, was
    // stopped, was answered with another range, or no run is left.
    wxInputStream* NextRun();

private:
    class Shared;
    class RunStream;
    std::unique_ptr<Shared> shared;
    std::unique_ptr<RunStream> current;
    std::size_t nextRun = 0;
    // Last, so that the connections' threads end before what they use goes.
    std::vector<std::unique_ptr<WorkerThread>> workers;
};
