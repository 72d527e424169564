// Serves a title as HLS on the loopback interface through the engine's chain (file client,
// seeker, demultiplexer, transport-stream multiplexer, segmenter, live server), or the files of
// a folder through the same live server, until it is stopped. bench/PlayerCpuBench.sh serves
// the movie its player components play with it. A test and demo program: playback proper
// builds the same chain itself (bench/HlsServeBench.sh measures that, the svplay program).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <boost/make_shared.hpp>
#include <string>

#include "SVLibrary/Exception/Exception.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"
#include "tests/support/DirectoryFileSource.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HlsTestChain.h"
#include "common/CommandLine.h"

using namespace SarvelonMediaKit;

namespace {

const char kDescription[] =
    "Serves TITLE (by default the two-minute test title, made and cached on first use) as HLS\n"
    "on 127.0.0.1 through the engine's chain, or with --folder the files of DIR as they are.\n"
    "Prints, one per line: \"source PATH\" (the test title's transport stream, when the test\n"
    "title is served), \"url URL\" (the main playlist, or the folder's root) and, with\n"
    "--probe, \"playlist_ms MS\": the milliseconds from the chain's start to the first byte of\n"
    "the main playlist, asked for at once over a connection of its own. Then it serves until\n"
    "it is interrupted or its standard input closes.\n";

typedef std::chrono::steady_clock Clock;

// Asks 127.0.0.1:port for /name over a new connection and returns the milliseconds from since
// to the first byte of the answer (after which the rest is read and dropped), or -1.
double FirstByteMilliseconds(uint16_t port, const std::string& name, Clock::time_point since) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000001);
    double result = -1;
    const std::string request =
        "GET /" + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 10000) == 1 && recv(fd, buffer, sizeof buffer, 0) > 0) {
            result = std::chrono::duration<double, std::milli>(Clock::now() - since).count();
            while (poll(&ready, 1, 10000) == 1 && recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
        }
    }
    close(fd);
    return result;
}

// Returns once SIGINT or SIGTERM arrives or standard input reaches its end.
void WaitForTheEnd() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    for (;;) {
        timespec wait = {0, 100 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &wait) > 0) return;
        fd_set in;
        FD_ZERO(&in);
        FD_SET(STDIN_FILENO, &in);
        timeval now = {0, 0};
        if (select(STDIN_FILENO + 1, &in, nullptr, nullptr, &now) > 0) {
            char byte;
            if (read(STDIN_FILENO, &byte, 1) <= 0) return;
        }
    }
}

// The folder's files behind the live server, one serving session per connection.
class FolderServer {
public:
    explicit FolderServer(const std::string& folder)
        : source_(folder),
          master_(Session::Create()),
          front_(new MultiSocketDelegateServer(
              master_.get(), nullptr,
              [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
                  return Serve(accepted);
              })) {
        master_->StartPump(MediaTime(5000));
        master_->Start();
    }
    ~FolderServer() {
        front_.reset();  // no accepting while the sessions go
        for (const boost::shared_ptr<Session>& session : sessions_) session->Stop(true);
        master_->Stop(true);
    }
    void Listen(uint16_t port) { front_->Listen(port, 0x7F000001); }
    uint16_t Port() const { return front_->GetListeningPort(); }

private:
    SocketDelegate* Serve(SV::PilSocketHolder& accepted) {
        boost::shared_ptr<Session> session = Session::Create();
        boost::shared_ptr<LiveHttpServer> server =
            boost::make_shared<LiveHttpServer>(session.get());
        server->SetFileSource(&source_);
        ComponentStack stack;
        stack.AddComponent(server);
        session->SetComponentStack(stack);
        session->StartPump(MediaTime(5000));
        session->SetPullAmount(ByteAmount(131072));
        session->Start();
        server->SwapSocket(accepted);
        server->SetSocketMaster(session.get());
        // Only the factory's thread touches the list until the destructor.
        for (size_t i = 0; i < sessions_.size();) {
            if (sessions_[i]->WaitForStop(0)) {
                sessions_.erase(sessions_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        sessions_.push_back(session);
        return server.get();
    }

    SvTestSupport::DirectoryFileSource source_;
    boost::shared_ptr<Session> master_;
    std::unique_ptr<MultiSocketDelegateServer> front_;
    std::vector<boost::shared_ptr<Session>> sessions_;
};

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("HlsServeBench", "[OPTIONS] [TITLE]", kDescription);
    cli.AddOption("port", 'p', "PORT", "the port to listen on (0, the default: any free one)");
    cli.AddOption("folder", 0, "DIR", "serve the files of DIR instead of a title");
    cli.AddOption("probe", 0, nullptr, "time the chain's start to the main playlist's first byte");
    cli.SetArgumentCount(0, 1);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    uint64_t port = 0;
    if (!cli.UnsignedValue("port", 0, 65535, port)) return SvTools::CommandLine::kExitUsage;
    if (cli.Has("folder") && !cli.Arguments().empty()) {
        return cli.UsageError("a TITLE and --folder exclude each other");
    }
    // Signals are taken by WaitForTheEnd, on this thread; every thread made later inherits
    // the mask, so none of them is interrupted.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    try {
        if (cli.Has("folder")) {
            FolderServer server(cli.Value("folder"));
            server.Listen(static_cast<uint16_t>(port));
            std::printf("url http://127.0.0.1:%u/\n", unsigned(server.Port()));
            WaitForTheEnd();
            return 0;
        }
        std::string title;
        if (cli.Arguments().empty()) {
            std::printf("source %s\n", SvTestSupport::Fixtures::HlsClip().c_str());
            title = SvTestSupport::Fixtures::HlsTitle();
        } else {
            title = cli.Arguments()[0];
            if (access(title.c_str(), R_OK) != 0) return cli.Failure("cannot read " + title);
        }
        SvTestSupport::HlsTestChain chain(title, static_cast<uint16_t>(port));
        const Clock::time_point start = Clock::now();
        chain.Start();
        std::printf("url %s\n", chain.PlaylistUrl().c_str());
        if (cli.Has("probe")) {
            std::printf("playlist_ms %.1f\n",
                        FirstByteMilliseconds(chain.Port(), chain.PlaylistName(), start));
        }
        WaitForTheEnd();
        chain.Stop();
        for (const auto& error : chain.Errors()) {
            std::fprintf(stderr, "HlsServeBench: %s (%u)\n", error.second.c_str(),
                         unsigned(error.first));
        }
        return 0;
    } catch (const SV::SVLibraryException& e) {
        return cli.Failure(std::string("cannot serve: ") + e.what() + " (" + e.GetDetail() + ")");
    } catch (const std::exception& e) {
        return cli.Failure(e.what());
    }
}
