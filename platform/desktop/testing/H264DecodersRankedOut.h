#ifndef PLATFORM_DESKTOP_TESTING_H264DECODERSRANKEDOUT_H
#define PLATFORM_DESKTOP_TESTING_H264DECODERSRANKEDOUT_H

// A machine without an H.264 decoder, as far as GStreamer's autoplugging goes, for as long as
// the object lives.

#include <gst/gst.h>

#include <utility>
#include <vector>

namespace ns::desktop {

// Every decoder that takes H.264 has rank 0 (never autoplugged) while it lives; their ranks
// come back afterwards, so later tests of the program decode as before.
class H264DecodersRankedOut {
public:
    H264DecodersRankedOut() {
        // The registry is read at initialisation, which a program may not have reached yet
        // (its first player does it); a second call does nothing.
        gst_init(nullptr, nullptr);
        GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER,
                                                                GST_RANK_MARGINAL);
        GstCaps* h264 = gst_caps_from_string("video/x-h264");
        GList* taking = gst_element_factory_list_filter(decoders, h264, GST_PAD_SINK, FALSE);
        for (GList* item = taking; item != nullptr; item = item->next) {
            auto* feature = GST_PLUGIN_FEATURE(gst_object_ref(item->data));
            ranks_.emplace_back(feature, gst_plugin_feature_get_rank(feature));
            gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
        }
        gst_plugin_feature_list_free(taking);
        gst_plugin_feature_list_free(decoders);
        gst_caps_unref(h264);
    }
    ~H264DecodersRankedOut() {
        for (auto& [feature, rank] : ranks_) {
            gst_plugin_feature_set_rank(feature, rank);
            gst_object_unref(feature);
        }
    }
    H264DecodersRankedOut(const H264DecodersRankedOut&) = delete;
    H264DecodersRankedOut& operator=(const H264DecodersRankedOut&) = delete;

    size_t Count() const { return ranks_.size(); }

private:
    std::vector<std::pair<GstPluginFeature*, guint>> ranks_;
};

}  // namespace ns::desktop

#endif
