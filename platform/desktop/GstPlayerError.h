#ifndef PLATFORM_DESKTOP_GST_PLAYER_ERROR_H
#define PLATFORM_DESKTOP_GST_PLAYER_ERROR_H
// GStreamer's error messages as the platform's errors, for the movie player's did-finish.
//
// GStreamer's HTTP source says little about network failures: a 404 arrives as "File not
// found" (an HTTP status in the debug text), and a refused connection only as "Internal data
// stream error" from the source. The player's screen and the portal tell network failures by
// the platform's URL error codes, so:
// - an HTTP status 400-599 in the debug text: kBadServerResponse ("The server answered HTTP
//   <status>: <url>");
// - from an element that reads a URI (the source, or a download inside the demuxer):
//   "Internal data stream error" and failures to open or read: kCannotConnectToHost before
//   the movie was playable, kNetworkConnectionLost after; a name that does not resolve
//   (not found without a status): kCannotFindHost;
// - anything else: MoviePlayer::kErrorDomain, GStreamer's code and message.
// The failing URL is the URI of the element that failed when it reads one, else the content
// URL; the description ends with ": " and that URL.
//
// A plug-in GStreamer lacks (a decoder for one of the movie's streams) is told only by an
// element message, while playback goes on without that stream (a black picture, or silence):
// GstMissingPluginError makes it the platform's error too.

#include <gst/gst.h>

#include <string>

#include "platform/net/Error.h"

namespace ns::desktop {

// message: an error message. playable: whether the movie had become playable.
Error GstPlayerError(GstMessage* message, const std::string& contentUrl, bool playable);

// Whether message is GStreamer's missing-plugin element message.
bool IsMissingPluginMessage(GstMessage* message);
// For a missing-plugin message: MoviePlayer::kErrorDomain, GStreamer's code for a missing
// plug-in, and "GStreamer has no plug-in for this movie: <GStreamer's description of the
// plug-in>: <content URL>".
Error GstMissingPluginError(GstMessage* message, const std::string& contentUrl);
// GStreamer's description of the plug-in a missing-plugin message asks for ("H.264 (Main
// Profile) decoder").
std::string MissingPluginDescription(GstMessage* message);

}  // namespace ns::desktop

#endif
