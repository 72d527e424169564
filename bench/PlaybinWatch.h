#ifndef BENCH_PLAYBINWATCH_H
#define BENCH_PLAYBINWATCH_H
// The plain GStreamer peer's bus, watched as gst-launch-1.0 watches it: the pipeline's state,
// buffering pausing it until full, an error (printed) and the end of the stream.
#include <gst/gst.h>

#include <cstdio>

namespace bench {

struct PlaybinWatch {
    GstElement* playbin = nullptr;
    GstState state = GST_STATE_NULL;
    bool ended = false;
    bool failed = false;

    // A bus watch function; `data` is the PlaybinWatch.
    static gboolean OnMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* self = static_cast<PlaybinWatch*>(data);
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_STATE_CHANGED:
                if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->playbin)) {
                    gst_message_parse_state_changed(message, nullptr, &self->state, nullptr);
                }
                break;
            case GST_MESSAGE_BUFFERING: {
                gint percent = 100;
                gst_message_parse_buffering(message, &percent);
                gst_element_set_state(self->playbin,
                                      percent < 100 ? GST_STATE_PAUSED : GST_STATE_PLAYING);
                break;
            }
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                std::fprintf(stderr, "playbin: %s\n", error != nullptr ? error->message : "?");
                g_clear_error(&error);
                self->failed = true;
                break;
            }
            case GST_MESSAGE_EOS: self->ended = true; break;
            default: break;
        }
        return G_SOURCE_CONTINUE;
    }
};

}  // namespace bench

#endif  // BENCH_PLAYBINWATCH_H
