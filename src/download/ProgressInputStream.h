#pragma once

#include <wx/stream.h>

class ProgressNotifier;

// Reports the byte count of every read, empty ones included, to a progress
// notifier, and passes a read error of the source on. Neither the source nor
// the notifier is owned; both must outlive the filter.
class ProgressInputStream : public wxFilterInputStream {
public:
    ProgressInputStream(wxInputStream* source, ProgressNotifier* notifier);
    ~ProgressInputStream() override;

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    ProgressNotifier* notifier;
};
