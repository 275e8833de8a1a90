#pragma once

#include "download/RequestOptions.h"

#include <wx/string.h>

class CurlInputStream;

// One request for the release that the update server names, and what its
// answer turned out to be. Only the first line of a 200 answer that reads as
// a version is one; anything else is told apart, so that the check retries
// what may pass and reports the rest as it is.
class VersionQuery {
public:
    enum Outcome {
        VERSION,
        NO_ANSWER,     // worth asking again
        SERVER_ERROR,  // a 5xx status: worth asking again
        TLS_FAILURE,   // no secure connection (logged with the host and the reason)
        NOT_A_VERSION, // an answer that no retry changes
    };

    // Sends the request and reads the answer.
    VersionQuery(const wxString& url, const RequestOptions& options);

    Outcome GetOutcome() const { return outcome; }
    const wxString& GetVersion() const { return version; }
    // The answer's status; 0 without an answer.
    long GetStatus() const { return status; }
    // What an answer that is not a version is instead, for the log.
    const wxString& GetProblem() const { return problem; }

private:
    void ReadAnswer(CurlInputStream& body);
    void Refuse(const wxString& what);

    Outcome outcome = NO_ANSWER;
    wxString version;
    long status = 0;
    wxString problem;
};
