#pragma once

#include "common/SignatureVerifier.h"

#include <wx/string.h>

#include <optional>

class Cancellation;
class ProgressNotifier;
class TelemetryClient;
class TransferGate;

// What every part of an update shares: the installation, the update server
// and how to talk to it, and the channels that the parts report through. The
// engine owns it and sets it up on the main thread before a worker starts;
// the workers only read it.
struct UpdateContext {
    explicit UpdateContext(const wxString& baseDir) : baseDir(baseDir) {}

    const wxString baseDir;
    wxString baseUrl = "http://127.0.0.1/download/test/";
    wxString languageCode = "draft";
    // How many connections the download opens to the server at once.
    int maxConnections = 4;
    // How long the version query retries a server that does not answer; 0 until stopped.
    int remoteVersionWait = 0;
    // With the publisher's key a release is taken only when its manifest's signature verifies.
    std::optional<SignatureVerifier> releaseKey;
    // Every installed file is hashed and compared, even when the version is current.
    bool fullCheck = false;
    ProgressNotifier* notifier = nullptr;
    TelemetryClient* telemetry = nullptr; // may stay null
    // The player's pause and bandwidth cap, which every transfer of the download obeys.
    TransferGate* gate = nullptr;

    bool IsStopRequested() const;
    // The stop as every transfer of the workers watches it.
    const Cancellation& StopRequest() const;
    // Tells the telemetry service how a check or an update ended.
    void SendFinished(const wxString& result) const;
};
