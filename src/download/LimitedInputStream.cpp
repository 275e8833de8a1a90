#include "download/LimitedInputStream.h"

#include <algorithm>

LimitedInputStream::LimitedInputStream(wxInputStream* source, std::uint64_t limit)
    : wxFilterInputStream(source), limit(limit)
{
    m_owns = false;
}

LimitedInputStream::~LimitedInputStream() = default;

bool LimitedInputStream::Eof() const
{
    return bytesRead >= limit;
}

// Past the limit the source is asked for 0 bytes and the read returns 0,
// which ends the reader's copy loop.
size_t LimitedInputStream::OnSysRead(void* buffer, size_t size)
{
    const auto wanted = static_cast<size_t>(std::min<std::uint64_t>(size, limit - bytesRead));
    const size_t delivered = m_parent_i_stream->Read(buffer, wanted).LastRead();
    bytesRead += delivered;
    // A transfer that failed is not a file that ended: the reader must not take it for corrupt.
    if (delivered < wanted && m_parent_i_stream->GetLastError() == wxSTREAM_READ_ERROR)
        m_lasterror = wxSTREAM_READ_ERROR;
    return delivered;
}
