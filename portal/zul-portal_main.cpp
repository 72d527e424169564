// zul-portal: the demo portal on a loopback port until SIGINT or SIGTERM.
#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "portal/PortalServer.h"
#include "common/CommandLine.h"

int main(int argc, char** argv) {
    SvTools::CommandLine line(
        "zul-portal", "[--port N] [--data DIR] [--accounts FILE] [--plist PATH] [--log]",
        "Serves the ZUL demo portal on 127.0.0.1: the pages, sign-in, search, thumbnails,\n"
        "playback information, titles and subtitles. The first line on standard output is\n"
        "the portal's URL; it serves until SIGINT or SIGTERM and then exits 0. The demo data\n"
        "are made on first use (ffmpeg and mktitle) into the data folder, and again when\n"
        "mktitle is newer; a line on standard error says so and why. A signal stops the\n"
        "making at once; the next start goes on from the files that were whole.",
        "Built-in accounts (without --accounts): demo@zul.test/demo (3 slots),\n"
        "full@zul.test/full (no free slot), maintenance@zul.test/maintenance (503),\n"
        "nostatus@zul.test/nostatus (no status header), emptyslots@zul.test/emptyslots\n"
        "(empty free-slots value).");
    line.AddOption("port", 'p', "N", "the port to listen on (0, the default: a free one)");
    line.AddOption("data", 'd', "DIR", "the demo data folder (default: the build's)");
    line.AddOption("accounts", 0, "FILE", "accounts and device slots from a JSON file");
    line.AddOption("plist", 0, "PATH",
                   "write the application's bundle configuration pointing at this portal to "
                   "PATH (a folder gets ZULPropertyListRelease.plist)");
    line.AddOption("log", 0, nullptr, "print every request head on standard error");
    line.SetArgumentCount(0, 0);
    const SvTools::CommandLine::Outcome outcome = line.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) return SvTools::CommandLine::ExitStatus(outcome);

    uint64_t port = 0;
    if (!line.UnsignedValue("port", 0, 65535, port)) return SvTools::CommandLine::kExitUsage;

    // The signals arrive on a descriptor: blocked before any thread starts, so that every
    // thread inherits the mask and none is interrupted. The same descriptor stops the making
    // of the demo data, whose programs start with the signals unblocked again.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalled = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalled < 0) {
        return line.Failure(std::string("cannot wait for signals: ") + strerror(errno));
    }

    ZulPortal::PortalServer::Options options;
    options.port = static_cast<uint16_t>(port);
    options.dataFolder = line.Value("data", SV_PORTAL_DATA_DIR);
    options.mktitle = SV_MKTITLE_PATH;
    options.accountsFile = line.Value("accounts");
    options.stopFd = signalled;
    // Standard error: the first line on standard output is the URL that scripts wait for.
    options.announce = [](const std::string& text) {
        std::fprintf(stderr, "zul-portal: %s\n", text.c_str());
        std::fflush(stderr);
    };
    if (line.Has("log")) {
        options.observer = [](const ZulPortal::HttpRequest& request) {
            static std::mutex mutex;
            std::lock_guard<std::mutex> lock(mutex);
            std::fprintf(stderr, "%s\n\n", request.head.c_str());
        };
    }
    std::unique_ptr<ZulPortal::PortalServer> server;
    try {
        server.reset(new ZulPortal::PortalServer(options));
    } catch (const std::exception& error) {
        pollfd watched = {signalled, POLLIN, 0};
        if (poll(&watched, 1, 0) > 0) {
            // Asked to end while the demo data were made: what was half made is gone, and the
            // next start goes on from the whole files.
            std::fprintf(stderr, "zul-portal: stopped before the demo data in %s were all made\n",
                         options.dataFolder.c_str());
            return SvTools::CommandLine::kExitSuccess;
        }
        return line.Failure(error.what());
    }
    if (line.Has("plist")) {
        std::string path = line.Value("plist");
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            path += std::string("/") + ZulPortal::PortalServer::kBundleConfigurationName;
        }
        std::string error;
        if (!server->WriteBundleConfiguration(path, error)) {
            return line.Failure("cannot write " + path + ": " + error);
        }
    }
    std::printf("%s\n", server->Url("").c_str());
    std::fflush(stdout);

    signalfd_siginfo received;
    while (read(signalled, &received, sizeof received) < 0 && errno == EINTR) {
    }
    server->Stop();
    return SvTools::CommandLine::kExitSuccess;
}
