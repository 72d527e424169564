// A short tour of the portability layer: a worker thread, a re-arming timer, typed values in
// their byte and printed forms, URL helpers and SHA-256. Grows into the playback demo as the
// engine's stages arrive.
#include <cstdio>
#include <string>
#include <vector>

#include "SVLibrary/Path/Url.h"
#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Time/Timer.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "SVLibrary/Util/Hex.h"
#include "SVLibrary/Util/LibraryVersion.h"
#include "SVLibrary/Util/Sha256.h"
#include "SVLibrary/Util/StringFormat.h"
#include "common/CommandLine.h"

namespace {

// Fires every 100 ms until it has ticked five times, then signals.
class Ticker : public SV::Timer {
public:
    ~Ticker() override { CancelTimer(); }
    void Arm() { SV::TimerSet(this, 0, 100, true); }
    void TimerExpired() override {
        ++ticks;
        std::printf("  timer tick %d\n", ticks);
        if (ticks < 5)
            Arm();
        else
            done.Set();
    }
    int ticks = 0;
    SV::Event done;
};

int Work() {
    // Hash a megabyte of a repeating pattern on the worker thread.
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    SV::Sha256Context ctx;
    uint8_t digest[SV::kSha256DigestLength];
    SV::Sha256Init(&ctx);
    SV::Sha256Update(&ctx, data.data(), static_cast<uint32_t>(data.size()));
    SV::Sha256Final(digest, &ctx);
    std::printf("  worker: SHA-256 of 1 MiB pattern = %s\n",
                SV::BytesToHex(std::vector<unsigned char>(digest, digest + 32)).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("svdemo", "",
                             "A short tour of the portability layer: a worker thread, a re-arming\n"
                             "timer, typed values, URL helpers and SHA-256, printed as it goes.\n");
    cli.SetArgumentCount(0, 0);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    std::printf("portability layer %s\n", SV::GetLibraryVersion());

    std::printf("thread:\n");
    {
        SV::Thread worker("DemoWorker", new SV::CFunctorNoP(&Work), true, false, 3);
        worker.Start();
        worker.WaitForExit(SV::kInfiniteWait);
    }

    std::printf("timer:\n");
    {
        SV::PilTime start;
        Ticker ticker;
        ticker.Arm();
        ticker.done.Wait(SV::kInfiniteWait);
        std::printf("  five ticks in %lld ms\n", static_cast<long long>(SV::PilTime() - start));
    }

    std::printf("typed values:\n");
    SV::SVDictionary track;
    track.SetValue("TrackInfoKey_Id", SV::SVTypedValue(uint32_t(1)));
    track.SetValue("TrackInfoKey_VideoFrameRate", SV::SVTypedValue(25.0f));
    track.SetValue("TrackInfoKey_Source", SV::SVTypedValue(std::string("demo.svm")));
    SV::SVTypedValue event(track);
    std::vector<uint8_t> bytes;
    event.Serialize(bytes);
    SV::SVTypedValue back;
    const uint32_t used = back.Deserialize(bytes, 0);
    std::string printed;
    back.Print("  ", printed);
    std::printf("  %zu bytes written, %u read back:\n%s", bytes.size(), used, printed.c_str());

    std::printf("URL helpers:\n");
    const std::string url = "http://media.example/dir/name%20x.ts?a=1#f";
    std::printf("  %s -> scheme '%s', file '%s'\n", url.c_str(), SV::GetUrlScheme(url).c_str(),
                SV::GetUrlFileName(url).c_str());
    std::printf("  %s\n", (SV::StringFormat("%2% of %1%") % "ten" % 3u).Str().c_str());
    return 0;
}
