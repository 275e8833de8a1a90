#pragma once

#include <curl/curl.h>

// Why a request brought no answer that the launcher can use.
enum class RequestFailure {
    NONE,
    BAD_URL,      // not an http or https URL with a host
    NO_ANSWER,    // no server reached, no answer in time, an answer cut off, or a stop
    TLS,          // no secure connection: a certificate not trusted, a handshake that failed
    REDIRECT,     // a redirect that the launcher does not follow
    ERROR_STATUS, // an answer with a status of 300 or more
};

// The failure of a transfer of easy that ended with result, logged with
// errorText (libcurl's error buffer): a TLS failure as an error that names
// the host, since support must see it, any other only in the debug log.
RequestFailure ReportTransferFailure(CURL* easy, CURLcode result, const char* errorText);
