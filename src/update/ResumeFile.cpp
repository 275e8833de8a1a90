#include "update/ResumeFile.h"

#include "platform/OwnFile.h"
#include "update/ManifestFileInfo.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/log.h>

#include <algorithm>

namespace {

// What the first line of the file names: the record whose bytes follow.
std::string Identity(const ManifestFileInfo& record)
{
    const wxString line = wxString::Format("%s %u %u %s %s\n", record.checksum, record.offset,
                                           record.compressed_size, record.source_zip, record.name);
    return std::string(line.utf8_str());
}

} // namespace

// Reads the kept bytes first, then the network's, appending those to the
// file; a failed write ends the keeping, never the download.
class ResumeFile::KeepingStream : public wxInputStream {
public:
    KeepingStream(std::uint64_t kept, wxInputStream& network) : keptLeft(kept), network(network) {}

    // Positioned at the first kept byte, or closed when nothing is kept.
    wxFile file;

protected:
    size_t OnSysRead(void* buffer, size_t size) override
    {
        if (keptLeft > 0) {
            const ssize_t count =
                file.IsOpened() ? file.Read(buffer, std::min<std::uint64_t>(size, keptLeft)) : -1;
            if (count <= 0) {
                m_lasterror = wxSTREAM_READ_ERROR;
                return 0;
            }
            keptLeft -= static_cast<std::uint64_t>(count);
            return static_cast<size_t>(count);
        }
        const size_t count = network.Read(buffer, size).LastRead();
        if (file.IsOpened() && count > 0 && file.Write(buffer, count) != count)
            file.Close();
        m_lasterror = network.GetLastError();
        return count;
    }

private:
    std::uint64_t keptLeft;
    wxInputStream& network;
};

// The backslash keeps the name apart from every release file's and every temporary file's.
ResumeFile::ResumeFile(const wxString& baseDir) : path(baseDir + wxFILE_SEP_PATH + "download\\resume") {}

std::uint32_t ResumeFile::KeptFor(const ManifestFileInfo& record) const
{
    if (record.compressed_size < MIN_KEPT_SIZE || !wxFileExists(path))
        return 0;
    wxFile file(platform::OpenRegularFile(path, platform::FileAccess::Read));
    if (!file.IsOpened())
        return 0;
    const std::string identity = Identity(record);
    std::string header(identity.size(), '\0');
    if (file.Read(header.data(), header.size()) != static_cast<ssize_t>(header.size()) || header != identity)
        return 0;
    const wxFileOffset kept = file.Length() - static_cast<wxFileOffset>(identity.size());
    return kept <= record.compressed_size ? static_cast<std::uint32_t>(kept) : 0;
}

ResumePoint ResumeFile::KeepOnlyFor(const FileList& list)
{
    if (!wxFileExists(path))
        return {};
    for (const ManifestFileInfo* record : list) {
        if (const std::uint32_t kept = KeptFor(*record); kept > 0)
            return {record, kept};
    }
    wxRemoveFile(path);
    return {};
}

void ResumeFile::Forget(const ManifestFileInfo& record)
{
    if (KeptFor(record) > 0)
        wxRemoveFile(path);
}

std::unique_ptr<wxInputStream> ResumeFile::Open(const ManifestFileInfo& record, std::uint32_t kept,
                                                wxInputStream& network)
{
    auto stream = std::make_unique<KeepingStream>(kept, network);
    wxFile& file = stream->file;
    if (kept > 0) {
        // Unreadable, the kept bytes go, and the stream fails: the next try fetches everything.
        file.Attach(platform::OpenRegularFile(path, platform::FileAccess::ReadWrite));
        if (!file.IsOpened() || file.Seek(Identity(record).size()) == wxInvalidOffset) {
            file.Close();
            wxRemoveFile(path);
        }
        wxLogMessage("Resuming %s after %u bytes.", record.name, kept);
    } else if (record.compressed_size >= MIN_KEPT_SIZE) {
        const std::string identity = Identity(record);
        file.Attach(platform::CreateFreshFile(path, wxS_DEFAULT));
        if (!file.IsOpened() || file.Write(identity.data(), identity.size()) != identity.size())
            file.Close();
    }
    return stream;
}
