#include "update/TextRunGuardInputStream.h"

TextRunGuardInputStream::TextRunGuardInputStream(wxInputStream* source, std::size_t limit)
    : wxFilterInputStream(source), limit(limit)
{
    m_owns = false;
}

TextRunGuardInputStream::~TextRunGuardInputStream() = default;

size_t TextRunGuardInputStream::OnSysRead(void* buffer, size_t size)
{
    if (!IsOk())
        return 0;
    const size_t delivered = m_parent_i_stream->Read(buffer, size).LastRead();
    if (delivered < size)
        m_lasterror = m_parent_i_stream->GetLastError();
    const char* bytes = static_cast<const char*>(buffer);
    for (size_t i = 0; i < delivered; ++i) {
        if (!Scan(bytes[i])) {
            m_lasterror = wxSTREAM_READ_ERROR;
            return i;
        }
    }
    return delivered;
}

// A ">" inside a quoted attribute value does not end its tag. A stray quote
// (an apostrophe in a comment) leaves the rest unchecked, never refused.
bool TextRunGuardInputStream::Scan(char c)
{
    if (inTag) {
        if (quote != 0)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else
            inTag = c != '>';
        return true;
    }
    if (c == '<') {
        inTag = true;
        textLength = 0;
        return true;
    }
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    return blank || ++textLength <= limit;
}
