#pragma once

#include <memory>

// A connection to a server that is kept open between requests, so that every
// request after the first costs one round trip instead of two. Requests go
// through it one after another, from one thread at a time.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // libcurl's handles, for the transfers that use the session.
    struct Handles;
    Handles& GetHandles() { return *handles; }

private:
    std::unique_ptr<Handles> handles;
};
