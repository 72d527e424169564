#include "platform/desktop/GstMoviePlayer.h"

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "SVLibrary/Socket/CloseOnExec.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/desktop/GstPlayerError.h"
#include "platform/desktop/NativeView.h"
#include "platform/media/SystemVolume.h"
#include "platform/ui/Loop.h"

namespace ns::desktop {

namespace {

// Each movie runs on new streaming threads, and glibc gives threads arenas of their own (up to
// eight per core), which keep the pages of what each movie freed: more resident memory after
// every movie played, every byte of it freed. A few arenas shared by all threads give the
// memory back (unless the environment chose otherwise). Best before the process starts its
// threads: arenas made before stay.
void FewerMallocArenas() {
    if (std::getenv("MALLOC_ARENA_MAX") == nullptr) mallopt(M_ARENA_MAX, 4);
}

bool Silent() {
    const char* value = std::getenv(GstMoviePlayer::kSilentVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// GStreamer's start (its registry read, the plug-ins of a player loaded) takes about a third of
// a second. Started from Install on a thread of its own, it is over long before the person
// opens the first player, and the window does not wait for it; a player made before it is
// over waits for the rest. Joined at exit if no player ever waited for it.
class GstStart {
public:
    static GstStart& Shared() {
        static GstStart start;
        return start;
    }
    void Begin() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (begun_) return;
        begun_ = true;
        // Read on the caller's thread, whose environment may change while the start runs.
        const char* audioSink = Silent() ? "fakeaudiosink" : "autoaudiosink";
        thread_ = std::thread([this, audioSink] {
            pthread_setname_np(pthread_self(), "GstStart");
            Warm(audioSink);
            done_.store(true);
        });
    }
    // Waits for a start under way to end.
    void Wait() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thread_.joinable()) thread_.join();
    }
    bool Done() const { return done_.load(); }
    ~GstStart() { Wait(); }

private:
    // What the first player would otherwise do on the window's thread: GStreamer's start,
    // playbin made once, and the plug-ins of the elements the player makes loaded.
    static void Warm(const char* audioSink) {
        if (!gst_init_check(nullptr, nullptr, nullptr)) return;  // GstReady tells why
        if (GstElement* playbin = gst_element_factory_make("playbin", nullptr)) {
            gst_object_unref(gst_object_ref_sink(playbin));
        }
        for (const char* name : {"gtksink", "volume", audioSink}) {
            if (GstElementFactory* factory = gst_element_factory_find(name)) {
                GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
                if (loaded != nullptr) gst_object_unref(loaded);
                gst_object_unref(factory);
            }
        }
    }

    std::mutex mutex_;
    bool begun_ = false;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

bool GstReady() {
    static const bool ready = [] {
        FewerMallocArenas();
        GstStart::Shared().Wait();
        GError* error = nullptr;
        if (gst_init_check(nullptr, nullptr, &error)) return true;
        ns::Log("[GST] GStreamer cannot start: %s", error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }();
    return ready;
}

double Seconds(gint64 nanoseconds) { return static_cast<double>(nanoseconds) / GST_SECOND; }

// How far before the duration an end of stream may come and still be the movie's end (the
// playlist's durations are rounded; the last frame starts before the end).
constexpr double kEarlyEndSeconds = 1.5;

// playbin's flag for a volume element of its own in front of the audio sink.
constexpr guint kPlayFlagSoftVolume = 1u << 4;

// The sound's way out: a volume element of ours in front of the sink made by `factory`, as one
// element (a bin); null when either cannot be made.
GstElement* MakeAudioOutput(const char* factory) {
    GstElement* sink = gst_element_factory_make(factory, nullptr);
    GstElement* volume = gst_element_factory_make("volume", nullptr);
    if (sink == nullptr || volume == nullptr) {
        if (sink != nullptr) gst_object_unref(gst_object_ref_sink(sink));
        if (volume != nullptr) gst_object_unref(gst_object_ref_sink(volume));
        return nullptr;
    }
    GstElement* bin = gst_bin_new("audio-output");
    gst_bin_add_many(GST_BIN(bin), volume, sink, nullptr);
    GstPad* input = gst_element_get_static_pad(volume, "sink");
    const bool made = gst_element_link(volume, sink) &&
                      gst_element_add_pad(bin, gst_ghost_pad_new("sink", input));
    gst_object_unref(input);
    if (!made) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    return bin;
}

}  // namespace

// What the bus handler reaches from the pipeline's threads while the player lives.
struct GstMoviePlayer::Link {
    RunLoop* loop = nullptr;
    GstMoviePlayer* player = nullptr;  // used on the loop's thread only
    GstElement* pipeline = nullptr;
    std::atomic<uint64_t> generation{0};
};

GstMoviePlayer::GstMoviePlayer() : GstMoviePlayer(ui::Loop(), NotificationCenter::Default()) {}

GstMoviePlayer::GstMoviePlayer(RunLoop& loop, NotificationCenter& center)
    : MoviePlayerBase(center), loop_(loop), link_(std::make_shared<Link>()) {
    link_->loop = &loop;
    link_->player = this;
    descriptorsBefore_ = OpenDescriptors();
    GtkWidget* widget = nullptr;
    if (GstReady()) {
        pipeline_ = gst_element_factory_make("playbin", nullptr);
        videoSink_ = gst_element_factory_make("gtksink", nullptr);
        if (pipeline_ == nullptr) ns::Log("[GST] playbin is missing: movies cannot play");
    }
    if (videoSink_ != nullptr) {
        gst_object_ref_sink(videoSink_);
        g_object_get(videoSink_, "widget", &widget, nullptr);  // a new reference
        // Drawn among the views instead of in a window of its own, which would cover the
        // views the application puts over the picture (NativeView).
        if (widget != nullptr && !gtk_widget_get_realized(widget)) {
            gtk_widget_set_has_window(widget, FALSE);
        }
    } else if (pipeline_ != nullptr) {
        ns::Log("[GST] gtksink is missing: movies play without a picture");
        videoSink_ = gst_element_factory_make("fakesink", nullptr);
        if (videoSink_ != nullptr) gst_object_ref_sink(videoSink_);
        if (videoSink_ != nullptr) g_object_set(videoSink_, "sync", TRUE, nullptr);
    }
    if (pipeline_ != nullptr) {
        gst_object_ref_sink(pipeline_);
        link_->pipeline = pipeline_;
        if (videoSink_ != nullptr) g_object_set(pipeline_, "video-sink", videoSink_, nullptr);
        // playbin's own volume element (its "soft volume") stays in memory with its two pads
        // after every movie played, its pipeline gone (GStreamer 1.22). It is turned off, and
        // the sound goes through a volume element of ours that playbin finds and sets instead.
        const char* sinkFactory = Silent() ? "fakeaudiosink" : "autoaudiosink";
        if (GstElement* audio = MakeAudioOutput(sinkFactory)) {
            g_object_set(pipeline_, "audio-sink", audio, nullptr);
            guint flags = 0;
            g_object_get(pipeline_, "flags", &flags, nullptr);
            g_object_set(pipeline_, "flags", flags & ~kPlayFlagSoftVolume, nullptr);
            audioSinkName_ = sinkFactory;
        } else if (Silent()) {
            ns::Log("[GST] %s or volume is missing: the sound goes to the default sink",
                    sinkFactory);
        }
        // The application's volume, now and as it changes.
        g_object_set(pipeline_, "volume", SystemVolume::Get(), nullptr);
        GstElement* pipeline = pipeline_;
        volumeObserver_ = NotificationCenter::Default().AddObserver(
            SystemVolume::kDidChange, [pipeline](const Notification& notification) {
                g_object_set(pipeline, "volume",
                             notification.userInfo[SystemVolume::kVolumeKey].DoubleValue(),
                             nullptr);
            });
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(
            bus, &GstMoviePlayer::OnBusMessage, new std::weak_ptr<Link>(link_),
            [](gpointer data) { delete static_cast<std::weak_ptr<Link>*>(data); });
        gst_object_unref(bus);
        KeepDescriptorsFromChildren();
    }
    GtkWidget* frame = nullptr;
    if (widget != nullptr) {
        // The picture sits in a frame of its own that the view shows, so that it can be laid
        // out larger than the view (aspect fill) and cut off at the view's edges.
        frame = gtk_fixed_new();
        picture_ = widget;
        gtk_fixed_put(GTK_FIXED(frame), widget, 0, 0);
        gtk_widget_show(widget);
        g_signal_connect_after(frame, "size-allocate", G_CALLBACK(&GstMoviePlayer::OnFrameAllocate),
                               this);
        g_signal_connect(frame, "draw", G_CALLBACK(&GstMoviePlayer::OnFrameDraw), this);
    }
    view_ = std::make_shared<NativeView>(frame);
    if (widget != nullptr) g_object_unref(widget);
    view_->SetBackgroundColor(ui::Color::Black());
    SetScalingMode(ScalingMode());
}

GstMoviePlayer::~GstMoviePlayer() {
    // The view (and its picture widget) may outlive the player.
    if (GtkWidget* widget = static_cast<NativeView*>(view_.get())->Widget()) {
        g_signal_handlers_disconnect_by_data(widget, this);
    }
    if (volumeObserver_ != 0) NotificationCenter::Default().RemoveObserver(volumeObserver_);
    if (holder_ != nullptr) {
        // The picture's widget belongs to the view: only the holder goes.
        auto* native = static_cast<NativeView*>(view_.get());
        if (native->Widget() != nullptr && gtk_widget_get_parent(native->Widget()) == holder_) {
            gtk_container_remove(GTK_CONTAINER(holder_), native->Widget());
        }
        gtk_widget_destroy(holder_);
    }
    link_.reset();  // messages still queued on the loop find nobody
    if (pipeline_ != nullptr) {
        // Joins the streaming threads; the bus handler goes once nothing can post any more.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(pipeline_);
    }
    if (videoSink_ != nullptr) gst_object_unref(videoSink_);
}

void GstMoviePlayer::Install() {
    FewerMallocArenas();
    GstStart::Shared().Begin();
    MoviePlayer::SetFactory([] { return std::make_unique<GstMoviePlayer>(); });
}

bool GstMoviePlayer::Started() { return GstStart::Shared().Done(); }

std::string GstMoviePlayer::AudioSinkName() const {
    if (pipeline_ == nullptr) return {};
    if (!audioSinkName_.empty()) return audioSinkName_;
    GstElement* sink = nullptr;
    g_object_get(pipeline_, "audio-sink", &sink, nullptr);
    if (sink == nullptr) return "autoaudiosink";  // playbin's own choice
    GstElementFactory* factory = gst_element_get_factory(sink);
    std::string name = factory != nullptr ? gst_plugin_feature_get_name(factory) : "";
    gst_object_unref(sink);
    return name;
}

void GstMoviePlayer::AnchorWidget() {
    GtkWidget* widget = static_cast<NativeView*>(view_.get())->Widget();
    if (widget == nullptr || gtk_widget_is_toplevel(gtk_widget_get_toplevel(widget))) return;
    // gtksink opens a window of its own (640 x 480, over everything) for a picture that is in
    // no window when loading starts, as when the view was added in the same step and the
    // renderer has not shown it yet. An offscreen window holds it until the renderer takes it.
    if (holder_ == nullptr) holder_ = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(holder_), widget);
}

double GstMoviePlayer::PipelineVolume() const {
    if (pipeline_ == nullptr) return -1;
    gdouble volume = -1;
    g_object_get(pipeline_, "volume", &volume, nullptr);
    return volume;
}

void GstMoviePlayer::SetScalingMode(MovieScalingMode mode) {
    MoviePlayerBase::SetScalingMode(mode);
    if (videoSink_ != nullptr && g_object_class_find_property(G_OBJECT_GET_CLASS(videoSink_),
                                                              "force-aspect-ratio") != nullptr) {
        g_object_set(videoSink_, "force-aspect-ratio", mode != MovieScalingMode::Fill, nullptr);
    }
    if (GtkWidget* frame = static_cast<NativeView*>(view_.get())->Widget()) {
        gtk_widget_queue_allocate(frame);
        gtk_widget_queue_draw(frame);
    }
}

bool GstMoviePlayer::PictureSize(double* width, double* height) const {
    if (videoSink_ == nullptr) return false;
    GstPad* pad = gst_element_get_static_pad(videoSink_, "sink");
    if (pad == nullptr) return false;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    gst_object_unref(pad);
    if (caps == nullptr) return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int w = 0, h = 0, parN = 1, parD = 1;
    const bool known = s != nullptr && gst_structure_get_int(s, "width", &w) &&
                       gst_structure_get_int(s, "height", &h) && w > 0 && h > 0;
    if (known) gst_structure_get_fraction(s, "pixel-aspect-ratio", &parN, &parD);
    gst_caps_unref(caps);
    if (!known || parN <= 0 || parD <= 0) return false;
    *width = static_cast<double>(w) * parN / parD;
    *height = h;
    return true;
}

GdkRectangle GstMoviePlayer::PictureRect(const GdkRectangle& frame) const {
    // gtksink only fits (or stretches) the picture into its widget, and draws the whole widget
    // again for every frame of the movie. A fitted picture's widget is the picture's own
    // rectangle, so that a frame redraws neither the bars (the view's black) nor the views
    // over them. To fill the view and keep the picture's shape, the widget is made larger than
    // the view, about the view's middle, so the fitted picture's shorter side reaches the
    // view's edges; the frame cuts off the rest.
    double vw = 0, vh = 0;
    if (ScalingMode() == MovieScalingMode::Fill || frame.width <= 0 || frame.height <= 0 ||
        !PictureSize(&vw, &vh)) {
        return frame;
    }
    if (ScalingMode() == MovieScalingMode::AspectFill) {
        const double scale = std::max(frame.width / vw, frame.height / vh);
        const int width = static_cast<int>(std::ceil(vw * scale));
        const int height = static_cast<int>(std::ceil(vh * scale));
        return GdkRectangle{frame.x + (frame.width - width) / 2,
                            frame.y + (frame.height - height) / 2, width, height};
    }
    // Fitted where gtksink would put it in the whole frame (GStreamer's centring of a video in
    // a rectangle: the side that fits whole, the other cut to whole pixels, centred), with
    // kMargin pixels more on each side across: gtksink fits the picture into its widget again
    // and finds the same rectangle only if the widget is not narrower than the picture's
    // shape, and its scaling filter blends the picture's edges a pixel or two beyond it.
    constexpr int kMargin = 2;
    const double ratio = vw / vh, frameRatio = static_cast<double>(frame.width) / frame.height;
    if (ratio > frameRatio) {
        const int height = static_cast<int>(frame.width / ratio);
        const int y = frame.y + (frame.height - height) / 2;
        return GdkRectangle{frame.x, y - kMargin, frame.width, height + 2 * kMargin};
    }
    if (ratio < frameRatio) {
        const int width = static_cast<int>(frame.height * ratio);
        const int x = frame.x + (frame.width - width) / 2;
        return GdkRectangle{x - kMargin, frame.y, width + 2 * kMargin, frame.height};
    }
    return frame;
}

void GstMoviePlayer::OnFrameAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    auto* player = static_cast<GstMoviePlayer*>(self);
    if (player->picture_ == nullptr) return;
    GdkRectangle rect = player->PictureRect(*allocation);
    gtk_widget_size_allocate(player->picture_, &rect);
}

gboolean GstMoviePlayer::OnFrameDraw(GtkWidget* frame, cairo_t* cr, gpointer self) {
    auto* player = static_cast<GstMoviePlayer*>(self);
    GtkAllocation own, picture;
    gtk_widget_get_allocation(frame, &own);
    // The picture's size is known once its caps are: lay it out again when that changes it.
    if (player->picture_ != nullptr) {
        gtk_widget_get_allocation(player->picture_, &picture);
        const GdkRectangle wanted = player->PictureRect(own);
        if (wanted.x != picture.x || wanted.y != picture.y || wanted.width != picture.width ||
            wanted.height != picture.height) {
            gtk_widget_queue_allocate(frame);
        }
    }
    cairo_rectangle(cr, 0, 0, own.width, own.height);
    cairo_clip(cr);  // kept for the picture, drawn next
    return FALSE;
}

void GstMoviePlayer::SetContentUrl(const std::string& url) {
    if (url == Url()) return;
    MoviePlayerBase::SetContentUrl(url);
    SetDuration(0);
}

void GstMoviePlayer::PrepareToPlay() {
    if (loading_ || Url().empty()) return;
    if (pipeline_ == nullptr) {
        // Reported on the next step, as a failure to load would be.
        std::weak_ptr<Link> weak = link_;
        const uint64_t generation = generation_;
        loop_.Post([weak, generation] {
            std::shared_ptr<Link> link = weak.lock();
            if (!link || link->player->generation_ != generation) return;
            GstMoviePlayer* p = link->player;
            const Error error(kErrorDomain, -1, "GStreamer's playbin is not installed: " + p->Url(),
                              p->Url());
            p->Finish(MovieFinishReason::PlaybackError, &error);
        });
        return;
    }
    loading_ = true;
    playable_ = false;
    stalled_ = false;
    seeking_ = false;
    startSeekPending_ = seekTarget_ > 0;
    AnchorWidget();
    g_object_set(pipeline_, "uri", Url().c_str(), nullptr);
    SetPipelineState(GST_STATE_PAUSED);
}

void GstMoviePlayer::Play() {
    SetPlayWanted(true);
    pauseRequested_ = false;
    PrepareToPlay();
    if (!playable_) return;
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Playing;
        return;
    }
    if (stalled_) {
        // Waits for its data as a stall during playback does, said now that it is to play.
        SetLoadState(kLoadStatePlayable | kLoadStateStalled);
        return;
    }
    SetPipelineState(GST_STATE_PLAYING);
}

void GstMoviePlayer::Pause() {
    SetPlayWanted(false);
    if (!loading_) return;
    pauseRequested_ = true;
    if (!playable_) return;  // stays paused once prerolled
    SetPipelineState(GST_STATE_PAUSED);
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Paused;
        return;
    }
    GstState current = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_, &current, &pending, 0);
    // Already paused (prerolled, or held by a stall): no state change will say so.
    if (current == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING) {
        SetPlaybackState(MoviePlaybackState::Paused);
    }
}

double GstMoviePlayer::CurrentPlaybackTime() const {
    if (!loading_ || !playable_ || seeking_) return seekTarget_;
    gint64 position = 0;
    if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) && position >= 0) {
        lastPosition_ = Seconds(position);
    }
    return Duration() > 0 ? std::min(lastPosition_, Duration()) : lastPosition_;
}

void GstMoviePlayer::SetCurrentPlaybackTime(double seconds) {
    if (std::isnan(seconds)) return;
    seconds = std::max(seconds, 0.0);
    if (Duration() > 0) seconds = std::min(seconds, Duration());
    if (!loading_ || !playable_) {
        // Where loading starts: sought once prerolled, before the movie counts as playable.
        seekTarget_ = seconds;
        if (loading_) startSeekPending_ = true;
        return;
    }
    const double from = CurrentPlaybackTime();
    if (!seeking_) resumeState_ = PlaybackState();
    if (!StartSeek(seconds)) return;
    seeking_ = true;
    seekTarget_ = seconds;
    SetPlaybackState(seconds >= from ? MoviePlaybackState::SeekingForward
                                     : MoviePlaybackState::SeekingBackward);
}

bool GstMoviePlayer::StartSeek(double seconds) {
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT);
    GstEvent* seek =
        gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                           static_cast<gint64>(std::llround(seconds * GST_SECOND)),
                           GST_SEEK_TYPE_NONE, static_cast<gint64>(GST_CLOCK_TIME_NONE));
    const guint32 seqnum = gst_event_get_seqnum(seek);
    if (!gst_element_send_event(pipeline_, seek)) {
        ns::Log("[GST] seek to %.3f s refused", seconds);
        return false;
    }
    seekSeqnum_ = seqnum;
    lastPosition_ = seconds;
    return true;
}

void GstMoviePlayer::SetPipelineState(GstState state) {
    if (gst_element_set_state(pipeline_, state) == GST_STATE_CHANGE_FAILURE) {
        // The element that failed has posted the error; it finishes the movie.
        ns::Log("[GST] state change to %s failed", gst_element_state_get_name(state));
    }
    KeepDescriptorsFromChildren();
}

std::vector<GstMoviePlayer::OpenDescriptor> GstMoviePlayer::OpenDescriptors() {
    std::vector<OpenDescriptor> open;
    for (const int fd : SV::OpenDescriptorNumbers()) {
        // Through /proc rather than fstat(fd): the descriptor belongs to whichever thread opened
        // it and may be closed by it at any moment, and a path lookup touches only the kernel's
        // table, never the descriptor itself.
        struct stat file;
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        if (stat(path.c_str(), &file) != 0) continue;  // closed meanwhile
        open.push_back(OpenDescriptor{fd, static_cast<uint64_t>(file.st_dev),
                                      static_cast<uint64_t>(file.st_ino)});
    }
    return open;  // in order of number, as the numbers came
}

void GstMoviePlayer::KeepDescriptorsFromChildren() {
    // Another thread's descriptor opened meanwhile is close-on-exec already: marking it again
    // changes nothing. A socket or pipe has an inode of its own; only the same file opened
    // again under the same number would pass for the one that was there before.
    for (const OpenDescriptor& descriptor : OpenDescriptors()) {
        if (std::binary_search(descriptorsBefore_.begin(), descriptorsBefore_.end(), descriptor)) {
            continue;
        }
        const int flags = fcntl(descriptor.number, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            fcntl(descriptor.number, F_SETFD, flags | FD_CLOEXEC);
        }
    }
}

// --- the bus

GstBusSyncReply GstMoviePlayer::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    // A dropped message is the handler's to unref (and it holds a reference to its source).
    std::shared_ptr<GstMessage> held(message, gst_message_unref);
    std::shared_ptr<Link> link = static_cast<std::weak_ptr<Link>*>(data)->lock();
    if (!link) return GST_BUS_DROP;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_BUFFERING:
        case GST_MESSAGE_DURATION_CHANGED: break;
        case GST_MESSAGE_ELEMENT:
            if (!IsMissingPluginMessage(message)) return GST_BUS_DROP;
            break;
        case GST_MESSAGE_ASYNC_DONE:
        case GST_MESSAGE_STATE_CHANGED:
            if (GST_MESSAGE_SRC(message) != GST_OBJECT(link->pipeline)) return GST_BUS_DROP;
            break;
        default: return GST_BUS_DROP;
    }
    const uint64_t generation = link->generation.load();
    std::weak_ptr<Link> weak = link;
    link->loop->Post([weak, generation, held] {
        if (std::shared_ptr<Link> alive = weak.lock()) {
            alive->player->OnMessage(generation, held.get());
        }
    });
    return GST_BUS_DROP;
}

void GstMoviePlayer::OnMessage(uint64_t generation, GstMessage* message) {
    if (generation != generation_ || !loading_) return;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            const Error error = GstPlayerError(message, Url(), playable_);
            ns::Log("[GST] %s", error.ToString().c_str());
            Finish(MovieFinishReason::PlaybackError, &error);
            break;
        }
        case GST_MESSAGE_ELEMENT: {
            // Playback would go on without the stream that needs the plug-in (a black picture
            // or silence), which nobody would be told of: it ends here, with the reason.
            const Error error = GstMissingPluginError(message, Url());
            ns::Log("[GST] missing plug-in: %s", MissingPluginDescription(message).c_str());
            ns::Log("[GST] %s", error.ToString().c_str());
            Finish(MovieFinishReason::PlaybackError, &error);
            break;
        }
        case GST_MESSAGE_EOS: OnEndOfStream(); break;
        case GST_MESSAGE_ASYNC_DONE:
            KeepDescriptorsFromChildren();
            // One made before the seek (a pause's preroll, an earlier seek's landing) that reached
            // the loop after the seek began does not say the seek landed. Sequence numbers come
            // from one counter: such a message's is below the seek event's.
            if (seeking_ &&
                static_cast<gint32>(gst_message_get_seqnum(message) - seekSeqnum_) < 0) {
                break;
            }
            OnAsyncDone();
            break;
        case GST_MESSAGE_STATE_CHANGED: {
            KeepDescriptorsFromChildren();
            GstState state = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(message, nullptr, &state, nullptr);
            OnPipelineState(state);
            break;
        }
        case GST_MESSAGE_BUFFERING: {
            gint percent = 100;
            gst_message_parse_buffering(message, &percent);
            OnBuffering(percent);
            break;
        }
        case GST_MESSAGE_DURATION_CHANGED: UpdateDuration(); break;
        default: break;
    }
}

void GstMoviePlayer::OnEndOfStream() {
    // GStreamer's HLS demuxer takes a failed download of the last segment for the end of the
    // movie: an end well before the duration is the network's failure, not the movie's end.
    gint64 position = -1;
    const bool known = playable_ && Duration() > 0 &&
                       gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) &&
                       position >= 0;
    if (known && Seconds(position) < Duration() - kEarlyEndSeconds) {
        const Error error(Error::kURLErrorDomain, Error::kNetworkConnectionLost,
                          Format("The network connection was lost: the movie ended at %.1f s "
                                 "of %.1f s: %s",
                                 Seconds(position), Duration(), Url().c_str()),
                          Url());
        ns::Log("[GST] %s", error.ToString().c_str());
        Finish(MovieFinishReason::PlaybackError, &error);
        return;
    }
    Finish(MovieFinishReason::PlaybackEnded, nullptr);
}

void GstMoviePlayer::OnAsyncDone() {
    UpdateDuration();
    const uint64_t generation = generation_;
    if (!playable_) {
        if (startSeekPending_) {
            startSeekPending_ = false;
            if (StartSeek(seekTarget_)) return;  // playable once it has landed
        }
        playable_ = true;
        if (!SetLoadState(kLoadStatePlayable)) return;
        // An observer may have played, paused, sought, stopped or loaded another movie.
        if (generation != generation_ || !playable_) return;
        if (ShouldAutoplay() && !pauseRequested_) SetPlayWanted(true);
        if (stalled_) {
            SetLoadState(kLoadStatePlayable | kLoadStateStalled);
            return;  // plays once buffered
        }
        if (seeking_) return;
        if (PlayWanted()) {
            SetPipelineState(GST_STATE_PLAYING);
        } else if (pauseRequested_ && !SetPlaybackState(MoviePlaybackState::Paused)) {
            return;
        }
        PostPlaythrough();
        return;
    }
    if (seeking_) {
        seeking_ = false;
        if (resumeState_ == MoviePlaybackState::Playing) {
            if (!stalled_) {
                SetPipelineState(GST_STATE_PLAYING);
            } else if (!SetLoadState(kLoadStatePlayable | kLoadStateStalled)) {
                return;
            }
        }
        SetPlaybackState(resumeState_);
    }
}

void GstMoviePlayer::OnPipelineState(GstState state) {
    if (!playable_ || seeking_) return;
    if (state == GST_STATE_PLAYING) {
        SetPlaybackState(MoviePlaybackState::Playing);
    } else if (state == GST_STATE_PAUSED && pauseRequested_) {
        SetPlaybackState(MoviePlaybackState::Paused);
    }
}

void GstMoviePlayer::OnBuffering(int percent) {
    if (percent < 100) {
        if (stalled_) return;
        stalled_ = true;
        if (!playable_) return;  // the first async-done reports it
        // A paused movie (a seek while paused reads the new place's data in) waits for
        // nothing: no stall is said, since the screen plays a movie whose load state comes back
        // to playable. Play() says it if the data are still missing then.
        if (!PlayWanted()) return;
        // The playback state stays: the movie waits for data, nobody paused it.
        SetPipelineState(GST_STATE_PAUSED);
        SetLoadState(kLoadStatePlayable | kLoadStateStalled);
        return;
    }
    if (!stalled_) return;
    stalled_ = false;
    if (!playable_) return;
    const uint64_t generation = generation_;
    if ((LoadState() & kLoadStateStalled) != 0) {
        // Playable again, which plays the movie on the screen; one paused during the stall
        // says only that it has data enough, and stays paused.
        const unsigned back =
            PlayWanted() ? kLoadStatePlayable : kLoadStatePlayable | kLoadStatePlaythroughOK;
        if (!SetLoadState(back) || generation != generation_) return;
    }
    if (PlayWanted() && !stalled_) SetPipelineState(GST_STATE_PLAYING);
    PostPlaythrough();
}

void GstMoviePlayer::UpdateDuration() {
    gint64 duration = 0;
    if (gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration) && duration > 0) {
        SetDuration(Seconds(duration));
    }
}

void GstMoviePlayer::PostPlaythrough() {
    std::weak_ptr<Link> weak = link_;
    const uint64_t generation = generation_;
    loop_.Post([weak, generation] {
        std::shared_ptr<Link> link = weak.lock();
        if (!link) return;
        GstMoviePlayer* p = link->player;
        if (p->generation_ == generation && p->playable_ && !p->stalled_ &&
            p->LoadState() == kLoadStatePlayable) {
            p->SetLoadState(kLoadStatePlayable | kLoadStatePlaythroughOK);
        }
    });
}

// --- back to the start

void GstMoviePlayer::ResetMedia() {
    if (pipeline_ != nullptr && loading_) gst_element_set_state(pipeline_, GST_STATE_NULL);
    loading_ = false;
    // Messages of the pipeline's run so far are dropped from here on.
    link_->generation.store(++generation_);
    playable_ = false;
    stalled_ = false;
    seeking_ = false;
    startSeekPending_ = false;
    pauseRequested_ = false;
    seekTarget_ = 0;
    lastPosition_ = 0;
}

}  // namespace ns::desktop
