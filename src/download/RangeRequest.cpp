#include "download/RangeRequest.h"

#include "common/Cancellation.h"
#include "download/CurlInputStream.h"
#include "download/LimitedInputStream.h"
#include "download/MultipartReader.h"
#include "download/RunHandover.h"
#include "download/WasteOutputStream.h"

#include <wx/log.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr std::size_t CHUNK = 64 * 1024;
// Attempts in a row that bring no new byte before the runs left fail; the
// pause after each is a step longer than the one before.
constexpr int MAX_FRUITLESS_ATTEMPTS = 3;
constexpr auto PAUSE_STEP = std::chrono::seconds(1);

// A transfer read to its end leaves its connection to the session's next
// request; one taken off earlier closes it.
void ReadToEnd(wxInputStream& body)
{
    char byte = 0;
    body.Read(&byte, 1);
}

bool Skip(wxInputStream& body, std::uint64_t count)
{
    LimitedInputStream skipped(&body, count);
    WasteOutputStream waste;
    skipped.Read(waste);
    return skipped.Eof();
}

} // namespace

RangeRequest::RangeRequest(const std::vector<ParallelDownload::Run>& runs, std::size_t first, std::size_t end,
                           RunHandover& handover, ParallelDownload::ServerAbilities& server,
                           const Cancellation& cancellation, TransferGate* gate)
    : runs(runs), end(end), handover(handover), server(server), cancellation(cancellation), gate(gate),
      next(first)
{
}

void RangeRequest::Fetch(HttpSession& session)
{
    int fruitless = 0;
    for (CompleteArrived(); next < end; CompleteArrived()) {
        const std::uint64_t before = arrived;
        const Answer answer = AskForRest(session);
        fruitless = arrived > before ? 0 : fruitless + (answer.outcome == Outcome::Again ? 0 : 1);
        if (answer.outcome == Outcome::Again) {
            continue;
        }
        if (cancellation.IsRequested()) {
            handover.Fail(next, end, std::nullopt);
            return;
        }
        if (answer.outcome == Outcome::Refused || fruitless == MAX_FRUITLESS_ATTEMPTS) {
            Fail(answer);
            return;
        }
        if (!cancellation.Sleep(PAUSE_STEP * fruitless)) {
            handover.Fail(next, end, std::nullopt);
            return;
        }
        wxLogMessage("Asking again for %s from byte %llu.", Url(),
                     static_cast<unsigned long long>(runs[next].bytes.first + offset));
    }
}

RangeRequest::Answer RangeRequest::AskForRest(HttpSession& session)
{
    const bool whole = !server.ranges;
    const std::vector<ByteRange> ranges = whole ? std::vector<ByteRange>() : RestRanges();
    CurlInputStream body(runs[next].origin, runs[next].target, RangeList(ranges), &cancellation, &session,
                         gate);
    if (body.Open() != wxPROTO_NOERR) {
        return {Outcome::Broken};
    }
    const long status = body.GetStatus();
    if (status == 200) {
        // Several ranges may be more than the server takes; one that it
        // ignores shows that it takes none.
        if (ranges.size() > 1) {
            server.multiRange = false;
        } else if (!whole) {
            server.ranges = false;
        }
        return FromWhole(body);
    }
    if (status == 206 && !whole) {
        return FromRanges(body, ranges);
    }
    return {status >= 500 ? Outcome::Broken : Outcome::Refused, status};
}

std::vector<ByteRange> RangeRequest::RestRanges() const
{
    std::vector<ByteRange> ranges = {{runs[next].bytes.first + offset, runs[next].bytes.last}};
    for (std::size_t run = next + 1; server.multiRange && run < end; ++run) {
        ranges.push_back(runs[run].bytes);
    }
    return ranges;
}

// The whole resource: read through, each run's bytes handed over as they pass.
RangeRequest::Answer RangeRequest::FromWhole(CurlInputStream& body)
{
    for (std::uint64_t position = 0; next < end; CompleteArrived()) {
        const ByteRange& bytes = runs[next].bytes;
        if (!Skip(body, bytes.first + offset - position) || !Deliver(body, bytes.Length() - offset)) {
            return {Outcome::Broken};
        }
        position = bytes.last + 1;
    }
    // The rest of the resource is not wanted: the connection goes with it.
    return {Outcome::Again};
}

RangeRequest::Answer RangeRequest::FromRanges(CurlInputStream& body, const std::vector<ByteRange>& ranges)
{
    if (ranges.size() > 1) {
        const std::string boundary = MultipartReader::Boundary(body.GetContentType());
        if (!boundary.empty()) {
            return FromParts(body, boundary, ranges);
        }
        // The first range alone, or the ranges merged into one.
        server.multiRange = false;
        return {Outcome::Again};
    }
    // A server or proxy that shifts the range would feed the wrong bytes to the reader.
    if (body.GetContentRange() != ranges.front()) {
        return {Outcome::Refused, 206};
    }
    if (!Deliver(body, ranges.front().Length())) {
        return {Outcome::Broken};
    }
    CompleteArrived();
    ReadToEnd(body);
    return {Outcome::Again};
}

RangeRequest::Answer RangeRequest::FromParts(CurlInputStream& body, const std::string& boundary,
                                             const std::vector<ByteRange>& ranges)
{
    MultipartReader reader(body, boundary, ranges);
    if (!reader.NextPart()) {
        return PartsBroken(body, false);
    }
    for (const ByteRange& range : ranges) {
        if (!Deliver(reader.Part(), range.Length())) {
            return {Outcome::Broken};
        }
        // A part is whole only once what follows it, the next part or the
        // closing delimiter, shows that it ended where its header said.
        if (!reader.NextPart() && reader.Failed()) {
            return PartsBroken(body, true);
        }
        CompleteArrived();
    }
    ReadToEnd(body);
    return {Outcome::Again};
}

// A multipart body that stops short broke in transfer; one that goes on
// otherwise than asked shows that the server does not answer several ranges
// well, and fails the run whose bytes it handed over already.
RangeRequest::Answer RangeRequest::PartsBroken(CurlInputStream& body, bool partDelivered)
{
    if (body.GetLastError() == wxSTREAM_READ_ERROR) {
        return {Outcome::Broken};
    }
    server.multiRange = false;
    return partDelivered ? Answer{Outcome::Refused, 206} : Answer{Outcome::Again};
}

bool RangeRequest::Deliver(wxInputStream& source, std::uint64_t count)
{
    while (count > 0) {
        std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK, count)));
        const std::size_t got = source.Read(chunk.data(), chunk.size()).LastRead();
        if (got == 0) {
            return false;
        }
        chunk.resize(got);
        if (!handover.Add(next, std::move(chunk))) {
            return false;
        }
        offset += got;
        arrived += got;
        count -= got;
    }
    return true;
}

void RangeRequest::CompleteArrived()
{
    while (next < end && offset == runs[next].bytes.Length()) {
        handover.Complete(next++);
        offset = 0;
    }
}

void RangeRequest::Fail(const Answer& answer)
{
    const std::string url = Url();
    const std::string status = answer.status == 0 ? "no answer" : std::to_string(answer.status);
    wxLogError("Request failed: %s for %s", status, url);
    handover.Fail(next, end, ParallelDownload::RequestFailure{answer.status, url});
}

std::string RangeRequest::Url() const
{
    return runs[next].origin + runs[next].target;
}
