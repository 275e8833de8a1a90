#pragma once

#include "support/ScriptedServer.h"

#include <string>
#include <utility>
#include <vector>

// The scripted telemetry service of tests/servers/telemetry_server.py: hands out
// a fixed challenge, answers events with one line, takes multipart uploads, and
// records every request.
class TelemetryServer : public ScriptedServer {
public:
    struct Part {
        std::string name;
        std::string filename;
        std::string bytes;
    };
    struct Request {
        std::string method;
        std::string query;       // as sent, undecoded
        std::vector<Part> parts; // of a multipart POST, in order
        int inProgress = 0;      // requests in progress when it arrived, itself included

        // The query parameter's value; empty when it is absent.
        std::string Param(const std::string& name) const;
    };

    // What the service answers to get_token, without the blanks around it.
    static constexpr const char* CHALLENGE = "c9f2a1d0e8b7";
    // The launcher's shared secret, and the token that it and CHALLENGE make.
    static constexpr const char* SECRET = "5e0c9a7b3f1d24e6a8b0c2d4e6f81a3c";
    static constexpr const char* TOKEN = "b1ff1b4a21b423ac8aef1b2bafd7adb5";

    TelemetryServer() : ScriptedServer("telemetry_server.py", {CHALLENGE}) {}

    // "http://127.0.0.1:PORT/telemetry.php"; the port is 0 when the server could not start.
    std::string Url() const { return ScriptedServer::Url("/telemetry.php"); }
    // From now on uploads get no answer until the client hangs up, and are
    // recorded without their parts.
    void StallUploads() const;
    // Every request so far, in arrival order.
    std::vector<Request> Requests() const;
    // (action, updater_result) of each event request so far; the result is
    // empty when the request had none.
    std::vector<std::pair<std::string, std::string>> Events() const;
    // The most requests that were ever in progress at the same time.
    int PeakConcurrentRequests() const;
};
