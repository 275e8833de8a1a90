#include "download/CurlInputStream.h"

#include "common/Cancellation.h"
#include "download/CurlHandles.h"
#include "download/RingBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

using Clock = std::chrono::steady_clock;

// The buffer holds several of libcurl's receive blocks, so that a paused
// block always fits once the reader has emptied the buffer.
constexpr long RECEIVE_BLOCK = 128 * 1024;
constexpr std::size_t BUFFER_CAPACITY = 8 * RECEIVE_BLOCK;
constexpr auto NO_DATA_LIMIT = std::chrono::seconds(10);
// Bounds how long a cancel request waits to be seen while nothing arrives.
constexpr auto POLL_SLICE = std::chrono::milliseconds(100);

bool StartsWithNoCase(const char* line, std::size_t len, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return len >= n && strncasecmp(line, prefix, n) == 0;
}

std::string Trimmed(const char* text, std::size_t len)
{
    std::string value(text, len);
    const std::size_t first = value.find_first_not_of(" \t\r\n");
    const std::size_t last = value.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

} // namespace

struct CurlInputStream::Transfer {
    enum class Step { Ready, Finished, TimedOut, Cancelled };

    Transfer(const Cancellation* cancellation, HttpSession* session);
    ~Transfer();

    void Configure(const std::string& origin, const std::string& target, const std::string& ranges);
    template <typename Predicate> Step RunUntil(Predicate ready);
    void ResumeIfRoom();
    void CollectResult();
    void TakeHeader(const char* line, std::size_t len);

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);

    std::unique_ptr<HttpSession> ownSession;
    HttpSession::Handles& handles;
    CURL* easy;
    CURLM* multi;
    RingBuffer buffer{BUFFER_CAPACITY};
    const Cancellation* cancellation;
    Clock::time_point lastByte = Clock::now();
    bool paused = false;
    bool headersDone = false;
    bool done = false;
    bool failed = false; // timed out or cancelled: every later read fails at once
    CURLcode result = CURLE_OK;
    long status = 0;
    std::optional<ByteRange> contentRange;
    std::string contentType;
};

CurlInputStream::Transfer::Transfer(const Cancellation* cancellation, HttpSession* session)
    : ownSession(session == nullptr ? std::make_unique<HttpSession>() : nullptr),
      handles(session == nullptr ? ownSession->GetHandles() : session->GetHandles()), easy(handles.easy),
      multi(handles.multi), cancellation(cancellation)
{
}

// A transfer taken off before its end closes its connection; a finished one
// leaves it to the session's next request.
CurlInputStream::Transfer::~Transfer()
{
    curl_multi_remove_handle(multi, easy);
}

void CurlInputStream::Transfer::Configure(const std::string& origin, const std::string& target,
                                          const std::string& ranges)
{
    // Keeps the connections, drops the previous request's options.
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, origin.c_str());
    // Sent exactly as built: libcurl's URL parser would cut at '#' or re-encode.
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Proxies from the environment were never used by the launcher.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::chrono::milliseconds(NO_DATA_LIMIT).count()));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, RECEIVE_BLOCK);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (!ranges.empty()) {
        curl_easy_setopt(easy, CURLOPT_RANGE, ranges.c_str());
    }
    curl_multi_add_handle(multi, easy);
}

// Drives the transfer until ready() holds, it ends, it is cancelled, or no
// byte has arrived for the no-data limit. Time the reader spent elsewhere
// does not count: the limit starts with this wait.
template <typename Predicate>
CurlInputStream::Transfer::Step CurlInputStream::Transfer::RunUntil(Predicate ready)
{
    lastByte = Clock::now();
    while (!ready()) {
        if (done) {
            return Step::Finished;
        }
        if (cancellation != nullptr && cancellation->IsRequested()) {
            return Step::Cancelled;
        }
        ResumeIfRoom();
        int running = 0;
        curl_multi_perform(multi, &running);
        CollectResult();
        if (ready() || done) {
            continue;
        }
        const auto left = NO_DATA_LIMIT - (Clock::now() - lastByte);
        if (left <= Clock::duration::zero()) {
            return Step::TimedOut;
        }
        const auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(left) +
                                       std::chrono::milliseconds(1),
                                   POLL_SLICE);
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    return Step::Ready;
}

void CurlInputStream::Transfer::ResumeIfRoom()
{
    if (paused && buffer.Free() >= static_cast<std::size_t>(RECEIVE_BLOCK)) {
        paused = false;
        // May hand over the held-back block at once, through OnBody.
        curl_easy_pause(easy, CURLPAUSE_CONT);
    }
}

void CurlInputStream::Transfer::CollectResult()
{
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            done = true;
            result = msg->data.result;
        }
    }
}

void CurlInputStream::Transfer::TakeHeader(const char* line, std::size_t len)
{
    if (StartsWithNoCase(line, len, "HTTP/")) {
        // A new answer begins (after a 1xx): forget the previous one.
        const char* code = static_cast<const char*>(std::memchr(line, ' ', len));
        status = code ? std::strtol(code + 1, nullptr, 10) : 0;
        headersDone = false;
        contentRange.reset();
        contentType.clear();
    } else if (StartsWithNoCase(line, len, "Content-Range:")) {
        contentRange = ParseContentRange(std::string_view(line + 14, len - 14));
    } else if (StartsWithNoCase(line, len, "Content-Type:")) {
        contentType = Trimmed(line + 13, len - 13);
    } else if ((len == 2 && line[0] == '\r') || (len == 1 && line[0] == '\n')) {
        headersDone = status >= 200;
    }
}

size_t CurlInputStream::Transfer::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    // Headers that arrive slowly but steadily are a live answer.
    transfer->lastByte = Clock::now();
    transfer->TakeHeader(data, size * count);
    return size * count;
}

size_t CurlInputStream::Transfer::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    const std::size_t len = size * count;
    if (len > transfer->buffer.Free()) {
        // libcurl keeps the block and offers it again after CURLPAUSE_CONT.
        transfer->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // No need to restart the no-data timer: a filled buffer ends the wait.
    transfer->buffer.Write(data, len);
    return len;
}

CurlInputStream::CurlInputStream(const std::string& origin, const std::string& target,
                                 const std::string& ranges, const Cancellation* cancellation,
                                 HttpSession* session)
    : transfer(std::make_unique<Transfer>(cancellation, session))
{
    transfer->Configure(origin, target, ranges);
}

CurlInputStream::~CurlInputStream() = default;

wxProtocolError CurlInputStream::Open()
{
    switch (transfer->RunUntil([this] { return transfer->headersDone; })) {
    case Transfer::Step::Ready:
        return wxPROTO_NOERR;
    case Transfer::Step::Cancelled:
        transfer->failed = true;
        return wxPROTO_ABRT;
    case Transfer::Step::TimedOut:
        transfer->failed = true;
        return wxPROTO_NETERR;
    case Transfer::Step::Finished:
        break;
    }
    const CURLcode r = transfer->result;
    const bool unreachable =
        r == CURLE_COULDNT_RESOLVE_HOST || r == CURLE_COULDNT_CONNECT || r == CURLE_OPERATION_TIMEDOUT;
    return unreachable ? wxPROTO_CONNERR : wxPROTO_NETERR;
}

long CurlInputStream::GetStatus() const
{
    return transfer->status;
}

const std::optional<ByteRange>& CurlInputStream::GetContentRange() const
{
    return transfer->contentRange;
}

const std::string& CurlInputStream::GetContentType() const
{
    return transfer->contentType;
}

wxFileOffset CurlInputStream::GetLength() const
{
    curl_off_t length = -1;
    curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length >= 0 ? static_cast<wxFileOffset>(length) : wxInvalidOffset;
}

size_t CurlInputStream::OnSysRead(void* buffer, size_t size)
{
    if (transfer->failed) {
        m_lasterror = wxSTREAM_READ_ERROR;
        return 0;
    }
    switch (transfer->RunUntil([this] { return transfer->buffer.Size() > 0; })) {
    case Transfer::Step::Ready:
        return transfer->buffer.Read(static_cast<char*>(buffer), size);
    case Transfer::Step::Finished:
        // A body cut short of its Content-Length ends with an error result.
        m_lasterror = transfer->result == CURLE_OK ? wxSTREAM_EOF : wxSTREAM_READ_ERROR;
        return 0;
    case Transfer::Step::TimedOut:
    case Transfer::Step::Cancelled:
        break;
    }
    transfer->failed = true;
    m_lasterror = wxSTREAM_READ_ERROR;
    return 0;
}
