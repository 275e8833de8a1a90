#pragma once

#include "app/LauncherConfig.h"

#include <wx/string.h>

#include <memory>

class wxTranslations;

// Keeps the launcher's catalog installed as the toolkit's translations while it
// lives, and uninstalls them when destroyed, so that _() returns its argument
// again. The catalog is read without a system locale for its language, which
// many systems lack.
// Once installed, look-ups only read the catalog, and the toolkit keeps its
// copies of untranslated texts per thread, so any thread may call _(); create
// and destroy the object only while no worker thread runs. _() returns a
// reference into the shared catalog: a thread copies it before converting it
// to narrow text, since wxString caches that conversion inside the object.
class InstalledTranslations {
public:
    // Installs the catalog baseDir/code/launcher.mo; when it cannot be loaded, nothing is translated.
    InstalledTranslations(const wxString& baseDir, const wxString& code);
    ~InstalledTranslations();
    InstalledTranslations(const InstalledTranslations&) = delete;
    InstalledTranslations& operator=(const InstalledTranslations&) = delete;

    // True when the catalog was loaded and translates.
    bool IsLoaded() const { return loaded; }

private:
    wxTranslations* translations; // owned by the toolkit while installed
    bool loaded;
};

// Writes the executable's catalog for code to baseDir/code/launcher.mo, replacing any earlier file.
void ExtractCatalog(const wxString& code, const wxString& baseDir = GetExecutableDir());

// Writes and installs the catalog of the language; null for language 0, whose texts stay as written.
std::unique_ptr<InstalledTranslations> SetupTranslations(int languageId,
                                                         const wxString& baseDir = GetExecutableDir());
