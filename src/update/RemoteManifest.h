#pragma once

#include "download/RequestOptions.h"
#include "update/Manifest.h"
#include "update/ManifestParser.h"

#include <wx/stream.h>

#include <memory>
#include <string>

class HttpSession;
class ProgressNotifier;
class SignatureVerifier;

// The files of the current release and where their data lies on the update
// server, read from a gzip (or zlib) compressed XML manifest. Never written.
class RemoteManifest : public Manifest {
public:
    bool Load(const wxString& url) override;
    // Replaces the records with those of the manifest at url; notifier (may be
    // null) shows the download's progress in compressed bytes, and a stop
    // requested through it ends the download and the reading.
    bool Load(const wxString& url, ProgressNotifier* notifier);
    // The same for a signed release: the manifest's bytes are taken only when
    // the signature beside them (url + ".sig") verifies with publisher and
    // every record gives a SHA-256, and fail with MANIFEST_NOT_SIGNED otherwise.
    bool LoadSigned(const wxString& url, const SignatureVerifier& publisher, ProgressNotifier* notifier);
    // Replaces the records with those of a compressed manifest's bytes.
    bool Read(wxInputStream& body, ProgressNotifier* notifier);
    // Refuses with MANIFEST_NOT_SAVED.
    bool Save(const wxString& path) override;
    // The release's version as the manifest names it; empty when it names none.
    const wxString& GetVersion() const { return version; }
    // True when the publisher marked the release as one that may replace a newer one.
    bool AllowsRollback() const { return rollback; }

    // The downloads go over session's kept connection (it must outlive the
    // manifest's loads); by default each over a connection of its own.
    void SetSession(HttpSession* kept) { session = kept; }

private:
    // A fresh result and no records.
    void Begin(const wxString& url);
    // The session, and the stop of notifier (may be null), for a request.
    RequestOptions Options(const ProgressNotifier* notifier) const;
    // The body at url, or null with the result and the log saying why;
    // notifier (may be null) gets its announced length.
    std::unique_ptr<wxInputStream> Open(const wxString& url, ProgressNotifier* notifier);
    // The whole body at url into bytes, failing beyond what a signed
    // manifest may take; notifier (may be null) counts them as they come.
    bool Fetch(const wxString& url, ProgressNotifier* notifier, std::string& bytes);

    // Takes the root's attributes.
    void ReadRoot(const ManifestParser::Child& root);
    // True when every record carries a SHA-256; logs the first that does not.
    bool HasEverySha256() const;

    HttpSession* session = nullptr;
    wxString version;
    bool rollback = false;
};
