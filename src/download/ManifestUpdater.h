#pragma once

#include <wx/thread.h>

class UpdateEngine;

// Runs one update (download and install) of the engine. Joinable: the engine waits for it.
class ManifestUpdater : public wxThread {
public:
    explicit ManifestUpdater(UpdateEngine* engine);

protected:
    ExitCode Entry() override;

private:
    UpdateEngine* engine;
};
