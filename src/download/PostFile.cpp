#include "download/PostFile.h"

#include "common/Cancellation.h"
#include "download/NetworkSettings.h"
#include "download/RequestFailure.h"

#include <curl/curl.h>
#include <wx/log.h>

#include <chrono>
#include <memory>

namespace {

// Like every other transfer of the launcher, an upload ends after this long without a byte.
constexpr auto NO_DATA_LIMIT = std::chrono::seconds(10);

// What the progress callback of an upload watches: the stop flag, and when
// the last byte went either way.
struct TransferWatch {
    const Cancellation* stop;
    curl_off_t bytesSoFar = -1;
    std::chrono::steady_clock::time_point lastByte = std::chrono::steady_clock::now();
};

// libcurl calls it at least once a second, even while nothing moves.
int AbortWhenStoppedOrSilent(void* data, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
{
    auto* watch = static_cast<TransferWatch*>(data);
    const auto now = std::chrono::steady_clock::now();
    if (received + sent != watch->bytesSoFar) {
        watch->bytesSoFar = received + sent;
        watch->lastByte = now;
    }
    const bool stopped = watch->stop != nullptr && watch->stop->IsRequested();
    return stopped || now - watch->lastByte >= NO_DATA_LIMIT ? 1 : 0;
}

// The launcher never shows the service's answer to an upload.
size_t DiscardAnswer(char*, size_t size, size_t count, void*)
{
    return size * count;
}

} // namespace

bool PostFile(const wxString& url, const wxString& fieldName, const wxString& filePath,
              const ParameterMap& parameters, const Cancellation* stop)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        wxLogError("Error initializing curl session.");
        return false;
    }
    std::unique_ptr<curl_mime, decltype(&curl_mime_free)> form(curl_mime_init(curl.get()), &curl_mime_free);
    for (const auto& [name, value] : parameters) {
        curl_mimepart* part = curl_mime_addpart(form.get());
        curl_mime_name(part, name.ToAscii());
        curl_mime_data(part, value.ToAscii(), CURL_ZERO_TERMINATED);
    }
    // The path in the file system's own bytes: an ASCII form would name another file.
    curl_mimepart* file = curl_mime_addpart(form.get());
    curl_mime_name(file, fieldName.ToAscii());
    curl_mime_filedata(file, filePath.fn_str());

    NetworkSettings::Apply(curl.get());
    curl_easy_setopt(curl.get(), CURLOPT_URL, static_cast<const char*>(url.ToAscii()));
    curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, form.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);
    TransferWatch watch{stop};
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &AbortWhenStoppedOrSilent);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK && result != CURLE_ABORTED_BY_CALLBACK) {
        ReportTransferFailure(curl.get(), result, errorText);
    }
    curl.reset(); // the form must outlive the handle that sends it
    return result == CURLE_OK;
}
