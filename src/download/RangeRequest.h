#pragma once

#include "download/ParallelDownload.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Cancellation;
class CurlInputStream;
class HttpSession;
class RunHandover;
class TransferGate;

// One connection's request for the runs [first, end) of one resource of a
// parallel download, which follow each other in it, handed over as they
// arrive. It is asked in the way that the server has not yet shown it cannot
// answer: several ranges, one range, or the whole resource read through to
// the runs. A transfer that breaks, or gets no answer or a server error, is
// asked again at once for what has not arrived, and after a pause when it
// brought no new byte; a few attempts in a row without one fail the runs
// left, as does an answer that refuses the request.
class RangeRequest {
public:
    // Everything must outlive the request; gate may be null.
    RangeRequest(const std::vector<ParallelDownload::Run>& runs, std::size_t first, std::size_t end,
                 RunHandover& handover, ParallelDownload::ServerAbilities& server,
                 const Cancellation& cancellation, TransferGate* gate);

    // Returns once every run has arrived, or failed, or the work is cancelled.
    void Fetch(HttpSession& session);

private:
    enum class Outcome {
        Again,   // the answer was read as far as it went: ask for the rest at once
        Broken,  // the transfer broke, or no answer or a server error came
        Refused, // the answer refuses the request, or gives other bytes than asked
    };
    struct Answer {
        Outcome outcome;
        long status = 0;
    };

    // Asks for what has not arrived yet and hands over what the answer brings.
    Answer AskForRest(HttpSession& session);
    // The ranges still wanted: the rest of the run under way, then the runs
    // after it while the server answers several ranges at once.
    std::vector<ByteRange> RestRanges() const;
    Answer FromWhole(CurlInputStream& body);
    Answer FromRanges(CurlInputStream& body, const std::vector<ByteRange>& ranges);
    Answer FromParts(CurlInputStream& body, const std::string& boundary,
                     const std::vector<ByteRange>& ranges);
    Answer PartsBroken(CurlInputStream& body, bool partDelivered);
    // Hands over count bytes of source to the run under way.
    bool Deliver(wxInputStream& source, std::uint64_t count);
    // Completes the runs that have all their bytes, up to the next one missing some.
    void CompleteArrived();
    void Fail(const Answer& answer);
    std::string Url() const;

    const std::vector<ParallelDownload::Run>& runs;
    const std::size_t end;
    RunHandover& handover;
    ParallelDownload::ServerAbilities& server;
    const Cancellation& cancellation;
    TransferGate* const gate;
    std::size_t next;          // the first run that has not arrived whole
    std::uint64_t offset = 0;  // of its bytes that have arrived
    std::uint64_t arrived = 0; // in all, to tell an attempt that brought some
};
