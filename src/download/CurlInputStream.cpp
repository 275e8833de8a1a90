#include "download/CurlInputStream.h"

#include "common/Cancellation.h"
#include "download/CurlHandles.h"
#include "download/NetworkSettings.h"
#include "download/RingBuffer.h"
#include "download/TransferGate.h"

#include <wx/log.h>

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
constexpr int MAX_REDIRECTS = 5;

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

bool IsRedirectStatus(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The absolute URL that location names, read relative to base; empty when
// it cannot be read.
std::string ResolveUrl(const std::string& base, const std::string& location)
{
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    char* resolved = nullptr;
    if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) {
        return std::string();
    }
    const std::string text = resolved;
    curl_free(resolved);
    return text;
}

// Why the redirect from one URL to the next, after followed others, is not
// followed; null when it is. A secure request must not go on in plain text.
const char* RedirectRefusal(const std::string& from, const std::string& to, int followed)
{
    if (followed >= MAX_REDIRECTS) {
        return "more than 5 redirects";
    }
    if (!to.starts_with("http://") && !to.starts_with("https://")) {
        return "not an http or https address";
    }
    if (from.starts_with("https://") && to.starts_with("http://")) {
        return "from https to plain http";
    }
    return nullptr;
}

} // namespace

struct CurlInputStream::Transfer {
    enum class Step { Ready, Finished, TimedOut, Cancelled };

    Transfer(const Cancellation* cancellation, HttpSession* session, TransferGate* gate);
    ~Transfer();

    // Sends the request for url, with target (when not empty) in place of its path and query.
    void Configure(const std::string& url, const std::string& target);
    wxProtocolError AwaitHeaders();
    bool IsRedirect() const { return IsRedirectStatus(status) && !location.empty(); }
    // Sends the request again where the redirect points, unless it is refused
    // (logged, and the transfer failed).
    bool Follow(int followed);
    template <typename Predicate> Step RunUntil(Predicate ready);
    void ResumeIfRoom();
    // How long to wait for the network before looking at the transfer again.
    std::chrono::milliseconds PollWait() const;
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
    TransferGate* const gate;
    Clock::time_point lastByte = Clock::now();
    bool paused = false;
    bool held = false; // paused by the gate rather than by a full buffer
    bool headersDone = false;
    bool done = false;
    bool failed = false; // timed out or cancelled: every later read fails at once
    CURLcode result = CURLE_OK;
    RequestFailure failure = RequestFailure::NONE;
    char errorText[CURL_ERROR_SIZE] = {};
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> address{curl_url(), &curl_url_cleanup};
    std::string url; // of the request under way
    std::string ranges;
    long status = 0;
    std::optional<ByteRange> contentRange;
    std::string contentType;
    std::string contentEncoding;
    std::string location;
};

CurlInputStream::Transfer::Transfer(const Cancellation* cancellation, HttpSession* session,
                                    TransferGate* gate)
    : ownSession(session == nullptr ? std::make_unique<HttpSession>() : nullptr),
      handles(session == nullptr ? ownSession->GetHandles() : session->GetHandles()), easy(handles.easy),
      multi(handles.multi), cancellation(cancellation), gate(gate)
{
}

// A transfer taken off before its end closes its connection; a finished one
// leaves it to the session's next request.
CurlInputStream::Transfer::~Transfer()
{
    curl_multi_remove_handle(multi, easy);
    // The session's handle must keep no pointer into this transfer.
    curl_easy_reset(easy);
}

void CurlInputStream::Transfer::Configure(const std::string& requestUrl, const std::string& target)
{
    url = requestUrl + target;
    headersDone = done = paused = held = false;
    status = 0;
    result = CURLE_OK;
    errorText[0] = '\0';
    curl_url_set(address.get(), CURLUPART_URL, requestUrl.c_str(), 0);
    if (!target.empty()) {
        // Set as parts, the target goes out exactly as built, to a server or
        // whole to a proxy: libcurl's URL parser would cut at '#' or re-encode.
        const std::size_t query = target.find('?');
        curl_url_set(address.get(), CURLUPART_PATH, target.substr(0, query).c_str(), 0);
        curl_url_set(address.get(), CURLUPART_QUERY,
                     query == std::string::npos ? nullptr : target.substr(query + 1).c_str(), 0);
    }
    // Keeps the connections, drops the previous request's options.
    curl_easy_reset(easy);
    NetworkSettings::Apply(easy);
    curl_easy_setopt(easy, CURLOPT_CURLU, address.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    // A proxy's answer to CONNECT is not the server's answer.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
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

wxProtocolError CurlInputStream::Transfer::AwaitHeaders()
{
    switch (RunUntil([this] { return headersDone; })) {
    case Step::Ready:
        return wxPROTO_NOERR;
    case Step::Cancelled:
        failed = true;
        failure = RequestFailure::NO_ANSWER;
        return wxPROTO_ABRT;
    case Step::TimedOut:
        failed = true;
        failure = RequestFailure::NO_ANSWER;
        return wxPROTO_NETERR;
    case Step::Finished:
        break;
    }
    failure = ReportTransferFailure(easy, result, errorText);
    const bool unreachable = result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT ||
                             result == CURLE_OPERATION_TIMEDOUT || failure == RequestFailure::TLS;
    return unreachable ? wxPROTO_CONNERR : wxPROTO_NETERR;
}

// libcurl's own following cannot be told to refuse https to http.
bool CurlInputStream::Transfer::Follow(int followed)
{
    const std::string next = ResolveUrl(url, location);
    if (const char* refusal = RedirectRefusal(url, next, followed)) {
        wxLogError("Refused the redirect from %s to %s: %s.", wxString::FromUTF8(url),
                   wxString::FromUTF8(next.empty() ? location : next), refusal);
        failed = true;
        failure = RequestFailure::REDIRECT;
        return false;
    }
    wxLogVerbose("Redirected from %s to %s", wxString::FromUTF8(url), wxString::FromUTF8(next));
    // The redirect's own body is not waited for: its connection may close.
    curl_multi_remove_handle(multi, easy);
    Configure(next, std::string());
    return true;
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
        if (held) {
            // The server is not silent: we are not reading.
            lastByte = Clock::now();
        }
        const auto left = NO_DATA_LIMIT - (Clock::now() - lastByte);
        if (left <= Clock::duration::zero()) {
            return Step::TimedOut;
        }
        const auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(left) +
                                       std::chrono::milliseconds(1),
                                   PollWait());
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    return Step::Ready;
}

std::chrono::milliseconds CurlInputStream::Transfer::PollWait() const
{
    return held ? gate->RetryDelay() : POLL_SLICE;
}

// A held transfer is let go to ask the gate again: the block comes back through OnBody.
void CurlInputStream::Transfer::ResumeIfRoom()
{
    if (paused && buffer.Free() >= static_cast<std::size_t>(RECEIVE_BLOCK)) {
        paused = held = false;
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
        contentEncoding.clear();
        location.clear();
    } else if (StartsWithNoCase(line, len, "Content-Range:")) {
        contentRange = ParseContentRange(std::string_view(line + 14, len - 14));
    } else if (StartsWithNoCase(line, len, "Content-Type:")) {
        contentType = Trimmed(line + 13, len - 13);
    } else if (StartsWithNoCase(line, len, "Content-Encoding:")) {
        contentEncoding = Trimmed(line + 17, len - 17);
    } else if (StartsWithNoCase(line, len, "Location:")) {
        location = Trimmed(line + 9, len - 9);
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
    // The body of a redirect that will be followed is nobody's data.
    if (transfer->IsRedirect()) {
        return len;
    }
    if (len > transfer->buffer.Free()) {
        // libcurl keeps the block and offers it again after CURLPAUSE_CONT.
        transfer->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (transfer->gate != nullptr && !transfer->gate->Admit(len)) {
        transfer->paused = transfer->held = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // No need to restart the no-data timer: a filled buffer ends the wait.
    transfer->buffer.Write(data, len);
    return len;
}

CurlInputStream::CurlInputStream(const std::string& origin, const std::string& target,
                                 const std::string& ranges, const Cancellation* cancellation,
                                 HttpSession* session, TransferGate* gate)
    : transfer(std::make_unique<Transfer>(cancellation, session, gate))
{
    // A redirected request asks for the same ranges.
    transfer->ranges = ranges;
    transfer->Configure(origin, target);
}

CurlInputStream::~CurlInputStream() = default;

wxProtocolError CurlInputStream::Open()
{
    for (int followed = 0;; ++followed) {
        const wxProtocolError error = transfer->AwaitHeaders();
        if (error != wxPROTO_NOERR || !transfer->IsRedirect()) {
            return error;
        }
        if (!transfer->Follow(followed)) {
            return wxPROTO_PROTERR;
        }
    }
}

RequestFailure CurlInputStream::GetFailure() const
{
    return transfer->failure;
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

const std::string& CurlInputStream::GetContentEncoding() const
{
    return transfer->contentEncoding;
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
