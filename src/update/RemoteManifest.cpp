#include "update/RemoteManifest.h"

#include "common/SignatureVerifier.h"
#include "download/BoundedInputStream.h"
#include "download/HTTPWrapper.h"
#include "download/ProgressInputStream.h"
#include "progress/ProgressNotifier.h"
#include "update/PatchDecoder.h"

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/zstream.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

const char FILE_ELEMENT[] = "file";
const char PATCH_ELEMENT[] = "patch";
const char PATCH_FORMAT[] = "zstd-frames";
// The release builder makes one per older release it patches against: a few.
constexpr std::size_t MAX_PATCHES_PER_FILE = 16;
// A signed manifest is held whole until its signature is checked: far above
// the 1 MB of a release of 20,000 files, far below what would hurt.
constexpr std::size_t MAX_SIGNED_MANIFEST_BYTES = 32u << 20;

// The gauge counts in int; an unknown length (wxInvalidOffset) shows as 0.
int ProgressRange(wxFileOffset announcedLength)
{
    return static_cast<int>(std::clamp<wxFileOffset>(announcedLength, 0, INT_MAX));
}

// A path of the manifest, a slash or a backslash between components, with
// backslashes only. Kept in UTF-8 until it is known to be good.
std::string ManifestPath(const char* text)
{
    std::string path(text);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A name that stays inside the directory it is relative to: not empty, no
// leading separator, no drive ("C:..."), no ".." part.
bool IsConfined(const std::string& name)
{
    if (name.empty() || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'))
        return false;
    return ("\\" + name + "\\").find("\\..\\") == std::string::npos;
}

// An offset or byte count: required and above 0. A negative one would wrap
// to a huge unsigned value.
ManifestResult ReadPositive(const ManifestParser::Child& element, const char* attribute, std::uint32_t& value)
{
    const char* text = element.Attribute(attribute);
    if (text == nullptr)
        return MANIFEST_MISSING_ATTRIBUTE;
    const std::int32_t number = ParseInt32(text);
    if (number < 1)
        return MANIFEST_OUT_OF_RANGE;
    value = static_cast<std::uint32_t>(number);
    return MANIFEST_OK;
}

// The installed size, when the release gives it: plain decimal digits within
// 32 bits. Without it the size stays 0, unknown.
ManifestResult ReadSize(const ManifestParser::Child& element, std::uint32_t& size)
{
    const char* text = element.Attribute("size");
    if (text == nullptr)
        return MANIFEST_OK;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, size);
    return error == std::errc() && stop == end ? MANIFEST_OK : MANIFEST_OUT_OF_RANGE;
}

// A digest as its number of hexadecimal digits: 64 for a SHA-256, 32 for an MD5.
bool IsDigest(const char* text, std::size_t digits)
{
    const std::size_t length = std::strlen(text);
    return length == digits && std::strspn(text, "0123456789abcdefABCDEF") == length;
}

// A patch inside a file's record; one this launcher cannot use is skipped,
// never the record. Patches are always stored.
void AppendPatch(const ManifestParser::Child& element, ManifestFileInfo& record)
{
    const char* from = element.Attribute("from");
    const char* archive = element.Attribute("source_zip");
    const char* format = element.Attribute("format");
    FilePatch patch;
    if (record.patches.size() == MAX_PATCHES_PER_FILE || std::strcmp(element.Name(), PATCH_ELEMENT) != 0 ||
        from == nullptr || !IsDigest(from, 32) || archive == nullptr || !IsConfined(ManifestPath(archive)) ||
        format == nullptr || std::strcmp(format, PATCH_FORMAT) != 0 ||
        ReadPositive(element, "offset", patch.offset) != MANIFEST_OK ||
        ReadPositive(element, "compressed_size", patch.compressed_size) != MANIFEST_OK ||
        ReadPositive(element, "segment", patch.segment) != MANIFEST_OK ||
        patch.segment > PatchDecoder::MAX_SEGMENT_SIZE) {
        wxLogVerbose("Skipped a patch for %s that this launcher cannot use.", record.name);
        return;
    }
    patch.from = wxString::FromUTF8(from);
    patch.source_zip = wxString::FromUTF8(ManifestPath(archive));
    record.patches.push_back(patch);
}

ManifestResult AppendRecord(const ManifestParser::Child& element, Manifest& manifest)
{
    if (std::strcmp(element.Name(), FILE_ELEMENT) != 0) {
        wxLogError("XML error: the only element supported is %s.", FILE_ELEMENT);
        return MANIFEST_UNKNOWN_ELEMENT;
    }
    const char* nameText = element.Attribute("name");
    const char* archiveText = element.Attribute("source_zip");
    const char* checksumText = element.Attribute("checksum");
    if (nameText == nullptr || archiveText == nullptr || checksumText == nullptr)
        return MANIFEST_MISSING_ATTRIBUTE;
    const std::string path = ManifestPath(nameText);
    const std::string archive = ManifestPath(archiveText);
    // The installer writes and deletes by these names: one that leaves the
    // installation fails the whole load before anything is touched.
    if (!IsConfined(path) || !IsConfined(archive))
        return MANIFEST_OUT_OF_RANGE;
    const wxString name = wxString::FromUTF8(path);

    std::int32_t mode = 0;
    if (const char* modeText = element.Attribute("permission")) {
        mode = ParseInt32(modeText, 8);
        wxLogVerbose("Read file mode %o for %s", mode, name);
        if (mode < 1)
            return MANIFEST_OUT_OF_RANGE;
    }
    std::uint32_t offset = 0, compressedSize = 0, size = 0;
    if (const ManifestResult read = ReadPositive(element, "offset", offset); read != MANIFEST_OK)
        return read;
    if (const ManifestResult read = ReadPositive(element, "compressed_size", compressedSize);
        read != MANIFEST_OK)
        return read;
    const char* compressed = element.Attribute("compressed");
    if (compressed == nullptr)
        return MANIFEST_MISSING_ATTRIBUTE;
    const bool isCompressed = std::strcmp(compressed, "true") == 0;
    if (!isCompressed && std::strcmp(compressed, "false") != 0)
        return MANIFEST_BAD_COMPRESSED;
    if (const ManifestResult read = ReadSize(element, size); read != MANIFEST_OK)
        return read;

    const char* sha256Text = element.Attribute("sha256");
    if (sha256Text != nullptr && !IsDigest(sha256Text, 64))
        return MANIFEST_OUT_OF_RANGE;

    const wxString checksum = wxString::FromUTF8(checksumText);
    manifest.emplace_back(name, wxString::FromUTF8(archive), mode, checksum, offset, isCompressed,
                          compressedSize);
    manifest.back().size = size;
    if (sha256Text != nullptr)
        manifest.back().sha256 = wxString::FromUTF8(sha256Text);
    wxLogVerbose("Read from remote manifest: %s, %s", name, checksum);
    return MANIFEST_OK;
}

} // namespace

bool RemoteManifest::Load(const wxString& url)
{
    return Load(url, nullptr);
}

bool RemoteManifest::Load(const wxString& url, ProgressNotifier* notifier)
{
    Begin(url);
    std::unique_ptr<wxInputStream> body = Open(url, notifier);
    if (!body || !Read(*body, notifier))
        return false;
    // Unsigned, a SHA-256 binds the bytes no better than their MD5: only a signed release pays for hashing
    // it.
    for (ManifestFileInfo& record : *this)
        record.sha256.clear();
    return true;
}

// The signature covers the bytes as served, so they are held whole and
// parsed only once it verifies.
bool RemoteManifest::LoadSigned(const wxString& url, const SignatureVerifier& publisher,
                                ProgressNotifier* notifier)
{
    Begin(url);
    std::string manifest;
    if (!Fetch(url, notifier, manifest))
        return false;
    wxString signature;
    if (!FetchSignature(signature, url, Options(notifier))) {
        result = MANIFEST_DOWNLOAD_FAILED;
        return false;
    }
    if (!publisher.Verify(manifest, signature.utf8_string())) {
        wxLogError("The manifest is not signed with the release key: %s", url);
        result = MANIFEST_NOT_SIGNED;
        return false;
    }
    wxLogMessage("The manifest is signed with the release key.");
    wxMemoryInputStream verified(manifest.data(), manifest.size());
    if (!Read(verified, nullptr))
        return false;
    // MD5 alone binds a file to the signature too weakly: its collisions are cheap.
    if (!HasEverySha256()) {
        result = MANIFEST_NOT_SIGNED;
        clear();
        return false;
    }
    return true;
}

bool RemoteManifest::HasEverySha256() const
{
    const auto lacking =
        std::find_if(begin(), end(), [](const ManifestFileInfo& record) { return record.sha256.empty(); });
    if (lacking == end())
        return true;
    wxLogError("The signed manifest gives no SHA-256 for %s.", lacking->name);
    return false;
}

void RemoteManifest::ReadRoot(const ManifestParser::Child& root)
{
    if (const char* text = root.Attribute("version"))
        version = wxString::FromUTF8(text);
    if (const char* text = root.Attribute("rollback"))
        rollback = std::strcmp(text, "1") == 0;
}

void RemoteManifest::Begin(const wxString& url)
{
    wxLogMessage("Reading manifest from: %s", url);
    result = MANIFEST_OK;
    // Whatever happens, the old records are gone: the list reflects the last attempt.
    clear();
}

RequestOptions RemoteManifest::Options(const ProgressNotifier* notifier) const
{
    return {.cancellation = notifier != nullptr ? &notifier->GetCancellation() : nullptr, .session = session};
}

std::unique_ptr<wxInputStream> RemoteManifest::Open(const wxString& url, ProgressNotifier* notifier)
{
    RequestFailure failure = RequestFailure::NONE;
    std::unique_ptr<wxInputStream> body = OpenGet(url, Options(notifier), &failure);
    if (!body) {
        result = failure == RequestFailure::BAD_URL ? MANIFEST_BAD_URL
                 : failure == RequestFailure::TLS   ? MANIFEST_TLS_FAILED
                                                    : MANIFEST_DOWNLOAD_FAILED;
        return nullptr;
    }
    if (notifier != nullptr)
        notifier->SetRange(ProgressRange(body->GetLength()));
    return body;
}

bool RemoteManifest::Fetch(const wxString& url, ProgressNotifier* notifier, std::string& bytes)
{
    std::unique_ptr<wxInputStream> body = Open(url, notifier);
    if (!body)
        return false;
    std::optional<ProgressInputStream> progress;
    if (notifier != nullptr)
        progress.emplace(body.get(), notifier);
    BoundedInputStream bounded(progress ? &*progress : body.get(), MAX_SIGNED_MANIFEST_BYTES);
    char buffer[64 * 1024];
    while (const size_t count = bounded.Read(buffer, sizeof buffer).LastRead())
        bytes.append(buffer, count);
    if (bounded.GetLastError() == wxSTREAM_READ_ERROR) {
        wxLogError("Malformed manifest or download error.");
        result = MANIFEST_DOWNLOAD_FAILED;
        return false;
    }
    return true;
}

// Records are taken as they arrive; those before a faulty one stay. A body
// that is not a complete gzip or zlib stream of well-formed XML within the
// parser's bounds leaves none.
bool RemoteManifest::Read(wxInputStream& body, ProgressNotifier* notifier)
{
    result = MANIFEST_OK;
    clear();
    version.clear();
    rollback = false;
    std::optional<ProgressInputStream> progress;
    if (notifier != nullptr)
        progress.emplace(&body, notifier);
    wxZlibInputStream inflated(progress ? *progress : body, wxZLIB_AUTO);
    const auto stopRequested = [notifier] { return notifier != nullptr && notifier->IsStopRequested(); };
    ManifestParser parser(
        [this](const ManifestParser::Child& element) {
            result = AppendRecord(element, *this);
            return result == MANIFEST_OK;
        },
        stopRequested);
    parser.SetRootHandler([this](const ManifestParser::Child& root) {
        ReadRoot(root);
        return true;
    });
    parser.SetGrandchildHandler([this](const ManifestParser::Child& element) {
        AppendPatch(element, back());
        return true;
    });

    const ManifestParser::Outcome outcome = parser.Parse(inflated);
    if (outcome == ManifestParser::COMPLETE || outcome == ManifestParser::REFUSED) {
        wxLogVerbose("Done reading remote manifest. Result: %d", result);
        return result == MANIFEST_OK;
    }
    // A stop also cuts the download, which the parser sees as a failed read.
    if (stopRequested())
        wxLogVerbose("Stopped while reading remote manifest.");
    else
        wxLogError("Malformed manifest or download error.");
    clear();
    result = MANIFEST_DOWNLOAD_FAILED;
    return false;
}

bool RemoteManifest::Save(const wxString&)
{
    result = MANIFEST_NOT_SAVED;
    return false;
}
