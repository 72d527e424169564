// svplay: plays a title the way the player screen does, through the player's entry points, and
// serves it to any HLS player on the loopback address until it is told to stop.
//
// Standard output: the playback URL on the first line, once the engine listens on its port,
// then one line per player event; nothing else, and nothing at all when the playback does not
// start. Standard error: failures, and the engine's own diagnostic lines. Exit 0 after a stop
// asked for with SIGINT or SIGTERM, 1 when the title cannot be played or the playback ends on
// an error, 2 for usage.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/SViOsApi.h"
#include "engine/serve/ListeningPort.h"
#include "platform/Value.h"
#include "platform/core/RunLoop.h"
#include "common/CommandLine.h"
#include "tools/svplay/EventLine.h"
#include "tools/svplay/PlayStatus.h"

namespace {

const char kDescription[] =
    "Plays TITLE (a path, a file:// URL or an http:// or https:// URL of a title of the engine's\n"
    "container, downloaded as it plays) and serves it as HLS on 127.0.0.1. The first line of "
    "standard output is the playback URL to hand to a\n"
    "player; every event of the playback follows on a line of its own. Runs until SIGINT or\n"
    "SIGTERM, then stops the playback and the engine and exits 0.\n";

const char kEpilogue[] =
    "Exits 1 with the reason on standard error, and nothing on standard output, when the title\n"
    "cannot be played (the port taken by another program, for one), and after an error during\n"
    "playback (the StoppingOnError event). The engine's diagnostic lines go to standard error.\n";

// The preload timeout travels in microseconds as a signed 32-bit number.
const uint64_t kMostPreloadMilliseconds = 2147483;
// The main queue waits for work without a time-out: the callbacks are posted to it, and a
// stop signal wakes it through the signal watcher.
const std::chrono::milliseconds kQueueWait(std::chrono::hours(24));
// The Terminated event normally arrives at once; do not wait for ever on a broken engine.
const std::chrono::milliseconds kTerminateWait(10000);

std::atomic<int> gSignal{0};
// Set once the main loop is left: from then on a signal ends the process at once, should the
// stop itself hang.
std::atomic<bool> gLeftLoop{false};

// SIGINT and SIGTERM are blocked in every thread and read from a signal descriptor by a thread
// of their own, which wakes the main queue: the main thread sleeps until there is something to
// do instead of looking at a flag ten times a second.
class SignalWatch {
public:
    // Before any other thread starts, so that every thread inherits the blocked signals.
    bool Start() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
        signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        if (signalFd_ < 0 || stopFd_ < 0) return false;
        thread_ = std::thread([this]() { Run(); });
        return true;
    }
    // Asks the thread to end and joins it.
    ~SignalWatch() {
        if (thread_.joinable()) {
            const uint64_t one = 1;
            ssize_t written = write(stopFd_, &one, sizeof one);
            (void)written;
            thread_.join();
        }
        if (signalFd_ >= 0) close(signalFd_);
        if (stopFd_ >= 0) close(stopFd_);
    }

private:
    void Run() {
        pthread_setname_np(pthread_self(), "SignalWatch");
        for (;;) {
            pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            signalfd_siginfo info;
            if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            const int number = static_cast<int>(info.ssi_signo);
            int none = 0;
            if (gLeftLoop.load() || !gSignal.compare_exchange_strong(none, number)) {
                // The second signal, or one during the stop: the default action, now.
                signal(number, SIG_DFL);
                sigset_t set;
                sigemptyset(&set);
                sigaddset(&set, number);
                pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
                raise(number);
                return;
            }
            ns::RunLoop::Main().Post([]() {});
        }
    }

    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

bool CatchSignals(SignalWatch& watch) {
    // A player that drops its connection, or a reader of our output that goes away, must end
    // a write with an error rather than the whole server.
    signal(SIGPIPE, SIG_IGN);
    return watch.Start();
}

// Standard output: the playback URL first, then the event lines. Events arrive before the URL
// is known to lead anywhere; they are held until then, and go to standard error with the
// failure when the playback does not start, so that standard output stays empty. Used on the
// main thread only (every callback runs there).
class EventOutput {
public:
    void Line(const std::string& text) {
        if (out_ == nullptr) {
            held_.push_back(text);
            return;
        }
        Write(out_, text);
    }
    // The URL, then the held lines, on standard output; later lines follow there.
    void Start(const std::string& url) {
        Write(stdout, url);
        Release(stdout);
    }
    // The held lines, and every later one, to standard error.
    void Fail() { Release(stderr); }

private:
    static void Write(FILE* to, const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), to);
        std::fputc('\n', to);
        std::fflush(to);
    }
    void Release(FILE* to) {
        if (out_ != nullptr) return;
        out_ = to;
        for (const std::string& text : held_) Write(to, text);
        held_.clear();
    }

    FILE* out_ = nullptr;
    std::vector<std::string> held_;
};
EventOutput gOutput;

// What the events have told, read on the main thread only (every callback runs there).
struct PlaybackState {
    bool failed = false;  // StoppingOnError arrived
    std::string failure;  // what it said
    int status = 0;       // its status and text as the engine gave them
    std::string text;
    bool stopped = false;     // Stopped arrived
    bool terminated = false;  // Terminated arrived
};
PlaybackState gState;

int OnEvent(SViOsApiEvent event, const ns::Dictionary& attributes) {
    gOutput.Line(SvTools::EventLine::Format(SV_EventToString(event), attributes));
    switch (event) {
        case SViOsApiEvent_StoppingOnError:
            if (!gState.failed) {
                gState.failed = true;
                const ns::Value* text = attributes.Find("SVDescriptionKey");
                const ns::Value* status = attributes.Find("SVErrorKey");
                gState.status = status ? int(status->Int64Value()) : 0;
                gState.text = text ? text->StringValue() : "";
                gState.failure = SvTools::StatusText(gState.status, gState.text);
            }
            break;
        case SViOsApiEvent_Stopped: gState.stopped = true; break;
        case SViOsApiEvent_Terminated: gState.terminated = true; break;
        default: return 0;
    }
    // The loop's step ran this among its posts and would now wait for the next one: the error
    // and the stop often come in one step, with nothing after them to end the wait. An empty
    // post ends it at once, so the loop looks at what changed.
    ns::RunLoop::Main().Post([]() {});
    return 0;
}

// What the engine is handed for TITLE. A file:// URL becomes its path (the engine reads local
// titles by path); another URL goes as it is; a relative path is made absolute, because the
// engine joins a plain path to its asset root. False with a reason for a URL that names no
// local path.
bool AssetFor(const std::string& title, std::string& asset, bool& local, std::string& reason) {
    if (SvTools::IsFileUrl(title)) {
        local = true;
        return SvTools::FileUrlPath(title, asset, reason);
    }
    if (title.find("://") != std::string::npos) {
        asset = title;
        local = false;
        return true;
    }
    local = true;
    if (!title.empty() && title[0] == '/') {
        asset = title;
        return true;
    }
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer)) {
        reason = "cannot tell the current directory: " + SvTools::SystemReason(errno);
        return false;
    }
    std::string directory = buffer;
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    asset = directory + (title.compare(0, 2, "./") == 0 ? title.substr(2) : title);
    return true;
}

// Stops the playback (when one was started) and the engine, and delivers the last events. After
// a failed start the stop only hands the session back and repeats the failure: not reported.
void Shutdown(bool playing, bool started) {
    if (playing) {
        const int stopped = SV_Stop();
        if (stopped != 0 && started && !gState.failed) {
            std::fprintf(stderr, "svplay: stopping the playback: %s\n",
                         SvTools::PlayStatus::Text(stopped).c_str());
        }
    }
    const int terminated = SV_Terminate();
    if (terminated != 0) {
        std::fprintf(stderr, "svplay: stopping the engine: %s\n",
                     SvTools::PlayStatus::Text(terminated).c_str());
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        return;
    }
    if (!ns::RunLoop::Main().RunUntil([]() { return gState.terminated; }, kTerminateWait)) {
        std::fprintf(stderr, "svplay: the engine did not confirm its stop\n");
    }
}

int Run(const SvTools::CommandLine& cli) {
    const std::string title = cli.Arguments()[0];
    uint64_t port = 0;
    uint64_t preloadMs = 0;
    if (!cli.UnsignedValue("port", 1, 65535, port) ||
        !cli.UnsignedValue("preload-timeout", 1, kMostPreloadMilliseconds, preloadMs)) {
        return SvTools::CommandLine::kExitUsage;
    }
    std::string asset;
    std::string reason;
    bool local = false;
    if (!AssetFor(title, asset, local, reason)) {
        return cli.Failure(title + ": " + reason);
    }
    if (local && access(asset.c_str(), R_OK) != 0) {
        return cli.Failure(asset + ": " + SvTools::SystemReason(errno));
    }
    // The engine would take a folder for a kind of title it does not play.
    struct stat info;
    if (local && stat(asset.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return cli.Failure("cannot play " + title + ": " + SvTools::SystemReason(EISDIR));
    }
    if (cli.Has("port")) {
        SarvelonMediaKit::SetLoopbackPort(uint16_t(port));
    }

    ns::Dictionary settings;
    settings.Set("SVPlayerDrivenAdaptationKey", cli.Has("pda") ? "1" : "0");
    if (cli.Has("preload-timeout")) {
        settings.Set("SVPreloadTimeoutKey", std::to_string(preloadMs * 1000));
    }
    // The engine joins a plain path to this root; an empty root leaves the absolute path as it
    // is, and makes no folder anywhere (a URL is never joined to it).
    settings.Set("SVAssetRootKey", "");

    SignalWatch signalWatch;
    if (!CatchSignals(signalWatch)) {
        gOutput.Fail();
        return cli.Failure(std::string("cannot watch for stop signals: ") + std::strerror(errno));
    }
    // The engine's diagnostics are not the URL or an event.
    SV::SetLineWriterStream(stderr);
    const int initialized = SV_Initialize(OnEvent, settings);
    if (initialized != 0) {
        gOutput.Fail();
        return cli.Failure("cannot start the player: " + SvTools::PlayStatus::Text(initialized));
    }
    // Returns once the engine listens on its port (or could not): the URL then leads to it.
    std::string playbackUrl;
    const int played = SV_Play(asset, &playbackUrl, 0);
    if (played != 0 || playbackUrl.empty()) {
        gOutput.Fail();
        // A failed start may still hold a session: hand it back before the engine goes. Its
        // last events arrive meanwhile, among them the error that stopped it.
        Shutdown(played != SVBridgeNotInitialised && played != SVBridgeNoCredentials &&
                     played != SVBridgeSessionExists,
                 false);
        // The engine's own words for it when it said them (an origin's refusal, for one). A
        // start without a URL is a kind of file the engine takes but serves nothing of.
        const std::string reason = played == 0 ? "the engine serves no HLS for this kind of file"
                                   : gState.failed ? gState.failure
                                                   : SvTools::PlayStatus::Text(played);
        std::fprintf(stderr, "svplay: cannot play %s: %s\n", title.c_str(), reason.c_str());
        // A kind of file the engine does not play, or one that it opened and found no title.
        if (played == 0 || played == SVStatusUnsupported || played == SVStatusSetupRefused ||
            (gState.failed && SvTools::IsNotATitle(gState.status, gState.text))) {
            std::fputs(SvTools::NotATitleHint(cli.Program()).c_str(), stderr);
        }
        return SvTools::CommandLine::kExitFailure;
    }
    gOutput.Start(playbackUrl);

    while (gSignal.load() == 0 && !gState.failed && !gState.stopped) {
        ns::RunLoop::Main().RunOnce(kQueueWait);
    }
    // A second signal ends the process at once, should the stop itself hang.
    gLeftLoop = true;
    const bool asked = gSignal.load() != 0 && !gState.failed && !gState.stopped;
    Shutdown(true, true);
    if (gState.failed) {
        std::fprintf(stderr, "svplay: %s: the playback stopped on an error: %s\n", title.c_str(),
                     gState.failure.c_str());
        return SvTools::CommandLine::kExitFailure;
    }
    if (!asked) {
        std::fprintf(stderr, "svplay: %s: the engine stopped the playback\n", title.c_str());
        return SvTools::CommandLine::kExitFailure;
    }
    return SvTools::CommandLine::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("svplay", "[OPTIONS] TITLE", kDescription, kEpilogue);
    cli.AddOption("port", 0, "N", "the loopback port to serve on (default 20001)");
    cli.AddOption("pda", 0, nullptr, "let the player drive the bit-rate adaptation");
    cli.AddOption("preload-timeout", 0, "MS",
                  "how long the title's index may take to arrive (default 15000)");
    cli.SetArgumentCount(1, 1);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    return Run(cli);
}
