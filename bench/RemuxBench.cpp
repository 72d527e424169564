// Remux speed: a 10-minute title (H.264 + AAC, about 5 Mbit/s) held in memory, run through the
// engine's chain (demultiplexer, transport-stream multiplexer) into a sink that only counts.
// The chain is driven on the benchmark's thread as the pump drives it (tasks, one pull, tick),
// so no thread hand-over or pump pause is timed. Bytes processed are the title's bytes.
#include <benchmark/benchmark.h>

#include <boost/make_shared.hpp>

#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "common/X264Recipe.h"
#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ExternalClient.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "tests/support/Fixtures.h"
#include "bench/Usage.h"

namespace SarvelonMediaKit {
namespace {

// The source: made once with ffmpeg, cached with the test fixtures.
std::string TenMinuteClip() {
    SvTools::X264Recipe recipe("1280x720", "600", "4800k");
    recipe.capRate = true;
    recipe.audio = SvTools::X264Recipe::Aac("128k");
    return SvTestSupport::Fixtures::Make("bench10min.ts", recipe.TransportStream("{out}"));
}

// The title the scripts remux, made by the title maker from the clip.
std::string TenMinuteTitle() {
    return SvTestSupport::Fixtures::MakeTitle("bench10min.svm", {TenMinuteClip(), "{out}"});
}

// The same media as an MP4 (the clip's packets copied, index first), as a user would hold it:
// the file the scripts' ffmpeg peer reads (bench/remux_vs_ffmpeg.sh,
// bench/remux_http_vs_ffmpeg.sh), cached beside the title.
std::string TenMinuteMp4() {
    return SvTestSupport::Fixtures::Make(
        "bench10min.mp4", {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", TenMinuteClip(), "-map",
                           "0", "-c", "copy", "-movflags", "+faststart", "-f", "mp4", "{out}"});
}

const std::vector<unsigned char>& TitleBytes() {
    static const std::vector<unsigned char> bytes = [] {
        TenMinuteMp4();
        std::ifstream in(TenMinuteTitle(), std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>());
    }();
    return bytes;
}

// The title's bytes from memory.
class MemoryProvider : public ExternalClient::Provider {
public:
    explicit MemoryProvider(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    ByteAmount AvailableBytes() override { return ByteAmount(uint32_t(Left())); }
    ByteAmount BufferedBytes() override { return ByteAmount(uint32_t(Left())); }
    void Fill(const MemoryChunk& chunk) override {
        std::memcpy(chunk.Data(0), bytes_.data() + position_, chunk.Size());
        position_ += chunk.Size();
    }
    void Seek(BytePosition start, BytePosition) override { position_ = start; }
    BytePosition CurrentPosition() override { return position_; }
    BytePosition EndPosition() override { return bytes_.size(); }
    bool AtEnd() override { return position_ >= bytes_.size(); }
    void Detach() override {}

private:
    uint64_t Left() const {
        return std::min<uint64_t>(bytes_.size() - position_, std::numeric_limits<uint32_t>::max());
    }
    const std::vector<unsigned char>& bytes_;
    uint64_t position_ = 0;
};

// Output end: counts the transport stream's bytes and notes its end.
class CountingSink : public Component {
public:
    explicit CountingSink(Session* session) : Component(session) {}
    std::string GetTypeName() const override { return "CountingSink"; }
    ByteAmount DoGetBytesWanted() override { return std::numeric_limits<uint32_t>::max(); }
    void DoAdd(const MemoryChunk& chunk) override {
        bytes += chunk.Size();
        written = true;
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (marker->GetType() == MemoryMarkerTypeEndOfStream) ended = true;
        return false;
    }
    uint64_t bytes = 0;
    bool written = false;
    bool ended = false;
};

void BM_RemuxTitleToTs(benchmark::State& state) {
    const std::vector<unsigned char>& title = TitleBytes();
    if (title.empty()) {
        state.SkipWithError("no title");
        return;
    }
    uint64_t out = 0;
    for (auto _ : state) {
        boost::shared_ptr<Session> session = Session::Create();
        boost::shared_ptr<CountingSink> sink = boost::make_shared<CountingSink>(session.get());
        boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(session.get());
        boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        boost::shared_ptr<ExternalClient> client =
            boost::make_shared<ExternalClient>(session.get());
        client->SetProvider(boost::make_shared<MemoryProvider>(title));
        ComponentStack stack(StackIdMain);
        stack.AddComponent(sink);
        stack.AddComponent(mux);
        stack.AddComponent(demux);
        stack.AddComponent(client);
        session->SetComponentStack(stack);
        session->SetCapacity(ByteAmount(64u << 20));
        session->StartPump(MediaTime(0));  // no thread: the passes run here
        session->Start();
        session->PreLoad(MediaTime(15000000));
        // Passes as the pump makes them, until the end has come and a pass adds nothing; a
        // chain that never ends is given up after far more passes than the title needs.
        int passes = 0;
        for (int idle = 0; idle < 2 && passes < 1000000; ++passes) {
            sink->written = false;
            session->GetTaskManager()->RunTasks();
            session->PullDataInTask(ByteAmount(4u << 20));
            session->Tick();
            idle = sink->ended && !sink->written ? idle + 1 : 0;
        }
        out = sink->bytes;
        session->Stop(true);
        if (!sink->ended) {
            state.SkipWithError("the chain did not reach the end of the title");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(title.size()));
    state.counters["ts_MB"] = double(out) / 1e6;
}
BENCHMARK(BM_RemuxTitleToTs)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr char kUsage[] =
    "usage: RemuxBench [BENCHMARK OPTIONS]\n"
    "\n"
    "Remuxes a 10-minute 1280x720 title (H.264 at 4.8 Mbit/s and AAC) held in memory through the\n"
    "engine's chain into transport stream, three times, and prints the time and rate. The first\n"
    "run makes the title, its transport stream and an MP4 of the same media with ffmpeg and\n"
    "mktitle and caches them in the build's fixtures/ folder, where the benchmark scripts take\n"
    "them from (bench10min-*.svm, bench10min-*.mp4).\n"
    "\n";

void PrintUsage() {
    std::fputs(kUsage, stdout);
    benchmark::PrintDefaultHelp();
}

}  // namespace
}  // namespace SarvelonMediaKit

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(argc, argv, "")) {
        SarvelonMediaKit::PrintUsage();
        return 0;
    }
    benchmark::Initialize(&argc, argv, SarvelonMediaKit::PrintUsage);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
