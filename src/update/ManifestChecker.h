#pragma once

#include <wx/thread.h>

class UpdateEngine;

// Runs one update check of the engine. Joinable: the engine waits for it.
class ManifestChecker : public wxThread {
public:
    explicit ManifestChecker(UpdateEngine* engine);

protected:
    ExitCode Entry() override;

private:
    UpdateEngine* engine;
};
