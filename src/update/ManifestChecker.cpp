#include "update/ManifestChecker.h"

#include "update/UpdateEngine.h"

ManifestChecker::ManifestChecker(UpdateEngine* engine) : wxThread(wxTHREAD_JOINABLE), engine(engine) {}

wxThread::ExitCode ManifestChecker::Entry()
{
    engine->Check();
    return nullptr;
}
