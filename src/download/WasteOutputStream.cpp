#include "download/WasteOutputStream.h"

WasteOutputStream::WasteOutputStream() = default;

WasteOutputStream::~WasteOutputStream() = default;

size_t WasteOutputStream::OnSysWrite(const void*, size_t size)
{
    return size;
}

// There is nothing to position in: any seek succeeds where it was asked to go.
wxFileOffset WasteOutputStream::OnSysSeek(wxFileOffset position, wxSeekMode)
{
    return position;
}

wxFileOffset WasteOutputStream::OnSysTell() const
{
    return 0;
}
