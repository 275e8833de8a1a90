#include "download/ManifestUpdater.h"

#include "update/UpdateEngine.h"

ManifestUpdater::ManifestUpdater(UpdateEngine* engine) : wxThread(wxTHREAD_JOINABLE), engine(engine) {}

wxThread::ExitCode ManifestUpdater::Entry()
{
    engine->RunUpdate();
    return nullptr;
}
