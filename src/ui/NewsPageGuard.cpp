#include "ui/NewsPageGuard.h"

#include <webkit2/webkit2.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/utils.h>
#include <wx/webview.h>

#include <memory>

namespace {

constexpr std::chrono::seconds BROWSER_INTERVAL(1);

WebKitWebView* NativeView(wxWebView& view)
{
    return WEBKIT_WEB_VIEW(view.GetNativeBackend());
}

// The address that a page's "httpx" link stands for, or empty when it names
// something other than a web page, which the desktop must not be asked to open.
wxString BrowserAddress(wxString url)
{
    if (url.StartsWith("httpx"))
        url.Replace("httpx", "http");
    const wxString lower = url.Lower();
    return lower.StartsWith("http://") || lower.StartsWith("https://") ? url : wxString();
}

// Scheme, host and port as the engine compares them; empty for an address without an origin.
wxString OriginOf(const wxString& url)
{
    const std::unique_ptr<WebKitSecurityOrigin, decltype(&webkit_security_origin_unref)> origin(
        webkit_security_origin_new_for_uri(url.utf8_str()), webkit_security_origin_unref);
    const std::unique_ptr<gchar, decltype(&g_free)> text(webkit_security_origin_to_string(origin.get()),
                                                         g_free);
    return text ? wxString::FromUTF8(text.get()) : wxString();
}

bool IsAttachment(WebKitURIResponse* response)
{
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    char* disposition = nullptr;
    if (headers == nullptr || !soup_message_headers_get_content_disposition(headers, &disposition, nullptr))
        return false;
    const bool attachment = g_ascii_strcasecmp(disposition, "attachment") == 0;
    g_free(disposition);
    return attachment;
}

wxString RequestUrl(WebKitNavigationPolicyDecision* decision, bool* clicked)
{
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(decision);
    *clicked = webkit_navigation_action_is_user_gesture(action);
    return wxString::FromUTF8(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
}

// Every decision is taken here and reported as taken, so the engine's default,
// which saves attachments in the player's folders, never runs.
gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                        NewsPageGuard* guard)
{
    bool allowed = false;
    bool clicked = false;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        const wxString url = RequestUrl(WEBKIT_NAVIGATION_POLICY_DECISION(decision), &clicked);
        allowed = guard->AllowsNavigation(url, clicked);
    } else if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        guard->OpenNewWindow(RequestUrl(WEBKIT_NAVIGATION_POLICY_DECISION(decision), &clicked), clicked);
    } else {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        WebKitURIResponse* answer = webkit_response_policy_decision_get_response(response);
        const bool showable =
            webkit_response_policy_decision_is_mime_type_supported(response) && !IsAttachment(answer);
        allowed = guard->AllowsResponse(wxString::FromUTF8(webkit_uri_response_get_uri(answer)),
                                        webkit_response_policy_decision_is_main_frame_main_resource(response),
                                        showable);
    }
    if (allowed)
        webkit_policy_decision_use(decision);
    else
        webkit_policy_decision_ignore(decision);
    return TRUE;
}

// The engine's own error page, never shown, would tell its raw message; a
// navigation that the guard refused or that another one replaced is no failure.
gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error, NewsPageGuard* guard)
{
    const bool refusedOrReplaced =
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    if (!refusedOrReplaced && guard->ShowsErrorPage(wxString::FromUTF8(uri)))
        webkit_web_view_load_alternate_html(view, NewsPageGuard::ErrorPage().utf8_str(), uri, nullptr);
    return TRUE;
}

// Downloads that start without a response decision (a link with a "download"
// attribute) end before the engine picks a file to write.
void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer)
{
    wxLogWarning("WebView: refused a download from the news page.");
    webkit_download_cancel(download);
}

} // namespace

NewsPageGuard::NewsPageGuard(wxWebView& webView) : view(webView)
{
    WebKitWebView* native = NativeView(view);
    // The toolkit's handler lets the engine decide what it does not veto, and
    // its navigation event does not tell a click from a script.
    g_signal_handlers_disconnect_matched(native, GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA),
                                         g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW), 0, nullptr,
                                         nullptr, &view);
    g_signal_connect(native, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(native, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(webkit_web_view_get_context(native), "download-started", G_CALLBACK(OnDownloadStarted),
                     this);
}

NewsPageGuard::~NewsPageGuard()
{
    WebKitWebView* native = NativeView(view);
    g_signal_handlers_disconnect_by_data(native, this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_context(native), this);
}

void NewsPageGuard::Load(const wxString& url)
{
    newsUrl = url;
    newsOrigin.clear();
    landing = true;
    view.LoadURL(url);
}

void NewsPageGuard::Reload()
{
    if (IsNewsSite(view.GetCurrentURL()))
        view.Reload();
    else
        Load(newsUrl);
}

bool NewsPageGuard::AllowsNavigation(const wxString& url, bool clicked)
{
    // Whether the frame is the top one shows only in the response: a script
    // may take an embedded frame anywhere, and the response keeps the top
    // frame on the site.
    if (!url.StartsWith("httpx") && (landing || IsNewsSite(url) || !clicked))
        return true;
    if (clicked)
        OpenInBrowser(url);
    return false;
}

void NewsPageGuard::OpenNewWindow(const wxString& url, bool clicked)
{
    if (clicked)
        OpenInBrowser(url);
}

bool NewsPageGuard::AllowsResponse(const wxString& url, bool topFrame, bool showable)
{
    if (!showable) {
        wxLogWarning("WebView: not saving %s from the news page.", url);
        return false;
    }
    if (!topFrame)
        return true;
    // The view's empty first page may answer after the news page was asked for.
    if (landing && url != "about:blank") {
        landing = false;
        newsOrigin = OriginOf(url);
        return true;
    }
    if (landing || IsNewsSite(url))
        return true;
    wxLogWarning("WebView: the news page may not leave its site for %s.", url);
    return false;
}

bool NewsPageGuard::ShowsErrorPage(const wxString& url) const
{
    return landing || IsNewsSite(url);
}

wxString NewsPageGuard::ErrorPage()
{
    return wxString::Format("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                            "<body style=\"font-family: sans-serif; text-align: center; margin-top: 120px\">"
                            "<h2>%s</h2><p>%s</p></body></html>",
                            _("The news could not be loaded."),
                            _("Please check your connection. You can still update and play the game."));
}

bool NewsPageGuard::IsNewsSite(const wxString& url) const
{
    return !newsOrigin.empty() && OriginOf(url) == newsOrigin;
}

// A page that floods the view with links, even after one click, opens the browser once a second at most.
void NewsPageGuard::OpenInBrowser(const wxString& url)
{
    const wxString address = BrowserAddress(url);
    if (address.empty()) {
        wxLogWarning("Not opening %s in the browser.", url);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (lastOpened && now - *lastOpened < BROWSER_INTERVAL) {
        wxLogWarning("WebView: not opening %s, the browser was opened less than a second ago.", address);
        return;
    }
    lastOpened = now;
    wxLogVerbose("Opening external browser for URL: %s", address);
    wxLaunchDefaultBrowser(address);
}
