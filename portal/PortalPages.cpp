#include "portal/PortalPages.h"

#include <cstdio>

#include "platform/net/HtmlEscape.h"

namespace ZulPortal {

PortalPages::PortalPages(std::string address, std::string movieScheme)
    : address_(std::move(address)), movieScheme_(std::move(movieScheme)) {}

std::string PortalPages::MinutesSeconds(int seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
    return text;
}

std::string PortalPages::PlayLink(const PortalCatalog::Title& title) const {
    return movieScheme_ + "://" + address_ + "/api/playback?id=" + title.id;
}

std::string PortalPages::Layout(const std::string& title, const std::string& body,
                                bool signedIn) const {
    return "<!DOCTYPE html>\n"
           "<html lang=\"en\">\n"
           "<head>\n"
           "<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>ZUL &#183; " +
           ns::HtmlEscape::Escape(title) +
           "</title>\n"
           "<link rel=\"stylesheet\" href=\"/static/portal.css\">\n"
           "</head>\n"
           "<body>\n"
           "<header class=\"bar\"><a class=\"brand\" href=\"/home\">ZUL</a>\n"
           "<nav><a href=\"/series\">Series</a> <a href=\"/movies\">Movies</a> "
           "<a href=\"/my\">My ZUL</a></nav>\n" +
           (signedIn ? "<a class=\"account\" href=\"/c/portal/logout\">Sign out</a>\n"
                     : "<a class=\"account\" href=\"/c/portal/login\">Sign in</a>\n") +
           "</header>\n<main>\n" + body +
           "</main>\n"
           "<footer>ZUL demo portal on " +
           ns::HtmlEscape::Escape(address_) +
           "</footer>\n"
           "</body>\n"
           "</html>\n";
}

std::string PortalPages::Cards(const std::vector<const PortalCatalog::Title*>& titles) const {
    std::string html = "<ul class=\"grid\">\n";
    for (const PortalCatalog::Title* title : titles) {
        const std::string picture = "<img src=\"/thumbs/" + title->id +
                                    ".jpg\" alt=\"\" width=\"200\" height=\"112\">"
                                    "<span class=\"name\">" +
                                    ns::HtmlEscape::Escape(title->name) + "</span>";
        html += "<li class=\"card\">";
        html += title->hasPage ? "<a href=\"" + PagePath(*title) + "\">" + picture + "</a>"
                               : "<span class=\"soon\">" + picture + "</span>";
        html += "</li>\n";
    }
    return html + "</ul>\n";
}

std::string PortalPages::Home(bool signedIn) const {
    const PortalCatalog& catalog = PortalCatalog::Demo();
    std::string body =
        "<section class=\"hero\"><h1>Welcome to ZUL</h1>\n"
        "<p>Films and series in your pocket. Pick a title below, or browse the "
        "<a href=\"/series\">Series</a>, <a href=\"/movies\">Movies</a> and "
        "<a href=\"/my\">My ZUL</a> pages.</p></section>\n"
        "<h2>Movies</h2>\n" +
        Cards(catalog.OfKind(PortalCatalog::Kind::Movie)) + "<h2>Series</h2>\n" +
        Cards(catalog.OfKind(PortalCatalog::Kind::Series));
    return Layout("Home", body, signedIn);
}

std::string PortalPages::Grid(const std::string& heading,
                              const std::vector<const PortalCatalog::Title*>& titles,
                              const std::string& intro) const {
    return Layout(heading,
                  "<h1>" + ns::HtmlEscape::Escape(heading) + "</h1>\n<p class=\"intro\">" +
                      ns::HtmlEscape::Escape(intro) + "</p>\n" + Cards(titles),
                  true);
}

std::string PortalPages::My(
    const std::vector<std::pair<const PortalCatalog::Title*, Progress>>& watched,
    const std::vector<const PortalCatalog::Title*>& tests) const {
    std::string body = "<h1>My ZUL</h1>\n<h2>Continue watching</h2>\n";
    if (watched.empty()) {
        body += "<p class=\"intro\">Nothing yet: what you watch shows up here.</p>\n";
    } else {
        body += "<ul class=\"list\">\n";
        for (const auto& item : watched) {
            body +=
                "<li><a href=\"" + PagePath(*item.first) + "\">" +
                ns::HtmlEscape::Escape(item.first->name) + "</a> " +
                (item.second.completed ? std::string("watched")
                                       : "continue at " + MinutesSeconds(item.second.position)) +
                "</li>\n";
        }
        body += "</ul>\n";
    }
    body += "<h2>Test titles</h2>\n<p class=\"intro\">Each of these fails in its own way.</p>\n" +
            Cards(tests);
    return Layout("My ZUL", body, true);
}

std::string PortalPages::TitlePage(const PortalCatalog::Title& title,
                                   const Progress& progress) const {
    std::string body = "<article class=\"title\">\n<img class=\"poster\" src=\"/posters/" +
                       title.id + ".jpg\" alt=\"" + ns::HtmlEscape::Escape(title.name) +
                       "\" width=\"320\" height=\"180\">\n"
                       "<div class=\"about\">\n<h1>" +
                       ns::HtmlEscape::Escape(title.name) + "</h1>\n<p class=\"kind\">" +
                       PortalCatalog::KindName(title.kind) + "</p>\n<p>" +
                       ns::HtmlEscape::Escape(title.text) + "</p>\n";
    if (title.kind == PortalCatalog::Kind::Series) {
        body += "</div>\n</article>\n<h2>Episodes</h2>\n" +
                Cards(PortalCatalog::Demo().EpisodesOf(title.id));
    } else {
        body += "<p><a class=\"play\" href=\"" + ns::HtmlEscape::Escape(PlayLink(title)) +
                "\">Play</a></p>\n";
        std::string state;
        if (progress.completed) {
            state = "Watched to the end";
        } else if (progress.position > 0) {
            state = "continue at " + MinutesSeconds(progress.position);
        }
        body += "<p id=\"continue\">" + ns::HtmlEscape::Escape(state) + "</p>\n";
        body += "<p id=\"player-status\">" +
                (progress.error != 0 ? "Playback error " + std::to_string(progress.error)
                                     : std::string()) +
                "</p>\n</div>\n</article>\n";
    }
    body += "<script>\n" + BridgeScript() + "</script>\n";
    return Layout(title.name, body, true);
}

std::string PortalPages::SignIn(const std::string& message) const {
    const std::string body =
        "<h1>Sign in</h1>\n" +
        (message.empty() ? std::string()
                         : "<p class=\"message\">" + ns::HtmlEscape::Escape(message) + "</p>\n") +
        "<form class=\"signin\" method=\"post\" action=\"/c/portal/login\">\n"
        "<input type=\"hidden\" name=\"_58_redirect\" value=\"\">\n"
        "<label>E-mail <input type=\"email\" name=\"_58_login\"></label>\n"
        "<label>Password <input type=\"password\" name=\"_58_password\"></label>\n"
        "<label>Device <input type=\"text\" name=\"_58_did\" value=\"browser\"></label>\n"
        "<input type=\"hidden\" name=\"_58_dinfo\" value=\"Browser\">\n"
        "<button type=\"submit\" name=\"sign_in\" value=\"Sign in\">Sign in</button>\n"
        "</form>\n";
    return Layout("Sign in", body, false);
}

std::string PortalPages::Maintenance() const {
    return Layout("Maintenance",
                  "<h1>Back soon</h1>\n<p class=\"intro\">The service is being maintained. "
                  "Please try again later.</p>\n",
                  false);
}

std::string PortalPages::NotFound() const {
    return Layout("Not found",
                  "<h1>Not found</h1>\n<p class=\"intro\">There is nothing here. "
                  "<a href=\"/home\">Home</a></p>\n",
                  false);
}

std::string PortalPages::BridgeScript() {
    return "// Called by the application: ('play_progress', id, seconds), ('complete', id),\n"
           "// ('error', id, code). Shows what came and tells the portal.\n"
           "function __zulPlayerProxy(kind, id, value) {\n"
           "  var text;\n"
           "  if (kind === 'play_progress') {\n"
           "    var seconds = Math.max(0, Math.floor(Number(value) || 0));\n"
           "    var rest = seconds % 60;\n"
           "    text = 'Last position ' + Math.floor(seconds / 60) + ':' + (rest < 10 ? '0' : '') "
           "+ rest;\n"
           "  } else if (kind === 'complete') {\n"
           "    text = 'Completed';\n"
           "  } else if (kind === 'error') {\n"
           "    text = 'Playback error ' + value;\n"
           "  } else {\n"
           "    text = 'Unknown report ' + kind;\n"
           "  }\n"
           "  var status = document.getElementById('player-status');\n"
           "  if (status) status.textContent = text + ' (title ' + id + ')';\n"
           "  var request = new XMLHttpRequest();\n"
           "  request.open('POST', '/api/progress', true);\n"
           "  request.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');\n"
           "  request.send('kind=' + encodeURIComponent(kind) + '&id=' + "
           "encodeURIComponent(String(id)) +\n"
           "               '&value=' + encodeURIComponent(value === undefined ? '' : "
           "String(value)));\n"
           "  return text;\n"
           "}\n";
}

std::string PortalPages::Stylesheet() {
    return "body { margin: 0; background: #15161a; color: #e8e8ec; "
           "font: 16px/1.4 sans-serif; }\n"
           "a { color: #f0c24b; }\n"
           ".bar { display: flex; align-items: center; gap: 24px; padding: 12px 20px; "
           "background: #23252c; border-bottom: 3px solid #f0c24b; }\n"
           ".brand { font-weight: bold; font-size: 24px; text-decoration: none; }\n"
           ".bar nav { flex: 1; }\n"
           ".bar nav a { margin-right: 16px; text-decoration: none; color: #e8e8ec; }\n"
           ".account { color: #9aa0ad; }\n"
           "main { padding: 16px 20px; }\n"
           ".hero { padding: 8px 0 16px; }\n"
           ".intro, .kind { color: #9aa0ad; }\n"
           ".grid { list-style: none; padding: 0; display: flex; flex-wrap: wrap; gap: 16px; }\n"
           ".card { width: 200px; background: #23252c; border-radius: 6px; overflow: hidden; }\n"
           ".card a, .card .soon { display: block; color: #e8e8ec; text-decoration: none; }\n"
           ".card img { display: block; background: #000; }\n"
           ".card .name { display: block; padding: 8px; }\n"
           ".soon { opacity: 0.5; }\n"
           ".title { display: flex; flex-wrap: wrap; gap: 20px; }\n"
           ".poster { border-radius: 6px; background: #000; }\n"
           ".play { display: inline-block; padding: 10px 28px; background: #f0c24b; "
           "color: #15161a; border-radius: 4px; font-weight: bold; text-decoration: none; }\n"
           "#continue, #player-status { color: #9aa0ad; }\n"
           ".signin label { display: block; margin: 8px 0; }\n"
           ".message { color: #ff8a80; }\n"
           "footer { padding: 16px 20px; color: #6b7080; font-size: 12px; }\n";
}

}  // namespace ZulPortal
