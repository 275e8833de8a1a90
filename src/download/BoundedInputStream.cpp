#include "download/BoundedInputStream.h"

#include <algorithm>

BoundedInputStream::BoundedInputStream(wxInputStream* source, std::uint64_t limit)
    : wxFilterInputStream(source), limit(limit)
{
    m_owns = false;
}

BoundedInputStream::~BoundedInputStream() = default;

size_t BoundedInputStream::OnSysRead(void* buffer, size_t size)
{
    if (!IsOk())
        return 0;
    if (bytesRead == limit) {
        // One byte more tells a source that ends right at the limit from one that goes on.
        char probe;
        const bool more = m_parent_i_stream->Read(&probe, 1).LastRead() > 0;
        m_lasterror = more ? wxSTREAM_READ_ERROR : m_parent_i_stream->GetLastError();
        return 0;
    }
    const auto wanted = static_cast<size_t>(std::min<std::uint64_t>(size, limit - bytesRead));
    const size_t delivered = m_parent_i_stream->Read(buffer, wanted).LastRead();
    bytesRead += delivered;
    if (delivered < wanted)
        m_lasterror = m_parent_i_stream->GetLastError();
    return delivered;
}
