#pragma once

#include "download/HttpSession.h"

#include <curl/curl.h>

// One easy handle in a multi handle of its own: the multi handle keeps the
// easy handle's finished connections for its next transfer.
struct HttpSession::Handles {
    Handles() : easy(curl_easy_init()), multi(curl_multi_init()) {}
    ~Handles()
    {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
    }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    CURL* easy;
    CURLM* multi;
};
