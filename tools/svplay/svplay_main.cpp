// svplay: plays a title the way the player screen does, through the player's entry points, and
// serves it to any HLS player on the loopback address until it is told to stop.
//
// Standard output: the playback URL on the first line, then one line per player event and the
// engine's own few lines. Standard error: failures. Exit 0 after a stop asked for with SIGINT or
// SIGTERM, 1 when the title cannot be played or the playback ends on an error, 2 for usage.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/SViOsApi.h"
#include "engine/serve/ListeningPort.h"
#include "platform/Value.h"
#include "platform/core/RunLoop.h"
#include "tools/common/CommandLine.h"
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
    "Exits 1 with the reason on standard error when the title cannot be played, and after an\n"
    "error during playback (the StoppingOnError event, for example when the port is taken).\n";

// The preload timeout travels in microseconds as a signed 32-bit number.
const uint64_t kMostPreloadMilliseconds = 2147483;
// How long the main queue waits for work before the stop flag is looked at again.
const std::chrono::milliseconds kQueueWait(100);
// How long the player's URL is held back while the engine opens its port.
const std::chrono::seconds kListenWait(10);
const std::chrono::milliseconds kListenPoll(20);
// The longest one check of the port may wait for its connection.
const int kConnectWaitMs = 200;
// The Terminated event normally arrives at once; do not wait for ever on a broken engine.
const std::chrono::milliseconds kTerminateWait(10000);

std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnSignal(int signal) { gSignal.store(signal); }

void CatchSignals() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A player that drops its connection, or a reader of our output that goes away, must end
    // a write with an error rather than the whole server.
    signal(SIGPIPE, SIG_IGN);
}

// What the events have told, read on the main thread only (every callback runs there).
struct PlaybackState {
    bool failed = false;      // StoppingOnError arrived
    std::string failure;      // what it said
    bool stopped = false;     // Stopped arrived
    bool terminated = false;  // Terminated arrived
};
PlaybackState gState;

int OnEvent(SViOsApiEvent event, const ns::Dictionary& attributes) {
    SV::WriteLine(SvTools::EventLine::Format(SV_EventToString(event), attributes));
    switch (event) {
        case SViOsApiEvent_StoppingOnError:
            if (!gState.failed) {
                gState.failed = true;
                const ns::Value* text = attributes.Find("SVDescriptionKey");
                const ns::Value* status = attributes.Find("SVErrorKey");
                gState.failure = SvTools::StatusText(status ? int(status->Int64Value()) : 0,
                                                     text ? text->StringValue() : "");
            }
            break;
        case SViOsApiEvent_Stopped: gState.stopped = true; break;
        case SViOsApiEvent_Terminated: gState.terminated = true; break;
        default: break;
    }
    return 0;
}

int FromHex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether something accepts connections on 127.0.0.1 at the port of a playback URL
// ("http://localhost:PORT/...").
bool Listening(const std::string& url) {
    const size_t host = url.find("//");
    if (host == std::string::npos) return false;
    const size_t colon = url.find(':', host);
    if (colon == std::string::npos || colon > url.find('/', host + 2)) return false;
    const unsigned long port = std::strtoul(url.c_str() + colon + 1, nullptr, 10);
    if (port == 0 || port > 65535) return false;
    // Without blocking: a port held by another program that takes no connections (its queue
    // full) would hold a plain connect for minutes, and with it the wait for the engine's error.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd writable = {fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        connected = poll(&writable, 1, kConnectWaitMs) == 1 &&
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    close(fd);
    return connected;
}

// What the engine is handed for TITLE. A file:// URL becomes its path (the engine reads local
// titles by path); another URL goes as it is; a relative path is made absolute, because the
// engine joins a plain path to its asset root. False with a reason for a URL that names no
// local path.
bool AssetFor(const std::string& title, std::string& asset, bool& local, std::string& reason) {
    const std::string fileScheme = "file://";
    if (title.compare(0, fileScheme.size(), fileScheme) == 0) {
        std::string rest = title.substr(fileScheme.size());
        if (rest.compare(0, 9, "localhost") == 0) {
            rest.erase(0, 9);
        }
        if (rest.empty() || rest[0] != '/') {
            reason = "a file:// URL names a path on this machine (file:///path)";
            return false;
        }
        std::string path;
        for (size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == '%' && i + 2 < rest.size() && FromHex(rest[i + 1]) >= 0 &&
                FromHex(rest[i + 2]) >= 0) {
                const char decoded = char(FromHex(rest[i + 1]) * 16 + FromHex(rest[i + 2]));
                if (decoded == '\0') {
                    reason = "the URL's path holds a NUL byte";
                    return false;
                }
                path += decoded;
                i += 2;
            } else if (rest[i] == '?' || rest[i] == '#') {
                break;
            } else {
                path += rest[i];
            }
        }
        asset = path;
        local = true;
        return true;
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

// Engine lines written while the player starts are held back, so that the playback URL is the
// first line of standard output; they follow it (or go with the failure on standard error).
class HeldLines {
public:
    HeldLines() : file_(std::tmpfile()) {
        if (file_) {
            SV::SetLineWriterStream(file_);
        }
    }
    ~HeldLines() { Release(stdout); }
    HeldLines(const HeldLines&) = delete;
    HeldLines& operator=(const HeldLines&) = delete;

    // Lines from now on go straight to standard output, `first` (when not empty) before all;
    // the held lines are copied to `to`. One step under the line writer's lock: an engine line
    // written meanwhile waits, and so comes after both.
    void Release(FILE* to, const std::string& first = std::string()) {
        FILE* held = file_;
        file_ = nullptr;
        SV::SetLineWriterStream(nullptr, [&](FILE*) {
            if (!first.empty()) {
                std::fwrite(first.data(), 1, first.size(), stdout);
                std::fputc('\n', stdout);
                std::fflush(stdout);
            }
            if (!held) {
                return;
            }
            std::fflush(held);
            std::rewind(held);
            char buffer[4096];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, held)) > 0) {
                std::fwrite(buffer, 1, got, to);
            }
            std::fflush(to);
            std::fclose(held);
        });
    }

private:
    FILE* file_;
};

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

    CatchSignals();
    HeldLines held;
    const int initialized = SV_Initialize(OnEvent, settings);
    if (initialized != 0) {
        held.Release(stderr);
        return cli.Failure("cannot start the player: " + SvTools::PlayStatus::Text(initialized));
    }
    std::string playbackUrl;
    const int played = SV_Play(asset, &playbackUrl, 0);
    if (played != 0) {
        held.Release(stderr);
        // A failed start may still hold a session: hand it back before the engine goes. Its
        // last events arrive meanwhile, among them the error that stopped it.
        Shutdown(played != SVBridgeNotInitialised && played != SVBridgeNoCredentials &&
                     played != SVBridgeSessionExists,
                 false);
        // The engine's own words for it when it said them (an origin's refusal, for one).
        std::fprintf(
            stderr, "svplay: cannot play %s: %s\n", title.c_str(),
            gState.failed ? gState.failure.c_str() : SvTools::PlayStatus::Text(played).c_str());
        return SvTools::CommandLine::kExitFailure;
    }
    // The engine opens its port on its own thread once the playback has started: the URL is
    // handed out when it leads somewhere, so that a player started on it at once is not refused.
    const auto listenDeadline = std::chrono::steady_clock::now() + kListenWait;
    while (gSignal.load() == 0 && !gState.failed && !gState.stopped && !Listening(playbackUrl) &&
           std::chrono::steady_clock::now() < listenDeadline) {
        ns::RunLoop::Main().RunOnce(kListenPoll);
    }
    held.Release(stdout, playbackUrl);

    while (gSignal.load() == 0 && !gState.failed && !gState.stopped) {
        ns::RunLoop::Main().RunOnce(kQueueWait);
    }
    // A second signal ends the process at once, should the stop itself hang.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
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
