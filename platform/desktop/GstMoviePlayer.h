#ifndef PLATFORM_DESKTOP_GST_MOVIE_PLAYER_H
#define PLATFORM_DESKTOP_GST_MOVIE_PLAYER_H
// The movie player in the window: GStreamer's playbin, its picture in a gtksink widget that
// the player's View() (a NativeView) shows in the renderer's window under the views the
// application puts over it, its sound through a volume element of ours to the default audio
// sink or, when the environment variable ZUL_SILENT is "1", to fakeaudiosink (tests and CI;
// still played on the clock).
//
// One playbin for the player's life, at GST_STATE_NULL whenever nothing is loaded. Its bus
// hands every message of interest, on whatever thread it was posted, to the player's loop;
// the player acts on it there and posts the contract's notifications (MoviePlayer.h):
// - prerolled (the first async-done): duration by query, load state 1 alone, then playing
//   when autoplay or Play() asks for it; load state 3 (playthrough OK) on the loop's next
//   step. A seek asked for before that is made first, and the movie is playable once it has
//   landed.
// - buffering below 100 % while playable and playing is wanted: load state 5 and the pipeline
//   paused; back at 100 %: load state 1, playing again, then 3 on the next step. The playback
//   state stays as it was through a stall. A paused movie (a seek while paused) waits without
//   a word (Play() says it then, if the data are still missing), and one paused during a stall
//   comes back with 3, not 1: the screen plays a movie whose load state comes back to 1.
// - the pipeline reaching PLAYING: playback state 1; PAUSED after Pause(): 2.
// - SetCurrentPlaybackTime while playable: a flushing key-unit seek, state 4 or 5 at once,
//   and the state before it once the seek has landed (the next async-done).
// - end of stream: stopped (state 0, load state 0), then did-finish "ended" (an end more than
//   1.5 s before the duration is a lost network connection: the HLS demuxer takes a failed
//   download of the last segment for the end); an error: the
//   same with did-finish "error" and the error (GstPlayerError), as for a plug-in GStreamer
//   lacks (its missing-plugin message), which would otherwise leave out a stream in silence.
// Position by query (the seek's target while a seek is under way), duration by query.
// The states, their notifications, the settings, Stop() and the finish are MoviePlayerBase's.
//
// Threads: made, used and destroyed on the loop's thread, which must also be the thread that
// iterates GLib's default context (gtksink draws there; the desktop runs the platform loop
// inside GLib with RunLoopSource). Stop, SetContentUrl and destruction bring the pipeline to
// NULL, which joins its streaming threads; destruction also drops the pipeline, so no thread
// of it outlives the player, and nothing it queued on the loop reaches anyone afterwards.

#include <gst/gst.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/media/MoviePlayerBase.h"

namespace ns::desktop {

class GstMoviePlayer : public MoviePlayerBase {
public:
    // The environment variable that sends the sound to fakeaudiosink when it is "1".
    static constexpr const char* kSilentVariable = "ZUL_SILENT";

    // Initialises GStreamer on first use. The loop defaults to ui::Loop() as it is now.
    GstMoviePlayer();
    GstMoviePlayer(RunLoop& loop, NotificationCenter& center);
    ~GstMoviePlayer() override;
    GstMoviePlayer(const GstMoviePlayer&) = delete;
    GstMoviePlayer& operator=(const GstMoviePlayer&) = delete;

    // Installs a factory of this player as the platform's (MoviePlayer::SetFactory). Called at
    // the start, before the process starts threads: it also has the heap keep few per-thread
    // arenas, which would otherwise hold on to what each movie's threads freed. It starts
    // GStreamer on a thread of its own ("GstStart"), so that the first player does not hold up
    // the window's thread; a player made before that start is over waits for the rest.
    static void Install();
    // Whether the start Install began is over.
    static bool Started();

    // Another URL also forgets the duration.
    void SetContentUrl(const std::string& url) override;
    void PrepareToPlay() override;
    void Play() override;
    void Pause() override;
    double CurrentPlaybackTime() const override;
    void SetCurrentPlaybackTime(double seconds) override;
    // Fit and None keep the aspect ratio with bars, Fill stretches, AspectFill keeps the
    // aspect ratio and cuts off what lies outside the view.
    void SetScalingMode(MovieScalingMode mode) override;
    std::shared_ptr<ui::View> View() const override { return view_; }

    // The audio sink in use ("fakeaudiosink" when silent), for tests and logs.
    std::string AudioSinkName() const;
    // playbin; null when it is missing. For tests: what it holds must go with the player.
    GstElement* Pipeline() const { return pipeline_; }
    // The sound volume the pipeline plays at: the application's (SystemVolume), followed as
    // it changes. -1 without a pipeline.
    double PipelineVolume() const;

private:
    struct Link;

    // The picture's frame lays the picture out (PictureRect) and cuts it off at its edges.
    static void OnFrameAllocate(GtkWidget* frame, GdkRectangle* allocation, gpointer self);
    static gboolean OnFrameDraw(GtkWidget* frame, cairo_t* cr, gpointer self);
    // Where the picture's widget goes for a frame at `frame`: once the picture's size is known,
    // the picture's shape fitted into the frame (AspectFit, None) or covering it (AspectFill);
    // else, and for Fill, the frame itself.
    GdkRectangle PictureRect(const GdkRectangle& frame) const;
    // The negotiated picture's display size (pixel aspect applied); false before caps.
    bool PictureSize(double* width, double* height) const;
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer link);
    // Puts the picture's widget in a window of ours when it is in none yet.
    void AnchorWidget();
    void OnMessage(uint64_t generation, GstMessage* message);
    // Ended, or, well before the duration, a network error.
    void OnEndOfStream();
    void OnAsyncDone();
    void OnBuffering(int percent);
    void OnPipelineState(GstState state);
    void UpdateDuration();
    // Load state 3 on the loop's next step, if the movie is still playable and not stalled.
    void PostPlaythrough();
    void SetPipelineState(GstState state);
    // GStreamer makes the wake-up socket pairs of its buses and polls without close-on-exec,
    // on this thread and on its streaming threads while the pipeline builds itself: marked
    // close-on-exec once made, at each step of the pipeline's, so that no program the
    // application starts (a web view's process) keeps them.
    void KeepDescriptorsFromChildren();
    bool StartSeek(double seconds);
    // Pipeline to NULL, nothing loaded (MoviePlayerBase::Reset posts the states after it).
    void ResetMedia() override;

    RunLoop& loop_;
    std::shared_ptr<Link> link_;
    GstElement* pipeline_ = nullptr;  // null when playbin is missing
    GstElement* videoSink_ = nullptr;
    std::shared_ptr<ui::View> view_;  // shows the picture's frame
    GtkWidget* picture_ = nullptr;    // gtksink's widget, held by the frame
    uint64_t volumeObserver_ = 0;     // on NotificationCenter::Default(), where SystemVolume posts
    GtkWidget* holder_ = nullptr;     // offscreen window for a picture not shown yet
    std::string audioSinkName_;       // of the sink in our audio output; empty: playbin's
    // A descriptor with the open file it stands for: a number closed since and taken again (by
    // a GStreamer socket) names another file, not the one that was open before.
    struct OpenDescriptor {
        int number;
        uint64_t device;
        uint64_t inode;
        bool operator<(const OpenDescriptor& o) const {
            return std::tie(number, device, inode) < std::tie(o.number, o.device, o.inode);
        }
    };
    static std::vector<OpenDescriptor> OpenDescriptors();
    std::vector<OpenDescriptor> descriptorsBefore_;  // open before the pipeline was made, in order

    guint32 seekSeqnum_ = GST_SEQNUM_INVALID;  // of the last seek sent; its async-done ends it
    uint64_t generation_ = 0;  // of the loading; messages of an earlier one are dropped
    bool loading_ = false;     // the pipeline is out of NULL
    bool playable_ = false;
    bool pauseRequested_ = false;  // Pause() asked for: reaching PAUSED posts state 2
    bool stalled_ = false;
    bool seeking_ = false;
    bool startSeekPending_ = false;  // a seek asked for before the movie was playable
    double seekTarget_ = 0;          // the position while seeking, or where loading starts
    mutable double lastPosition_ = 0;
    MoviePlaybackState resumeState_ = MoviePlaybackState::Stopped;  // after the seek
};

}  // namespace ns::desktop

#endif
