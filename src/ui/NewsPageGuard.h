#pragma once

#include <wx/string.h>

#include <chrono>
#include <optional>

class wxWebView;

// What the news page may do in the launcher's window, decided in the web
// engine's own signals, which alone tell whether the player clicked. The view
// shows pages of the news site only and saves no file; a click on a link that
// leaves the site, or on an "httpx" link, opens the player's browser, at most
// once a second, and nothing else does; a page that does not load is replaced
// by a short text of ours in the player's language.
class NewsPageGuard {
public:
    // Takes over the view's decisions until the guard goes, which must be
    // before the view.
    explicit NewsPageGuard(wxWebView& view);
    ~NewsPageGuard();
    NewsPageGuard(const NewsPageGuard&) = delete;
    NewsPageGuard& operator=(const NewsPageGuard&) = delete;

    // Loads the news page; the view then keeps to the site where it lands.
    void Load(const wxString& url);
    // Reloads the page shown, or the news page in place of our error page.
    void Reload();

    // Whether the view may follow a navigation in any of its frames; one that
    // is the browser's business goes there when the player clicked.
    bool AllowsNavigation(const wxString& url, bool clicked);
    // A page that asks for a window of its own gets the browser, on a click.
    void OpenNewWindow(const wxString& url, bool clicked);
    // Whether the view may take a response: only pages it can show, and for
    // its top frame only those of the news site.
    bool AllowsResponse(const wxString& url, bool topFrame, bool showable);
    // Whether a failed load of the top frame gets our error page: only one
    // of the news site, so a page cannot blank the view by a failing jump.
    bool ShowsErrorPage(const wxString& url) const;
    static wxString ErrorPage();

private:
    bool IsNewsSite(const wxString& url) const;
    void OpenInBrowser(const wxString& url);

    wxWebView& view;
    wxString newsUrl;
    // Empty until the news page's first response names where it landed,
    // which may be another address than the configured one.
    wxString newsOrigin;
    bool landing = false;
    std::optional<std::chrono::steady_clock::time_point> lastOpened;
};
