// Failures of the GStreamer movie player that would otherwise pass unseen: a plug-in GStreamer
// lacks (the H.264 decoders ranked out of autoplugging, as on a machine without them) and the
// network going away after the movie started. Each ends the movie with did-finish "error", the
// error naming the reason, and the reason in the log.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/LoggedLines.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/media/testing/MoviePlayerContract.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;
using contract::MoviePlayerLog;

// Every decoder that takes H.264 has rank 0 (never autoplugged) while it lives; their ranks
// come back afterwards, so later tests of the program decode as before.
class H264DecodersRankedOut {
public:
    H264DecodersRankedOut() {
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

class GstMoviePlayerErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunLoop::Main().RunOnce(0ms);
        source_ = std::make_unique<RunLoopSource>(RunLoop::Main());
        contract::ServePlayerHls(origin_);
        player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
        log_ = std::make_unique<MoviePlayerLog>(*player_);
    }
    void TearDown() override {
        log_.reset();
        player_.reset();
        source_.reset();
    }
    static bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return IterateUntil(done, limit);
    }
    bool Playing() const { return player_->PlaybackState() == MoviePlaybackState::Playing; }
    // Ended with an error: exactly one did-finish, "error", the player stopped.
    void ExpectFinishedWithError() const {
        EXPECT_EQ(log_->Values(MoviePlayer::kPlaybackDidFinish),
                  std::vector<int>{static_cast<int>(MovieFinishReason::PlaybackError)});
        EXPECT_EQ(player_->PlaybackState(), MoviePlaybackState::Stopped);
        EXPECT_EQ(player_->LoadState(), kLoadStateUnknown);
    }

    SvTestSupport::TestOrigin origin_;
    std::unique_ptr<RunLoopSource> source_;
    std::unique_ptr<GstMoviePlayer> player_;
    std::unique_ptr<MoviePlayerLog> log_;
};

TEST_F(GstMoviePlayerErrorTest, AMissingDecoderEndsTheMovieWithGStreamersDescriptionOfIt) {
    LoggedLines lines;
    H264DecodersRankedOut rankedOut;
    ASSERT_GT(rankedOut.Count(), 0u) << "no H.264 decoder to rank out";
    const std::string url = origin_.Url("/v0/index.m3u8");
    player_->SetContentUrl(url);
    player_->Play();
    // Without a decoder the sound alone would play the 12 s to their end over a black picture.
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }));
    ExpectFinishedWithError();
    const Error error = log_->LastError();
    EXPECT_EQ(error.Domain(), MoviePlayer::kErrorDomain);
    EXPECT_EQ(error.GetCode(), GST_CORE_ERROR_MISSING_PLUGIN);
    EXPECT_EQ(error.FailingURL(), url);
    // GStreamer's own words for what is missing, then the movie's URL.
    const std::string text = error.LocalizedDescription();
    EXPECT_NE(text.find("H.264"), std::string::npos) << text;
    EXPECT_NE(text.find("decoder"), std::string::npos) << text;
    EXPECT_NE(text.find(url), std::string::npos) << text;
    const std::string logged = lines.FirstContaining("[GST] missing plug-in: ");
    EXPECT_NE(logged.find("H.264"), std::string::npos) << "logged: " << logged;
    // Nothing of that run reaches anyone afterwards.
    IterateFor(500ms);
    EXPECT_EQ(log_->Values(MoviePlayer::kPlaybackDidFinish).size(), 1u);
}

TEST_F(GstMoviePlayerErrorTest, TheNetworkGoingAwayWhilePlayingEndsTheMovieWithANetworkError) {
    LoggedLines lines;
    // The second segment's answer waits until the movie plays, then the connection is cut,
    // and the origin never answers again. (GStreamer's demuxer takes a failure of the last
    // segment for the end of the movie.)
    SvTestSupport::TestOrigin::Fault gone;
    gone.headDelayMs = 3000;
    gone.dropAfter = 0;
    gone.goneAfterCut = true;
    origin_.SetFault("/v0/seg1.ts", gone);
    const std::string url = origin_.Url("/v0/index.m3u8");
    player_->SetContentUrl(url);
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }, 30s));
    ExpectFinishedWithError();
    const Error error = log_->LastError();
    EXPECT_EQ(error.Domain(), Error::kURLErrorDomain) << error.ToString();
    EXPECT_EQ(error.GetCode(), Error::kNetworkConnectionLost) << error.ToString();
    EXPECT_EQ(lines.Containing(error.LocalizedDescription()), 1u);
}

}  // namespace
}  // namespace ns::desktop
