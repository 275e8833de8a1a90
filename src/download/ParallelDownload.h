#pragma once

#include "download/ByteRange.h"

#include <wx/stream.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Cancellation;
class TransferGate;
class WorkerThread;

// Fetches runs of bytes out of resources of an HTTP server over a few kept
// connections at once, and hands them to one reader in their order. Runs of
// one resource that follow each other share a request (several ranges, one
// multipart/byteranges answer) while the server answers such requests; a
// server that answers no range at all is asked once for each resource, whose
// body is read through to the runs. What arrives ahead of the reader waits in
// a bounded buffer; the connections pause while it is full. A transfer that
// breaks is asked again for what has not arrived, without the reader seeing
// it, until a few attempts in a row bring no new byte.
class ParallelDownload {
public:
    struct Run {
        std::string origin; // HTTPWrapper::Origin()
        std::string target; // HTTPWrapper::RequestTarget()
        ByteRange bytes;
    };

    // What the server can do: each until an answer shows otherwise, when the
    // connections' threads clear it; the owner keeps it for the downloads
    // that follow.
    struct ServerAbilities {
        // Answers several ranges with one well-formed multipart/byteranges
        // body of exactly the ranges asked.
        std::atomic<bool> multiRange{true};
        // Answers a single range with 206 and that range, not 200 and the whole.
        std::atomic<bool> ranges{true};
    };

    // Why a run's request failed.
    struct RequestFailure {
        long status; // of the answer that refused it; 0: no answer or a transfer that kept breaking
        std::string url;
    };

    // Starts fetching at once over at most connections connections. stop
    // (may be null, must outlive this object) ends every transfer within
    // about a second; so must server. gate (may be null, must outlive this
    // object) holds the transfers while paused and shares its cap among them.
    ParallelDownload(std::vector<Run> runs, int connections, const Cancellation* stop,
                     ServerAbilities& server, TransferGate* gate = nullptr);
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
    // Why the run that NextRun opened or tried to open last failed; none
    // while it has not, and on a stop.
    std::optional<RequestFailure> Failure() const;

private:
    class Shared;
    class RunStream;
    std::unique_ptr<Shared> shared;
    std::unique_ptr<RunStream> current;
    std::size_t nextRun = 0;
    std::size_t lastOpened = 0;
    // Last, so that the connections' threads end before what they use goes.
    std::vector<std::unique_ptr<WorkerThread>> workers;
};
