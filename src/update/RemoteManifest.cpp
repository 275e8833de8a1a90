#include "update/RemoteManifest.h"

#include "download/BoundedInputStream.h"
#include "download/HTTPWrapper.h"
#include "download/ProgressInputStream.h"
#include "progress/ProgressNotifier.h"
#include "update/TextRunGuardInputStream.h"

#include <wx/log.h>
#include <wx/xml/xml.h>
#include <wx/zstream.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

namespace {

const char FILE_ELEMENT[] = "file";
// A manifest holds elements only; longer text between them is refused before
// the parser spends minutes on it.
constexpr std::size_t MAX_TEXT_RUN = 4096;

// The gauge counts in int; an unknown length (wxInvalidOffset) shows as 0.
int ProgressRange(wxFileOffset announcedLength)
{
    return static_cast<int>(std::clamp<wxFileOffset>(announcedLength, 0, INT_MAX));
}

// Inflates the body and parses all of it. False when the body is not a
// complete gzip or zlib stream of well-formed XML within MAX_XML_BYTES and
// without long text.
bool ParseBody(wxInputStream& body, ProgressNotifier* notifier, wxXmlDocument& document)
{
    std::optional<ProgressInputStream> progress;
    if (notifier != nullptr)
        progress.emplace(&body, notifier);
    wxZlibInputStream inflated(progress ? *progress : body, wxZLIB_AUTO);
    BoundedInputStream bounded(&inflated, RemoteManifest::MAX_XML_BYTES);
    TextRunGuardInputStream xml(&bounded, MAX_TEXT_RUN);
    // The inflater's and the parser's own complaints; the caller logs the failure.
    wxLogNull quiet;
    // The parser takes a short read for the end, so a stream that failed after
    // a complete document (a gzip trailer cut off) is caught here.
    return document.Load(xml) && xml.GetLastError() != wxSTREAM_READ_ERROR;
}

// A name that stays inside the directory it is relative to: not empty, no
// leading separator, no drive ("C:..."), no ".." part.
bool IsConfined(const wxString& name)
{
    if (name.empty() || name.StartsWith("\\") || (name.length() >= 2 && name[1] == ':'))
        return false;
    return !("\\" + name + "\\").Contains("\\..\\");
}

// An offset or byte count: required and above 0. A negative one would wrap
// to a huge unsigned value.
ManifestResult ReadPositive(const wxXmlNode& element, const char* attribute, std::uint32_t& value)
{
    wxString text;
    if (!element.GetAttribute(attribute, &text))
        return MANIFEST_MISSING_ATTRIBUTE;
    const std::int32_t number = ParseInt32(text);
    if (number < 1)
        return MANIFEST_OUT_OF_RANGE;
    value = static_cast<std::uint32_t>(number);
    return MANIFEST_OK;
}

} // namespace

bool RemoteManifest::Load(const wxString& url)
{
    return Load(url, nullptr);
}

bool RemoteManifest::Load(const wxString& url, ProgressNotifier* notifier)
{
    wxLogMessage("Reading manifest from: %s", url);
    result = MANIFEST_OK;
    // Whatever happens, the old records are gone: the list reflects the last attempt.
    clear();
    HTTPWrapper http(url, nullptr, notifier != nullptr ? &notifier->GetCancellation() : nullptr);
    if (!http.IsValid()) {
        result = MANIFEST_BAD_URL;
        wxLogError("Malformed URL: %s", url);
        return false;
    }
    if (!http.Connect()) {
        result = MANIFEST_DOWNLOAD_FAILED;
        wxLogError("Error connecting to server: %s", url);
        return false;
    }
    std::unique_ptr<wxInputStream> body(http.OpenStream());
    if (http.GetError() != wxPROTO_NOERR) {
        result = MANIFEST_DOWNLOAD_FAILED;
        wxLogError("Error requesting input stream: %s", url);
        return false;
    }
    if (notifier != nullptr)
        notifier->SetRange(ProgressRange(body->GetLength()));
    wxXmlDocument document;
    const bool parsed = ParseBody(*body, notifier, document);
    body.reset();
    if (!parsed) {
        wxLogError("Malformed manifest or download error.");
        result = MANIFEST_DOWNLOAD_FAILED;
        return false;
    }
    AppendRecords(*document.GetRoot());
    wxLogVerbose("Done reading remote manifest. Result: %d", result);
    return result == MANIFEST_OK;
}

bool RemoteManifest::Save(const wxString&)
{
    result = MANIFEST_NOT_SAVED;
    return false;
}

// A root without children is an empty release. Records read before a faulty
// element stay in the list.
void RemoteManifest::AppendRecords(const wxXmlNode& root)
{
    for (const wxXmlNode* element = root.GetChildren(); element != nullptr && result == MANIFEST_OK;
         element = element->GetNext()) {
        // A comment is no element: a publisher's note must not fail the release.
        if (element->GetType() != wxXML_COMMENT_NODE)
            result = AppendRecord(*element);
    }
}

ManifestResult RemoteManifest::AppendRecord(const wxXmlNode& element)
{
    if (element.GetName() != FILE_ELEMENT) {
        wxLogError("XML error: the only element supported is %s.", FILE_ELEMENT);
        return MANIFEST_UNKNOWN_ELEMENT;
    }
    wxString name, archive, checksum;
    if (!element.GetAttribute("name", &name) || !element.GetAttribute("source_zip", &archive) ||
        !element.GetAttribute("checksum", &checksum))
        return MANIFEST_MISSING_ATTRIBUTE;
    name.Replace("/", "\\");
    archive.Replace("/", "\\");
    // The installer writes and deletes by these names: one that leaves the
    // installation fails the whole load before anything is touched.
    if (!IsConfined(name) || !IsConfined(archive))
        return MANIFEST_OUT_OF_RANGE;

    std::int32_t mode = 0;
    wxString modeText;
    if (element.GetAttribute("permission", &modeText)) {
        mode = ParseInt32(modeText, 8);
        wxLogVerbose("Read file mode %o for %s", mode, name);
        if (mode < 1)
            return MANIFEST_OUT_OF_RANGE;
    }
    std::uint32_t offset = 0, compressedSize = 0;
    if (const ManifestResult read = ReadPositive(element, "offset", offset); read != MANIFEST_OK)
        return read;
    if (const ManifestResult read = ReadPositive(element, "compressed_size", compressedSize);
        read != MANIFEST_OK)
        return read;
    wxString compressed;
    if (!element.GetAttribute("compressed", &compressed))
        return MANIFEST_MISSING_ATTRIBUTE;
    if (compressed != "true" && compressed != "false")
        return MANIFEST_BAD_COMPRESSED;

    push_back(ManifestFileInfo(name, archive, mode, checksum, offset, compressed == "true", compressedSize));
    wxLogVerbose("Read from remote manifest: %s, %s", name, checksum);
    return MANIFEST_OK;
}
