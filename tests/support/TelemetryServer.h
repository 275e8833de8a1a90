#pragma once

#include "support/ServerProcess.h"

#include <string>
#include <utility>
#include <vector>

// The scripted telemetry service of tests/servers/telemetry_server.py: hands out
// a fixed challenge, answers events with one line, takes multipart uploads, and
// records every request. It runs while the object lives, on a loopback port of
// its own, and ends with it (or with the test process). Use it from one thread.
class TelemetryServer {
public:
    enum class Answer { Normal, StallUpload };

    struct Part {
        std::string name;
        std::string filename;
        std::string bytes;
    };
    struct Request {
        std::string method;
        std::string path;
        // The raw query's parameters, undecoded, in wire order.
        std::vector<std::pair<std::string, std::string>> query;
        // The parts of a multipart POST, in order.
        std::vector<Part> parts;

        // The query parameter's value; empty when it is absent.
        std::string Param(const std::string& name) const;
        // The query as sent: "name=value" joined with "&".
        std::string QueryText() const;
    };

    // What the service answers to get_token, without the blanks around it.
    static constexpr const char* CHALLENGE = "c9f2a1d0e8b7";
    // The launcher's shared secret, and the token that it and CHALLENGE make.
    static constexpr const char* SECRET = "5e0c9a7b3f1d24e6a8b0c2d4e6f81a3c";
    static constexpr const char* TOKEN = "b1ff1b4a21b423ac8aef1b2bafd7adb5";

    TelemetryServer();
    ~TelemetryServer();
    TelemetryServer(const TelemetryServer&) = delete;
    TelemetryServer& operator=(const TelemetryServer&) = delete;

    // "http://127.0.0.1:PORT/telemetry.php"; the port is 0 when the server could not start.
    std::string Url() const;
    // StallUpload never answers an upload, until the client hangs up, and
    // records it without its parts.
    void AnswerWith(Answer answer);
    // Every request so far, in arrival order.
    std::vector<Request> Requests();
    // (action, updater_result) of each event request so far; the result is
    // empty when the request had none.
    std::vector<std::pair<std::string, std::string>> Events();
    // The most requests that were ever in progress at the same time.
    int PeakConcurrentRequests();

private:
    void Send(const std::string& command);
    std::string ReadLine();

    ServerScript script; // stdin: commands; stdout: the port, then the replies
    int port = 0;
};
