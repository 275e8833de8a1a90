#pragma once

#include <wx/stream.h>

#include <cstddef>

// Passes an XML document on unchanged, but fails with wxSTREAM_READ_ERROR once
// the text between two tags holds more than limit characters other than white
// space. The toolkit's parser copies a text node whole each time a piece is
// added to it, so one long text costs time in the square of its length: a
// hostile server could stall the check with a few MiB that a manifest, made
// only of elements, never holds. The source is not owned and must outlive the
// filter.
class TextRunGuardInputStream : public wxFilterInputStream {
public:
    TextRunGuardInputStream(wxInputStream* source, std::size_t limit);
    ~TextRunGuardInputStream() override;

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    // False once the text being read is too long.
    bool Scan(char c);

    std::size_t limit;
    std::size_t textLength = 0;
    bool inTag = false;
    char quote = 0; // the quote of the attribute value being read, or 0
};
