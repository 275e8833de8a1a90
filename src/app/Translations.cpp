#include "app/Translations.h"

#include "platform/AtomicFile.h"
#include "platform/Resources.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/translation.h>

#include <string>

namespace {

const char CATALOG_DOMAIN[] = "launcher";

wxString CatalogDir(const wxString& baseDir, const wxString& code)
{
    return baseDir + wxFILE_SEP_PATH + code;
}

wxString CatalogPath(const wxString& baseDir, const wxString& code, const wxString& domain = CATALOG_DOMAIN)
{
    return wxFileName(CatalogDir(baseDir, code), domain, "mo").GetFullPath();
}

bool MakeDirectory(const wxString& dir)
{
    // Our own warning explains the failure; the toolkit's error would repeat it.
    // Set-up runs before any worker thread, so muting the log hides nothing else.
    wxLogNull quiet;
    return wxFileName::Mkdir(dir, 0777, wxPATH_MKDIR_FULL);
}

// Loads catalogs only from the files ExtractCatalog writes, never from the
// system's message directories, and offers only the one language extracted.
class ExtractedCatalogLoader : public wxTranslationsLoader {
public:
    ExtractedCatalogLoader(const wxString& baseDir, const wxString& code) : baseDir(baseDir), code(code) {}

    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& lang) override
    {
        const wxString path = CatalogPath(baseDir, lang, domain);
        return wxFileName::FileExists(path) ? wxMsgCatalog::CreateFromFile(path, domain) : nullptr;
    }

    wxArrayString GetAvailableTranslations(const wxString&) const override
    {
        wxArrayString languages;
        languages.push_back(code);
        return languages;
    }

private:
    wxString baseDir;
    wxString code;
};

} // namespace

InstalledTranslations::InstalledTranslations(const wxString& baseDir, const wxString& code)
    : translations(new wxTranslations), loaded(false)
{
    translations->SetLoader(new ExtractedCatalogLoader(baseDir, code));
    // A language code rather than a wxLanguage: the configured identifiers are
    // those of an older toolkit and mean other languages in this one (151 is Czech).
    translations->SetLanguage(code);
    // The msgids are US English. AddCatalog also reports success without loading
    // anything when the msgid language equals the target language, so whether a
    // catalog is in place is asked separately.
    loaded = !code.empty() && translations->AddCatalog(CATALOG_DOMAIN, wxLANGUAGE_ENGLISH_US) &&
             translations->IsLoaded(CATALOG_DOMAIN);
    wxTranslations::Set(translations);
}

InstalledTranslations::~InstalledTranslations()
{
    // Set() deletes the installed object; leave alone one installed after ours.
    if (wxTranslations::Get() == translations)
        wxTranslations::Set(nullptr);
}

void ExtractCatalog(const wxString& code, const wxString& baseDir)
{
    const wxString dir = CatalogDir(baseDir, code);
    wxLogVerbose("Creating directory: %s", dir);
    if (!MakeDirectory(dir)) {
        wxLogWarning("Error creating directory : %s", dir);
        return;
    }

    const wxString file = CatalogPath(baseDir, code);
    wxLogVerbose("Extracting %s", file);
    const auto bytes = platform::LoadResourceData("MOFILE_LAUNCHER_" + code.Upper(), "MOFILE");
    // Replaced in one step, so a launcher starting at the same moment never reads half a catalog.
    if (!bytes.empty())
        platform::WriteFileAtomically(file, std::string(bytes.begin(), bytes.end()));
}

std::unique_ptr<InstalledTranslations> SetupTranslations(int languageId, const wxString& baseDir)
{
    const wxString code = LanguageCode(languageId);
    if (code == "draft")
        return nullptr;
    if (!code.empty())
        ExtractCatalog(code, baseDir);
    auto installed = std::make_unique<InstalledTranslations>(baseDir, code);
    if (!installed->IsLoaded())
        wxLogWarning("The language %d is not supported by the system.", languageId);
    return installed;
}
