#pragma once

#include <wx/stream.h>

#include <cstdint>

// Passes on at most limit bytes of a longer source, so that several files can
// be read one after another out of one response body. The source is not
// owned and must outlive the filter; after the limit it is positioned right
// behind the last byte passed on.
//
// A source that ends early shows up as a short stream, which the reader's
// checks catch; a source's read error (a transfer that failed) is the
// filter's read error too.
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
