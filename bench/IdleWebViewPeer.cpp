// A bare WebKit view for the idle benchmark's comparison: one GTK window of the given size
// showing one page with WebKit's defaults, the given cookies put in its store before the load.
// Prints "loaded" once the page has loaded; runs until it is ended.
//   IdleWebViewPeer URL WIDTHxHEIGHT [NAME=VALUE ...]
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <string>

#include "bench/Usage.h"

namespace {

struct Peer {
    WebKitWebView* view;
    std::string url;
    int cookiesLeft;
};

void LoadWhenReady(Peer* peer) {
    if (peer->cookiesLeft == 0) webkit_web_view_load_uri(peer->view, peer->url.c_str());
}

void CookieAdded(GObject* manager, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    if (!webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(manager), result, &error)) {
        std::fprintf(stderr, "a cookie was not stored: %s\n", error->message);
        g_error_free(error);
    }
    auto* peer = static_cast<Peer*>(data);
    --peer->cookiesLeft;
    LoadWhenReady(peer);
}

void LoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    std::printf("loaded\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(
            argc, argv,
            "usage: IdleWebViewPeer URL WIDTHxHEIGHT [NAME=VALUE ...]\n"
            "\n"
            "Shows URL in one WebKit view (WebKit's defaults) in a GTK window of WIDTHxHEIGHT, "
            "the\n"
            "cookies NAME=VALUE stored before the load; prints \"loaded\" once the page has "
            "loaded\n"
            "and runs until it is ended. bench/IdleCpuBench.sh measures it beside zul.\n")) {
        return 0;
    }
    int width = 0, height = 0;
    if (argc < 3 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || width <= 0 ||
        height <= 0) {
        std::fprintf(stderr, "usage: %s URL WIDTHxHEIGHT [NAME=VALUE ...]\n", argv[0]);
        return 2;
    }
    gtk_init(nullptr, nullptr);
    GUri* uri = g_uri_parse(argv[1], G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr || g_uri_get_host(uri) == nullptr) {
        std::fprintf(stderr, "not a URL: %s\n", argv[1]);
        return 2;
    }
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    Peer peer{WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context)), argv[1], argc - 3};
    g_signal_connect(peer.view, "load-changed", G_CALLBACK(LoadChanged), nullptr);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(peer.view));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);

    WebKitCookieManager* cookies = webkit_web_context_get_cookie_manager(context);
    for (int i = 3; i < argc; ++i) {
        const std::string pair = argv[i];
        const size_t equals = pair.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "not a cookie (NAME=VALUE): %s\n", argv[i]);
            return 2;
        }
        SoupCookie* cookie =
            soup_cookie_new(pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str(),
                            g_uri_get_host(uri), "/", -1);
        webkit_cookie_manager_add_cookie(cookies, cookie, nullptr, CookieAdded, &peer);
        soup_cookie_free(cookie);
    }
    g_uri_unref(uri);
    LoadWhenReady(&peer);
    gtk_main();
    return 0;
}
