// svremux: reads a title of the engine's container and writes its transport stream to a file,
// through the engine's own chain: file client, program-stream demultiplexer, transport-stream
// multiplexer and file sink, run on a session as playback runs them.
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/container/MediaTrack.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/input/FileClient.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/serve/FileServer.h"
#include "tools/svremux/RemuxSink.h"

using namespace SarvelonMediaKit;

namespace {

const char kUsage[] =
    "usage: svremux TITLE -o OUTPUT.ts\n"
    "\n"
    "Writes the transport stream of a title of the engine's container (its first rendition)\n"
    "to OUTPUT.ts, through the same demultiplexer and multiplexer that playback uses.\n"
    "A progress line is shown when standard error is a terminal.\n"
    "\n"
    "options:\n"
    "  -o FILE      the transport stream to write (required)\n"
    "  -h, --help   show this text\n"
    "\n"
    "Exit status: 0 on success, 1 when the title cannot be remuxed, 2 on a usage error.\n";

// Bytes each pump pass pulls through the chain, and the pause between passes (microseconds).
const uint32_t kPullBytes = 4u << 20;
const uint64_t kPumpInterval = 1000;
// The index must be read within this time (microseconds); a local file needs far less.
const uint64_t kPreloadTimeout = 15000000;
const uint32_t kSessionCapacity = 64u << 20;
// A chain that neither reads nor writes for this long is stuck: give up rather than hang.
const int kStallSeconds = 20;

// What the chain reports: the first error ends the run.
class Errors : public ErrorInfoMonitor {
public:
    explicit Errors(Session* session) : session_(session) {}

    void SetError(SVStatus status, std::string text) override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (failed_) {
                return;
            }
            failed_ = true;
            status_ = status;
            text_ = text;
        }
        session_->Stop(false);
    }
    void SetWarning(SVStatus status, std::string text) override {
        std::fprintf(stderr, "svremux: warning %d: %s\n", int(status), text.c_str());
    }

    bool Failed(SVStatus* status, std::string* text) {
        std::lock_guard<std::mutex> lock(lock_);
        *status = status_;
        *text = text_;
        return failed_;
    }

private:
    Session* session_;
    std::mutex lock_;
    bool failed_ = false;
    SVStatus status_ = 0;
    std::string text_;
};

// The file source of the chain, read only up to the end of the title's first rendition: the
// renditions of a multi-rate title follow one another in the file with the same stream ids,
// so reading on would put the next rendition's pictures behind those of the first. Until the
// index has been read (and with it the first rendition's end) each pull takes at most
// kProbeBytes, so that the pull which completes the index runs only a little into the media.
class FirstRenditionClient : public FileClient {
public:
    static constexpr uint32_t kProbeBytes = 16384;

    explicit FirstRenditionClient(Session* session) : FileClient(session) {}

    // From the tracks event, on the pump thread: the byte after the first rendition, or all
    // bits set when the index does not tell.
    void SetEnd(uint64_t end) {
        end_ = end;
        endKnown_ = true;
    }

    void PrePullData(ByteAmount& amount) override {
        if (!endKnown_) {
            amount = std::min<uint32_t>(amount, kProbeBytes);
        } else if (Limited()) {
            const uint64_t position = GetReadPosition();
            if (position >= end_) {
                EndOfStream();
                return;
            }
            amount = uint32_t(std::min<uint64_t>(amount, end_ - position));
        }
        FileClient::PrePullData(amount);
        if (endKnown_ && Limited() && GetReadPosition() >= end_) {
            EndOfStream();
        }
    }
    ByteAmount DoGetBufferedBytes() override {
        const ByteAmount left = FileClient::DoGetBufferedBytes();
        if (!endKnown_ || !Limited()) {
            return left;
        }
        const uint64_t position = GetReadPosition();
        return ByteAmount(
            uint32_t(std::min<uint64_t>(left, position < end_ ? end_ - position : 0)));
    }

private:
    // The rendition ends before the file does (otherwise the file's own end is the end).
    bool Limited() { return end_ < DoEndPosition(); }
    void EndOfStream() { DoSend(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>())); }

    uint64_t end_ = ~uint64_t(0);
    bool endKnown_ = false;
};

// Takes the tracks the demultiplexer announces: their number, for the message about a title
// with nothing to write, and the end of the first one, for the source.
class Tracks : public StreamInfoMonitor {
public:
    explicit Tracks(FirstRenditionClient* client) : client_(client) {}
    void TracksAvailable(const TrackMap& tracks, bool) override {
        count_ = tracks.size();
        uint64_t end = ~uint64_t(0);
        if (!tracks.empty()) {
            const SV::SVDictionary& info = tracks.begin()->second->GetInfo();
            uint64_t offset = 0;
            uint64_t size = 0;
            if (info.GetUnsignedLong(TrackInfoKey_Offset, offset) &&
                info.GetUnsignedLong(TrackInfoKey_Size, size) && offset + size >= offset) {
                end = offset + size;
            }
        }
        client_->SetEnd(end);
    }
    std::atomic<size_t> count_{0};

private:
    FirstRenditionClient* client_;
};

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa;
    struct stat sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// created tells whether the output file was made (and so is to be removed on failure).
int Run(const std::string& input, const std::string& output, bool* created) {
    boost::shared_ptr<Session> session = Session::Create();
    Errors errors(session.get());
    session->ErrorInfoSource::AddMonitor(&errors);

    boost::shared_ptr<FirstRenditionClient> source =
        boost::make_shared<FirstRenditionClient>(session.get());
    FileClient* client = source.get();
    Tracks tracks(source.get());
    client->AddMonitor(&errors);
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session.get());
    static_cast<ErrorInfoSource&>(*demux).AddMonitor(&errors);
    static_cast<StreamInfoSource&>(*demux).AddMonitor(&tracks);
    boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(session.get());
    boost::shared_ptr<RemuxSink> sink = boost::make_shared<RemuxSink>(session.get(), client);
    sink->AddMonitor(&errors);

    SVStatus status = 0;
    std::string text;
    source->SetName(input, true);
    if (errors.Failed(&status, &text)) {
        std::fprintf(stderr, "svremux: cannot open %s (error %d)\n", text.c_str(), int(status));
        return 1;
    }
    if (SameFile(input, output)) {
        std::fprintf(stderr, "svremux: %s is the title itself\n", output.c_str());
        return 1;
    }
    demux->SetName(input, true);
    *created = true;
    sink->SetName(output, true);
    if (errors.Failed(&status, &text) || sink->HasFailed()) {
        std::fprintf(stderr, "svremux: cannot write %s (error %d)\n", output.c_str(), int(status));
        return 1;
    }
    const uint64_t size = source->EndPosition();

    ComponentStack stack(StackIdMain);
    stack.AddComponent(sink);
    stack.AddComponent(mux);
    stack.AddComponent(demux);
    stack.AddComponent(source);
    session->SetComponentStack(stack);
    session->SetCapacity(ByteAmount(kSessionCapacity));
    session->StartPump(MediaTime(kPumpInterval));
    session->SetPullAmount(ByteAmount(kPullBytes));
    session->Start();
    session->PreLoad(MediaTime(kPreloadTimeout));

    const bool progress = isatty(STDERR_FILENO) != 0;
    uint64_t lastRead = 0;
    uint64_t lastWritten = 0;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
    bool stalled = false;
    const auto showProgress = [&](uint64_t read, uint64_t written) {
        if (progress) {
            std::fprintf(stderr, "\rsvremux: %3d%%  %s read, %s written ",
                         size ? int(std::min(read, size) * 100 / size) : 0, Megabytes(read).c_str(),
                         Megabytes(written).c_str());
        }
    };
    while (!session->WaitForStop(200)) {
        const uint64_t read = sink->read_;
        const uint64_t written = sink->written_;
        showProgress(read, written);
        const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        if (read != lastRead || written != lastWritten) {
            lastRead = read;
            lastWritten = written;
            lastChange = now;
        } else if (now - lastChange > std::chrono::seconds(kStallSeconds)) {
            stalled = true;
            break;
        }
    }
    session->Stop(true);
    if (progress) {
        showProgress(sink->read_, sink->written_);
        std::fprintf(stderr, "\n");
    }

    if (errors.Failed(&status, &text)) {
        std::fprintf(stderr, "svremux: %s: error %d: %s\n", input.c_str(), int(status),
                     text.c_str());
        return 1;
    }
    if (sink->HasFailed()) {
        std::fprintf(stderr, "svremux: %s: could not write the output\n", output.c_str());
        return 1;
    }
    if (stalled) {
        std::fprintf(stderr, "svremux: %s: no progress for %d s, giving up\n", input.c_str(),
                     kStallSeconds);
        return 1;
    }
    if (!sink->complete_) {
        std::fprintf(stderr, "svremux: %s: the stream ended before its end was reached\n",
                     input.c_str());
        return 1;
    }
    if (tracks.count_ == 0 || sink->written_ == 0) {
        std::fprintf(stderr, "svremux: %s: the title has no track to write\n", input.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "-o") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "svremux: -o needs a file name\n%s", kUsage);
                return 2;
            }
            output = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "svremux: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (input.empty()) {
            input = arg;
        } else {
            std::fprintf(stderr, "svremux: more than one title given\n%s", kUsage);
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::fprintf(stderr, "svremux: a title and -o OUTPUT are needed\n%s", kUsage);
        return 2;
    }
    bool created = false;
    const int status = Run(input, output, &created);
    if (status != 0 && created) {
        std::remove(output.c_str());  // a partial stream must not pass for a whole one
    }
    return status;
}
