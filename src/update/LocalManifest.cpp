#include "update/LocalManifest.h"

#include "common/MD5.h"
#include "platform/AtomicFile.h"
#include "platform/FileStatus.h"
#include "progress/ProgressNotifier.h"
#include "update/ManifestParser.h"
#include "update/ManifestTraverser.h"

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/wfstream.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

namespace {

const char FILE_ELEMENT[] = "file";

// True when a name is not plainly relative to the base directory: it has a "."
// or ".." part, or starts with a separator. One pass over the characters: a
// quick start asks it for every installed file.
bool NeedsResolving(const wxString& name)
{
    const wchar_t* text = name.wc_str();
    const std::size_t length = name.length();
    std::size_t partStart = 0;
    for (std::size_t at = 0; at <= length; ++at) {
        if (at < length && text[at] != L'\\')
            continue;
        const std::size_t partLength = at - partStart;
        if (partLength == 0 ? at == 0 && length > 0
                            : partLength <= 2 && text[partStart] == L'.' && text[at - 1] == L'.')
            return true;
        partStart = at + 1;
    }
    return false;
}

// The characters that may not appear raw in a double-quoted attribute value,
// and the white space that a reader would turn into plain spaces.
wxString EscapeAttribute(const wxString& value)
{
    wxString escaped(value);
    escaped.Replace(wxS("&"), wxS("&amp;"));
    escaped.Replace(wxS("<"), wxS("&lt;"));
    escaped.Replace(wxS("\""), wxS("&quot;"));
    escaped.Replace(wxS("\t"), wxS("&#9;"));
    escaped.Replace(wxS("\n"), wxS("&#10;"));
    escaped.Replace(wxS("\r"), wxS("&#13;"));
    return escaped;
}

// The file holds both numbers as signed 32-bit decimals: the timestamp's low
// 32 bits and the size's 32 bits.
std::string FormatRecord(const ManifestFileInfo& record)
{
    const wxString line =
        wxString::Format("\t<file name=\"%s\" checksum=\"%s\" timestamp=\"%d\" size=\"%d\" />\r\n",
                         EscapeAttribute(record.name), EscapeAttribute(record.checksum),
                         static_cast<std::int32_t>(record.timestamp), static_cast<std::int32_t>(record.size));
    return line.utf8_string();
}

} // namespace

LocalManifest::LocalManifest(const wxString& directory, const wxString& fileName)
    : directory(directory), fileName(fileName)
{
    if (!this->directory.EndsWith(wxFILE_SEP_PATH))
        this->directory += wxFILE_SEP_PATH;
}

bool LocalManifest::Load(const wxString& path)
{
    if (!wxFileName::FileExists(path)) {
        wxLogWarning("Manifest not found: %s", path);
        return false;
    }
    wxLogVerbose("Reading manifest from: %s", path);
    std::optional<wxFFileInputStream> file;
    {
        // An unreadable file is expected now and then; Read's warning says it all.
        wxLogNull quiet;
        file.emplace(path);
    }
    return Read(*file);
}

// A file that is not well-formed XML within the parser's bounds adds no
// records; one with a faulty record keeps those before it.
bool LocalManifest::Read(wxInputStream& xml)
{
    const size_t recordsBefore = size();
    int children = 0;
    ManifestParser parser([this, &children](const ManifestParser::Child& element) {
        ++children;
        return AppendRecord(element);
    });
    const ManifestParser::Outcome outcome = parser.Parse(xml);
    if (outcome == ManifestParser::MALFORMED) {
        erase(std::next(begin(), static_cast<long>(recordsBefore)), end());
        wxLogWarning("Could not read manifest.");
        return false;
    }
    if (children == 0) {
        wxLogWarning("Empty manifest.");
        return false;
    }
    return outcome == ManifestParser::COMPLETE;
}

bool LocalManifest::AppendRecord(const ManifestParser::Child& element)
{
    if (std::strcmp(element.Name(), FILE_ELEMENT) != 0) {
        wxLogError("XML error: unknown element <%s>. The only element supported is <%s>.",
                   wxString::FromUTF8(element.Name()), FILE_ELEMENT);
        result = MANIFEST_UNKNOWN_ELEMENT;
        return false;
    }
    const char* name = element.Attribute("name");
    const char* checksum = element.Attribute("checksum");
    const char* timestamp = element.Attribute("timestamp");
    const char* size = element.Attribute("size");
    if (name == nullptr || checksum == nullptr || timestamp == nullptr || size == nullptr) {
        result = MANIFEST_MISSING_ATTRIBUTE;
        return false;
    }
    const std::int32_t time = ParseInt32(timestamp);
    push_back(ManifestFileInfo(wxString::FromUTF8(name), time, wxString::FromUTF8(checksum),
                               static_cast<std::uint32_t>(ParseInt32(size))));
    wxLogVerbose("Read from manifest: %s, ts: %d", back().name, time);
    return true;
}

bool LocalManifest::Save(const wxString& path)
{
    // A failed write is logged by WriteFileAtomically and leaves the old file;
    // the next run rebuilds from the disk whatever the old file lacks.
    platform::WriteFileAtomically(path, Format());
    return true;
}

std::string LocalManifest::Format() const
{
    std::string bytes = "<manifest>\r\n";
    for (const ManifestFileInfo& record : *this)
        bytes += FormatRecord(record);
    bytes += "</manifest>\r\n";
    return bytes;
}

bool LocalManifest::LoadDefault()
{
    return Load(DefaultPath());
}

bool LocalManifest::SaveDefault()
{
    return Save(DefaultPath());
}

wxString LocalManifest::DefaultPath() const
{
    return wxFileName(directory, fileName).GetFullPath();
}

bool LocalManifest::Scan()
{
    wxDir dir(directory);
    if (dir.IsOpened()) {
        ManifestTraverser traverser(this);
        dir.Traverse(traverser, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    }
    return true;
}

bool LocalManifest::CheckLocalChanges(ProgressNotifier* notifier)
{
    wxLogVerbose("Manifest size: %d", static_cast<int>(size()));
    bool changed = false;
    for (ManifestFileInfo& record : *this) {
        if (notifier != nullptr) {
            if (notifier->IsStopRequested())
                return false;
            notifier->AddProgress(1);
        }
        wxLogVerbose("Checking: %s", record.name);
        changed = Refresh(record) || changed;
    }
    wxLogVerbose("Manifest size: %d", static_cast<int>(size()));
    return changed;
}

// Hashes the record's file unless its size, time and checksum are already on
// record; true when it did. One metadata query per file: the pass runs over
// every installed file at each start.
bool LocalManifest::Refresh(ManifestFileInfo& record) const
{
    const wxString path = FullPath(record.name);
    platform::FileStatus status;
    if (!platform::GetFileStatus(path, status) || !status.regularFile) {
        wxLogMessage("Missing file detected: %s", record.name);
        return false;
    }
    // 64-bit compare: a file of 4 GiB or more never matches its 32-bit size.
    if (status.size == record.size && status.modified == record.timestamp && !record.checksum.empty())
        return false;
    wxLogMessage("File possibly changed, checking MD5: %s", path);
    record.size = static_cast<std::uint32_t>(status.size);
    record.timestamp = status.modified;
    record.checksum = FileMD5(path);
    return true;
}

// The toolkit's normalisation costs as much as the metadata query itself, and
// names rarely need it.
wxString LocalManifest::FullPath(const wxString& name) const
{
    if (!NeedsResolving(name)) {
        std::wstring path(directory.wc_str(), directory.length());
        path.append(name.wc_str(), name.length());
        std::replace(path.begin() + directory.length(), path.end(), L'\\',
                     static_cast<wchar_t>(wxFILE_SEP_PATH));
        return path;
    }
    wxFileName file(ManifestNameToPath(name));
    file.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE, directory);
    return file.GetFullPath();
}
