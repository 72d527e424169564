// Downloads one URL with one engine transport (bytes handed on as memory chunks, as a source
// component takes them) and prints the rate. bench/HttpDownloadBench.sh runs it beside curl
// against nginx on loopback.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPThread.h"
#include "bench/Usage.h"

using namespace SarvelonMediaKit;

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(
            argc, argv,
            "usage: HttpDownloadBench URL\n"
            "\n"
            "Downloads URL with one engine transport, the bytes handed on as\n"
            "memory chunks, and prints the rate in MB/s on its last line.\n"
            "bench/HttpDownloadBench.sh runs it beside curl against nginx.\n")) {
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool failed = false;
    uint64_t bytes = 0;
    const auto begin = std::chrono::steady_clock::now();
    {
        boost::shared_ptr<HTTPClientInterface> transport;
        CreateCurlHTTPClientInterface(transport, argv[1], nullptr, nullptr, std::string(), 0);
        transport->SetMemoryChunkDataHandler([&](MemoryChunk chunk) {
            bytes += chunk.Size();  // download thread only
            return true;
        });
        transport->SetDoneHandler([&](bool f) {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
            failed = f;
            finished.notify_all();
        });
        transport->StartDownload(0, 0);
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return done; });
        lock.unlock();
        transport->Close();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ShutdownCurlHTTPClientInterface();
    if (failed) {
        std::fprintf(stderr, "download failed after %llu bytes\n",
                     static_cast<unsigned long long>(bytes));
        return 1;
    }
    std::printf("%.3f\n", static_cast<double>(bytes) / seconds / 1e6);
    return 0;
}
