#pragma once

#include <wx/stream.h>

#include <cstdint>

// Passes on at most limit bytes of a longer source, so that several files can
// be read one after another out of one response body. The source is not
// owned and must outlive the filter; after the limit it is positioned right
// behind the last byte passed on.
//
// The filter has no error of its own: a source that fails or ends early shows
// up only as a short stream, and the reader's checks catch the missing bytes.
class LimitedInputStream : public wxFilterInputStream {
public:
    LimitedInputStream(wxInputStream* source, std::uint64_t limit);
    ~LimitedInputStream() override;

    // True once limit bytes have been passed on; a source that ended early
    // leaves it false.
    bool Eof() const override;
    std::uint64_t BytesRead() const { return bytesRead; }

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    std::uint64_t limit;
    std::uint64_t bytesRead = 0;
};
