#pragma once

#include <wx/stream.h>

#include <cstdint>

// Passes a source on unchanged until it offers more than limit bytes, then
// fails with wxSTREAM_READ_ERROR: a reader that keeps what it reads (an XML
// parser) cannot be fed without end. Unlike LimitedInputStream, going past the
// limit is an error, not the end of a run. The source's own end or error is
// passed on. The source is not owned and must outlive the filter.
class BoundedInputStream : public wxFilterInputStream {
public:
    BoundedInputStream(wxInputStream* source, std::uint64_t limit);
    ~BoundedInputStream() override;

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    std::uint64_t limit;
    std::uint64_t bytesRead = 0;
};
