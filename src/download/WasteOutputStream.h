#pragma once

#include <wx/stream.h>

// Swallows whatever is written to it: the sink for the bytes between two
// wanted runs of a response body. Writes never fail.
class WasteOutputStream : public wxOutputStream {
public:
    WasteOutputStream();
    ~WasteOutputStream() override;

protected:
    size_t OnSysWrite(const void* buffer, size_t size) override;
    wxFileOffset OnSysSeek(wxFileOffset position, wxSeekMode mode) override;
    wxFileOffset OnSysTell() const override;
};
