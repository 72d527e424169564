#include "platform/desktop/GstPlayerError.h"

#include <gst/pbutils/missing-plugins.h>

#include <cctype>
#include <memory>

#include "platform/media/MoviePlayer.h"

namespace ns::desktop {

namespace {

// The first "(ddd)" in text with ddd an HTTP error status; 0 when there is none. The HTTP
// source writes "File not found (404), URL: ...".
int HttpStatusIn(const std::string& text) {
    for (size_t open = text.find('('); open != std::string::npos; open = text.find('(', open + 1)) {
        if (open + 4 >= text.size() || text[open + 4] != ')') continue;
        int status = 0;
        bool digits = true;
        for (size_t i = open + 1; i < open + 4; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
                digits = false;
                break;
            }
            status = status * 10 + (text[i] - '0');
        }
        if (digits && status >= 400 && status <= 599) return status;
    }
    return 0;
}

// The URI an element reads, when it is a source of one.
std::string SourceUri(GstObject* object) {
    if (object == nullptr || !GST_IS_URI_HANDLER(object) ||
        gst_uri_handler_get_uri_type(GST_URI_HANDLER(object)) != GST_URI_SRC) {
        return {};
    }
    gchar* uri = gst_uri_handler_get_uri(GST_URI_HANDLER(object));
    std::string result = uri != nullptr ? uri : "";
    g_free(uri);
    return result;
}

// Whether the error came from an HTTP source inside another element: the adaptive demuxer
// downloads the segments with a source of its own and posts that source's error as its own,
// naming the source's path ("/GstHLSDemux:hlsdemux0/.../GstSoupHTTPSrc:souphttpsrc0:") in the
// text.
bool FromDownloadInside(const std::string& text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("httpsrc:") != std::string::npos;
}

}  // namespace

Error GstPlayerError(GstMessage* message, const std::string& contentUrl, bool playable) {
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    std::unique_ptr<GError, decltype(&g_error_free)> error(raw, g_error_free);
    const std::string debug = rawDebug != nullptr ? rawDebug : "";
    g_free(rawDebug);
    const std::string text = error && error->message != nullptr ? error->message : "error";

    const std::string sourceUri = SourceUri(GST_MESSAGE_SRC(message));
    const bool fromSource = !sourceUri.empty() || FromDownloadInside(text + "\n" + debug);
    const std::string url = !sourceUri.empty() ? sourceUri : contentUrl;
    const std::string suffix = ": " + url;

    if (const int status = HttpStatusIn(debug); status != 0) {
        return Error(Error::kURLErrorDomain, Error::kBadServerResponse,
                     "The server answered HTTP " + std::to_string(status) + suffix, url);
    }
    if (fromSource && error) {
        const bool stream =
            error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED;
        const bool resource = error->domain == GST_RESOURCE_ERROR;
        if (resource && error->code == GST_RESOURCE_ERROR_NOT_FOUND) {
            return Error(Error::kURLErrorDomain, Error::kCannotFindHost,
                         "A server with the specified hostname could not be found" + suffix, url);
        }
        if (stream || (resource && (error->code == GST_RESOURCE_ERROR_OPEN_READ ||
                                    error->code == GST_RESOURCE_ERROR_READ ||
                                    error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE))) {
            if (playable) {
                return Error(Error::kURLErrorDomain, Error::kNetworkConnectionLost,
                             "The network connection was lost" + suffix, url);
            }
            return Error(Error::kURLErrorDomain, Error::kCannotConnectToHost,
                         "Could not connect to the server" + suffix, url);
        }
    }
    return Error(MoviePlayer::kErrorDomain, error ? error->code : 0, text + suffix, url);
}

bool IsMissingPluginMessage(GstMessage* message) {
    return message != nullptr && gst_is_missing_plugin_message(message);
}

std::string MissingPluginDescription(GstMessage* message) {
    gchar* raw = gst_missing_plugin_message_get_description(message);
    std::string description = raw != nullptr ? raw : "";
    g_free(raw);
    if (description.empty()) {
        // The message's own fields still say what was asked for.
        if (const GstStructure* s = gst_message_get_structure(message)) {
            gchar* fields = gst_structure_to_string(s);
            description = fields != nullptr ? fields : "";
            g_free(fields);
        }
    }
    return description.empty() ? "an unknown plug-in" : description;
}

Error GstMissingPluginError(GstMessage* message, const std::string& contentUrl) {
    return Error(MoviePlayer::kErrorDomain, GST_CORE_ERROR_MISSING_PLUGIN,
                 "GStreamer has no plug-in for this movie: " + MissingPluginDescription(message) +
                     ": " + contentUrl,
                 contentUrl);
}

}  // namespace ns::desktop
