#include "download/ProgressInputStream.h"

#include "progress/ProgressNotifier.h"

#include <algorithm>
#include <limits>

ProgressInputStream::ProgressInputStream(wxInputStream* source, ProgressNotifier* notifier)
    : wxFilterInputStream(source), notifier(notifier)
{
    m_owns = false;
}

ProgressInputStream::~ProgressInputStream() = default;

size_t ProgressInputStream::OnSysRead(void* buffer, size_t size)
{
    // The notifier counts in int; a shorter read is still a valid read.
    const size_t wanted = std::min<size_t>(size, std::numeric_limits<int>::max());
    const size_t delivered = m_parent_i_stream->Read(buffer, wanted).LastRead();
    notifier->AddProgress(static_cast<int>(delivered));
    if (delivered < wanted && m_parent_i_stream->GetLastError() == wxSTREAM_READ_ERROR)
        m_lasterror = wxSTREAM_READ_ERROR;
    return delivered;
}
