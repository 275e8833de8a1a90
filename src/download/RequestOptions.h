#pragma once

#include "download/ParameterMap.h"

class Cancellation;
class HttpSession;

// What a request may carry besides its URL; each pointer may be null and, when
// set, must outlive the request and the body it returns.
struct RequestOptions {
    // Query parameters, sent after the URL's own query in map order.
    const ParameterMap* params = nullptr;
    // A request of it makes the transfer fail within about 0.1 s; set from any thread.
    const Cancellation* cancellation = nullptr;
    // The kept connection the request goes over; without one it opens its own.
    HttpSession* session = nullptr;
};
