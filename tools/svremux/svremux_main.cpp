// svremux: reads a title of the engine's container and writes its transport stream (or, with
// --ps, its program stream) to a file, through the Transformer's file output of the first
// rendition: file client (or HTTP client for an http:// or https:// title), first-rendition
// cut, program-stream demultiplexer, transport-stream (or program-stream) multiplexer and
// batched file sink, run on the Transformer's session as playback runs it. A multi-file title
// (a SMIL manifest) runs the same way through the Transformer's playback chain for file output.
// This program only watches the run: its progress, a stall, a stop signal, and whether the
// stream came out whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/MediaClassification.h"
#include "engine/api/Transformer.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/core/Task.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "engine/samples/SampleFormat.h"
#include "engine/seek/FirstRenditionCut.h"
#include "engine/serve/BatchedFileServer.h"
#include "common/CommandLine.h"
#include "common/OutputFile.h"
#include "tools/titledump/TitleDump.h"

using namespace SarvelonMediaKit;

namespace {

const char kDescription[] =
    "Writes the transport stream of a title of the engine's container (its first rendition)\n"
    "to OUTPUT.ts, through the same demultiplexer and multiplexer that playback uses. TITLE is\n"
    "a path, or an http:// or https:// URL that is downloaded as playback downloads it.\n"
    "With --ps the output is an MPEG-2 program stream (OUTPUT.mpg) written by the engine's\n"
    "program-stream multiplexer instead: the same pictures and audio frames in packs, E-AC-3\n"
    "audio as private stream 1.\n"
    "A multi-file title (a .smil manifest naming a video title and audio titles per language,\n"
    "as a path, a file:// URL or an http:// URL) is written through the engine's playback\n"
    "chain instead: its pictures and the sound of its first language.\n"
    "A progress line is shown when standard error is a terminal. The run fails when the media\n"
    "ends before the size and duration the title's index gives, when damaged data had to be\n"
    "skipped (the message names the byte where they start), and when key frames the index\n"
    "lists never came (groups of pictures lost mid-file).\n";

const char kEpilogue[] =
    "An existing file is replaced only once the stream is whole: on failure or interruption\n"
    "it keeps what it held, a file made by this run is removed, and a device or FIFO is left\n"
    "as it is.\n";

// The session's memory: room for the batched sink's queue beside what the chain holds.
const uint32_t kSessionCapacity = 64u << 20;
const char kCacheSizeKey[] = "CredentialsKey_CacheSize";
// A chain that neither reads nor writes for this long is stuck: give up rather than hang. Longer
// than the HTTP client's resumes of a failed download take (their pauses add up to 15.5 s), so
// that a download that cannot be resumed fails with its own reason.
const int kStallSeconds = 30;

// What one side of the chain reports: the first error ends the run. Attached before the run,
// to the Transformer (every error of the chain, and damaged data the parser skipped), to the
// source client (a download's warnings) or to the sink; Watch names the session to stop.
class Errors : public ErrorInfoMonitor {
public:
    void Watch(Session* session) { session_ = session; }

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
        if (Session* session = session_.load()) session->Stop(false);
    }
    void SetWarning(SVStatus status, std::string text) override {
        if (status == SVStatusParserError) {
            // The parser skipped damaged data: what is written would lack it, so the job
            // cannot be whole. The first such stretch ends the run and is its reason.
            SetError(status, text);
            return;
        }
        if (status == SVStatusSuccess) {
            // A download's warning withdrawn: the data flow again.
            if (warned_.exchange(false)) std::fprintf(stderr, "svremux: the data arrive again\n");
            return;
        }
        warned_ = true;
        std::fprintf(stderr, "svremux: warning: %s\n", SvTools::StatusText(status, text).c_str());
    }

    bool Failed(SVStatus* status, std::string* text) {
        std::lock_guard<std::mutex> lock(lock_);
        *status = status_;
        *text = text_;
        return failed_;
    }

private:
    std::atomic<Session*> session_{nullptr};
    std::atomic<bool> warned_{false};
    std::mutex lock_;
    bool failed_ = false;
    SVStatus status_ = 0;
    std::string text_;
};

// Takes what the demultiplexer announces: the number of tracks, for the message about a title
// with nothing to write; the media bytes and the duration of the first one, which the run must
// reach; the span of media times the parser met, which tells how much of the media was there;
// and which of the first one's seek points (its key frames, or audio frames for a track without
// pictures) the media times met, which tells whether groups of pictures were lost on the way.
class Tracks : public StreamInfoMonitor {
public:
    void TracksAvailable(const TrackMap& tracks, bool) override {
        count_ = tracks.size();
        uint64_t duration = kUnknown;
        if (!tracks.empty()) {
            const MediaTrack& track = *tracks.begin()->second;
            ListSeekPoints(track);
            const SV::SVDictionary& info = track.GetInfo();
            uint64_t offset = 0;
            uint64_t size = 0;
            if (info.GetUnsignedLong(TrackInfoKey_Offset, offset) &&
                info.GetUnsignedLong(TrackInfoKey_Size, size) && offset + size >= offset) {
                size_ = size;
            }
            const MediaTrackIndex& index = track.GetIndex();
            if (index.GetDuration() != 0) {
                duration = index.TicksToMicroseconds(index.GetDuration());
            }
        }
        duration_ = duration;
    }
    void MediaTimeAvailable(uint32_t streamType, MediaTime time, MediaTime) override {
        const uint64_t t = time.Get();
        SeekPointMet(streamType, t);
        if (t < firstTime_) {
            firstTime_ = t;
        }
        if (t > lastTime_ || lastTime_ == kUnknown) {
            lastTime_ = t;
        }
    }
    // Microseconds of media met, from the first media time to the last.
    uint64_t Reached() const {
        return lastTime_ == kUnknown || firstTime_ > lastTime_ ? 0 : lastTime_ - firstTime_;
    }

    // Seek points whose media time never came while a later one did: groups of pictures lost
    // mid-file (zeros in their place are stuffing to the parser, not damage it tells). lost and
    // listed are counts, firstLost the first one's time in microseconds. False when none.
    bool LostSeekPoints(uint64_t& lost, uint64_t& listed, uint64_t& firstLost) {
        std::lock_guard<std::mutex> lock(seekLock_);
        size_t end = seekPoints_.size();
        while (end > 0 && !seekPoints_[end - 1].met) {
            --end;
        }
        lost = 0;
        listed = seekPoints_.size();
        for (size_t i = 0; i < end; ++i) {
            if (!seekPoints_[i].met) {
                firstLost = lost == 0 ? seekPoints_[i].time : firstLost;
                ++lost;
            }
        }
        return lost != 0;
    }

    static constexpr uint64_t kUnknown = ~uint64_t(0);
    std::atomic<size_t> count_{0};
    std::atomic<uint64_t> duration_{kUnknown};  // the first rendition's, microseconds
    std::atomic<uint64_t> size_{kUnknown};      // the first rendition's media bytes

private:
    struct SeekPoint {
        uint64_t time;  // microseconds, as the parser tells the media time of its frame
        bool met;
    };

    // The track's seek points in order, once (the map is published again as it completes).
    void ListSeekPoints(const MediaTrack& track) {
        std::lock_guard<std::mutex> lock(seekLock_);
        if (!seekPoints_.empty()) {
            return;
        }
        seekType_ = track.HasVideo() ? SampleMediaTypeVideo : SampleMediaTypeAudio;
        const MediaTrackIndex& index = track.GetIndex();
        for (uint32_t k = 0; k < index.GetCount(); ++k) {
            const uint64_t time = TicksToMicrosecondsTruncated(index.GetEntries()[k].time);
            seekPoints_.push_back({time, false});
            seekTimes_.insert(time);
        }
    }
    // Marks the first seek point not yet met, from the last one met on, that has the time: the
    // media come in time order.
    void SeekPointMet(uint32_t streamType, uint64_t time) {
        std::lock_guard<std::mutex> lock(seekLock_);
        if (streamType != seekType_ || seekTimes_.count(time) == 0) {
            return;  // not a frame the index lists (a picture or an audio frame between them)
        }
        for (size_t i = nextSeekPoint_; i < seekPoints_.size(); ++i) {
            if (seekPoints_[i].time == time) {
                seekPoints_[i].met = true;
                nextSeekPoint_ = i + 1;
                return;
            }
        }
    }

    // Written on the pump thread only; read once the session has stopped.
    std::atomic<uint64_t> firstTime_{kUnknown};
    std::atomic<uint64_t> lastTime_{kUnknown};
    std::mutex seekLock_;
    uint32_t seekType_ = SampleMediaTypeNone;
    std::vector<SeekPoint> seekPoints_;
    std::set<uint64_t> seekTimes_;
    size_t nextSeekPoint_ = 0;
};

// Asks the chain, on the session's task thread where its stages run, for the size of the title
// as its source knows it (a download's once its response has told the length) and keeps it for
// the thread that shows the progress. Holds the stage weakly: a task left over when the chain
// has gone does nothing.
class SourceSizeTask : public Task {
public:
    SourceSizeTask(const boost::weak_ptr<Component>& stage,
                   const boost::shared_ptr<std::atomic<uint64_t>>& size)
        : Task(Session::TaskCategorySession, StackIdMain, "svremux::SourceSize"),
          stage_(stage),
          size_(size) {}

    bool Execute() override {
        if (const boost::shared_ptr<Component> stage = stage_.lock()) {
            size_->store(stage->EndPosition().Get());
        }
        return false;
    }

private:
    boost::weak_ptr<Component> stage_;
    boost::shared_ptr<std::atomic<uint64_t>> size_;
};

// The last sample lasts beyond its own time (a picture, an audio frame), and the index counts
// to its end: media that reach this close to the index's duration are whole.
const uint64_t kDurationSlack = 1000000;
// A transport stream frames the elementary streams at least as heavily as the program stream
// (4 bytes per 188 and a stuffed last packet per PES against a few bytes per 2 KiB pack), and
// the program stream written (a pack header and PES header per picture) about as heavily: the
// stream written is never much smaller than the media read, unless media were lost.
const uint64_t kLeastWrittenPerCent = 90;

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

std::string Seconds(uint64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(microseconds) / 1e6);
    return text;
}

// The signal that asked the run to stop (SIGINT, SIGTERM), or 0.
volatile std::sig_atomic_t gStopSignal = 0;

// The first SIGINT or SIGTERM asks the run to stop and clean up; a second one ends the process
// at once, removing the file the run made.
void OnStopSignal(int signal) {
    if (gStopSignal != 0) {
        SvTools::OutputFile::RemoveForSignal();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    gStopSignal = signal;
}

// The engine's text for an error of the chain, with its status number. The demultiplexer tells
// a parser's stop as "Mpeg2PsParser error N": that is put in words, N kept beside it.
std::string ChainFailure(SVStatus status, const std::string& text) {
    const std::string prefix = "Mpeg2PsParser error ";
    if (status == SVStatusParserError && text.compare(0, prefix.size(), prefix) == 0 &&
        text.size() > prefix.size() && text.size() - prefix.size() <= 9 &&
        text.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
        const std::string number = text.substr(prefix.size());
        return "the parser stopped: " +
               SvTools::ResultName(
                   static_cast<SarvelonMediaKit::Mpeg2PsResult>(std::stoul(number))) +
               " (" + number + ", status " + std::to_string(status) + ")";
    }
    return SvTools::StatusText(status, text);
}

// After the failure said, the hint for a file that is no title at all; returns the failure's
// exit status.
int NotATitleHint(const SvTools::CommandLine& cli, SVStatus status, const std::string& text,
                  int failed) {
    if (SvTools::IsNotATitle(status, text)) {
        std::fputs(SvTools::NotATitleHint(cli.Program()).c_str(), stderr);
    }
    return failed;
}

// Sent to the thread that writes the output to interrupt a write that waits on a reader that
// does not read; its handler does nothing, the interrupted write is then given up.
const int kWakeSignal = SIGUSR1;

void OnWakeSignal(int) {}

// No SA_RESTART: an open that waits (a FIFO without a writer) gives up at the first signal, and
// a write blocked on a full pipe returns, so that the run can stop.
void CatchSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnWakeSignal;
    sigaction(kWakeSignal, &action, nullptr);
}

// The reason to give for a failed open or write: the system's reason for the failed call (the
// sink keeps it) and the engine's text with its number.
std::string WriteFailure(int reason, SVStatus status, const std::string& text) {
    if (reason == 0) {
        return SvTools::StatusText(status, text);
    }
    return SvTools::SystemReason(reason) + " (" + SvTools::StatusText(status, text) + ")";
}

// True for a multi-file title: a SMIL manifest (".smil" or ".smi", in a path or a URL).
bool IsManifestTitle(const std::string& title) { return ClassifyMedia(title) == MediaFormatSmil; }

// True for a title named by an http:// or https:// URL (the scheme in any case).
bool IsHttpTitle(const std::string& title) {
    const size_t colon = title.find("://");
    if (colon == std::string::npos) {
        return false;
    }
    std::string scheme = title.substr(0, colon);
    for (char& c : scheme) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return scheme == "http" || scheme == "https";
}

// A local title is checked first with the system's reason, and is never its own output. 0 when
// it can be read (size: the bytes of a regular file, else 0), else the exit status of the
// failure said.
int CheckLocalTitle(const SvTools::CommandLine& cli, const std::string& input,
                    const std::string& outputPath, uint64_t& size) {
    struct stat info;
    const int probe = open(input.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const bool known = probe >= 0 && fstat(probe, &info) == 0;
    if (!known || S_ISDIR(info.st_mode)) {
        const int reason = !known ? errno : EISDIR;
        if (probe >= 0) {
            close(probe);
        }
        return cli.Failure("cannot open " + input + ": " + SvTools::SystemReason(reason));
    }
    close(probe);
    size = S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
    if (S_ISREG(info.st_mode) && info.st_size == 0) {
        // Said as it is: the chain would only wait in vain for an index and time out.
        return cli.Failure(input + ": the file is empty");
    }
    if (!SvTools::CommandLine::IsStandardStream(outputPath) &&
        SvTools::IsSameFile(input, outputPath)) {
        return cli.Failure(outputPath + " is the title itself");
    }
    return 0;
}

int Run(const SvTools::CommandLine& cli, const std::string& input, SvTools::OutputFile& output) {
    // The Transformer takes paths and http(s) URLs: a "file://" URL is read as its path.
    std::string source = input;
    if (SvTools::IsFileUrl(input)) {
        std::string reason;
        if (!SvTools::FileUrlPath(input, source, reason)) {
            return cli.Failure(input + ": " + reason);
        }
    }
    const bool http = IsHttpTitle(source);
    const bool manifest = IsManifestTitle(source);
    const std::string outputPath = cli.Value("output");
    // The size of the title as far as it is known before the run (a download's comes later).
    uint64_t knownSize = 0;
    if (!http) {
        if (const int failure = CheckLocalTitle(cli, source, outputPath, knownSize)) {
            return failure;
        }
    }
    std::string reason;
    if (!output.Prepare(outputPath, reason)) {
        return cli.Failure("cannot write " + reason);
    }

    // Monitors first: they outlive the Transformer, whose chain reports to them.
    Errors errors;
    Errors outputErrors;
    Tracks tracks;
    if (gStopSignal != 0) {
        return cli.Failure("interrupted");
    }
    // A manifest's files are preloaded and checked by the multi-file loader, its pictures read
    // by the main chain and the sound of its first language by the audio branch, into one
    // multiplexer and the plain file sink; the Transformer's status is all there is to watch.
    FileOutputOptions options;
    if (!manifest) {
        options.firstRenditionOnly = true;
        options.wakeSignal = kWakeSignal;
        options.sourceMonitor = &errors;
    }
    // The chain is built, and the output opened, here; the title is opened by the run.
    Transformer transformer(source, cli.Has("ps") ? MediaFormatMpeg2Ps : MediaFormatMpeg2Ts,
                            OutputKindFile, output.WritePath(), options);
    const boost::shared_ptr<Session> session = transformer.GetSession();
    FirstRenditionCut* const cutStage = transformer.GetFirstRenditionCut();
    BatchedFileServer* const sink = transformer.GetBatchedFileServer();
    SVStatus status = transformer.GetStatus();
    std::string text = transformer.GetErrorText();
    if (gStopSignal != 0) {
        return cli.Failure("interrupted");
    }
    if (sink != nullptr && sink->HasFailed()) {
        return cli.Failure("cannot write " + output.DisplayName() + ": " +
                           WriteFailure(sink->FailureReason(), status, text));
    }
    if (status != SVStatusSuccess || !session ||
        (!manifest && (cutStage == nullptr || sink == nullptr))) {
        return cli.Failure("cannot open " + input + ": " + SvTools::StatusText(status, text));
    }
    SV::SVDictionary credentials;
    if (!manifest) {
        errors.Watch(session.get());
        outputErrors.Watch(session.get());
        static_cast<ErrorInfoSource&>(transformer).AddMonitor(&errors);
        sink->AddMonitor(&outputErrors);
        transformer.AddStreamInfoMonitor(&tracks);
        credentials.SetValue(kCacheSizeKey, SV::SVTypedValue(uint64_t(kSessionCapacity)));
    }
    transformer.SetCredentials(credentials);
    // The title is opened (or its download started), its index read and the stream written on
    // the Transformer's worker; this thread watches.
    transformer.Transform(MediaTime(~uint64_t(0)), TrickPlayRate(0), true);

    const bool progress = isatty(STDERR_FILENO) != 0;
    // The title's size as the source knows it: a file's from the start, a download's once its
    // response has told it (asked of the chain until then).
    const boost::shared_ptr<std::atomic<uint64_t>> sourceSize =
        boost::make_shared<std::atomic<uint64_t>>(knownSize);
    uint64_t lastRead = 0;
    uint64_t lastWritten = 0;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
    bool stalled = false;
    // Counted against the title's size, or the end of the first rendition once the index has
    // told it when that comes first; 0 % while neither is known.
    const auto showProgress = [&](uint64_t read, uint64_t written) {
        if (progress) {
            const uint64_t size = sourceSize->load();
            uint64_t end = cutStage->End();
            if (size != 0 && size < end) {
                end = size;
            }
            const bool known = end != 0 && end != FirstRenditionCut::kUnknown;
            std::fprintf(stderr, "\rsvremux: %3d%%  %s read, %s written ",
                         known ? int(std::min(read, end) * 100 / end) : 0, Megabytes(read).c_str(),
                         Megabytes(written).c_str());
        }
    };
    while (!session->WaitForStop(200) && gStopSignal == 0) {
        if (manifest) {
            // No progress to show or stall to tell; a step of the run that failed without
            // stopping the session (the audio branch) ends the run all the same.
            if (transformer.GetStatus() != SVStatusSuccess) break;
            continue;
        }
        if (progress && sourceSize->load() == 0) {
            session->AddTask(
                boost::make_shared<SourceSizeTask>(cutStage->weak_from_this(), sourceSize));
        }
        const uint64_t read = cutStage->Position();
        const uint64_t written = sink->BytesTaken();
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
    if ((stalled || gStopSignal != 0) && sink != nullptr) {
        // The pump thread may be blocked writing to a pipe or FIFO whose reader stopped
        // reading: its write is given up, or the stop below would wait for it for ever.
        sink->CancelWrites();
    }
    // Stops the session and waits for the worker: its status is final afterwards.
    transformer.Stop();
    if (progress && !manifest) {
        showProgress(cutStage->Position(), sink->BytesTaken());
        std::fprintf(stderr, "\n");
    }

    if (gStopSignal != 0) {
        return cli.Failure("interrupted");
    }
    if (manifest) {
        status = transformer.GetStatus();
        if (status != SVStatusSuccess) {
            return cli.Failure(input + ": " +
                               SvTools::StatusText(status, transformer.GetErrorText()));
        }
        return 0;
    }
    const FirstRenditionCut& cut = *cutStage;
    if (stalled) {
        return cli.Failure(input + ": no progress for " + std::to_string(kStallSeconds) +
                           " s, giving up" +
                           (sink->FailureReason() == ECANCELED
                                ? " (" + output.DisplayName() + " takes nothing more)"
                                : ""));
    }
    if (outputErrors.Failed(&status, &text) || sink->HasFailed()) {
        return cli.Failure("cannot write " + output.DisplayName() + ": " +
                           WriteFailure(sink->FailureReason(), status, text));
    }
    // Whole means as far as the index says: the bytes of the rendition all read (a file cut
    // short while it was read ends early) and its media times all met (damaged media are
    // skipped by the parser and leave a gap up to the end).
    // The source's size (a download's as it came), now that the session has stopped.
    const uint64_t size = uint64_t(cutStage->EndPosition());
    const uint64_t end = cut.End() != FirstRenditionCut::kUnknown ? cut.End() : size;
    const uint64_t read = cut.Position();
    const auto endedEarly = [&]() {
        return cli.Failure(input + ": the media ended early: " + std::to_string(read) +
                           " bytes read of the " + std::to_string(end) + " its index gives (" +
                           (http ? "the download was cut short" : "the file was cut short") + ")");
    };
    if (errors.Failed(&status, &text)) {
        // The source found the title cut short under it while it was read (one short before
        // the start is the index's word alone): said with how far it came.
        if (status == SVStatusMediaTruncated && read != 0 && read < end && end <= size) {
            return endedEarly();
        }
        // "cannot open" when nothing of the title came: the file's or the origin's answer (or
        // the reason there was none).
        const int failed = cli.Failure((cut.Position() == 0 ? "cannot open " : "") + input + ": " +
                                       ChainFailure(status, text));
        return NotATitleHint(cli, status, text, failed);
    }
    if (transformer.GetStatus() != SVStatusSuccess) {
        // A step of the run that failed without an error event.
        status = transformer.GetStatus();
        text = transformer.GetErrorText();
        return NotATitleHint(cli, status, text,
                             cli.Failure(input + ": " + ChainFailure(status, text)));
    }
    if (!sink->IsComplete()) {
        return cli.Failure(input + ": the stream ended before its end was reached");
    }
    if (tracks.count_ == 0 || sink->BytesTaken() == 0) {
        return cli.Failure(input + ": the title has no track to write");
    }
    if (read < end) return endedEarly();
    uint64_t lost = 0;
    uint64_t listed = 0;
    uint64_t firstLost = 0;
    if (tracks.LostSeekPoints(lost, listed, firstLost)) {
        return cli.Failure(input + ": groups of pictures are lost: " + std::to_string(lost) +
                           " of the " + std::to_string(listed) +
                           " key frames its index lists never came, the first at " +
                           Seconds(firstLost) + " (the title is damaged)");
    }
    const uint64_t mediaSize = tracks.size_;
    const uint64_t written = sink->BytesTaken();
    if (mediaSize != Tracks::kUnknown && written / kLeastWrittenPerCent < mediaSize / 100) {
        return cli.Failure(input + ": the media are damaged: " + std::to_string(written) +
                           " bytes written for the " + std::to_string(mediaSize) +
                           " bytes of media its index gives");
    }
    const uint64_t duration = tracks.duration_;
    const uint64_t reached = tracks.Reached();
    if (duration != Tracks::kUnknown && reached + kDurationSlack < duration) {
        return cli.Failure(input + ": the media ended early: " + Seconds(reached) + " of the " +
                           Seconds(duration) + " its index gives (the title is damaged)");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("svremux", "[OPTIONS] TITLE -o OUTPUT.ts|OUTPUT.mpg", kDescription,
                             kEpilogue);
    cli.AddOption("output", 'o', "FILE",
                  "the transport stream (with --ps the program stream) to write (required; - "
                  "for stdout)");
    cli.AddOption("ps", 0, nullptr, "write an MPEG-2 program stream instead of a transport stream");
    cli.SetArgumentCount(1, 1);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    if (!cli.Has("output")) {
        return cli.UsageError("-o OUTPUT is needed");
    }
    CatchSignals();
    const std::string title = cli.Arguments()[0];
    const bool http = IsHttpTitle(title);
    // The engine's own few lines (its download thread's stop, for one) are not this tool's to
    // say, and standard output may be the stream itself: they go nowhere.
    FILE* engineLines = std::fopen("/dev/null", "we");
    if (engineLines != nullptr) {
        SV::SetLineWriterStream(engineLines);
    }
    if (http) {
        // The engine's transport; its download thread is stopped again below, once every
        // session that used it has gone.
        SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface);
    }
    SvTools::OutputFile output;
    int status = Run(cli, title, output);
    if (http) {
        ShutdownCurlHTTPClientInterface();
    }
    if (engineLines != nullptr) {
        SV::SetLineWriterStream(nullptr);
        std::fclose(engineLines);
    }
    if (status == 0 && gStopSignal == 0) {
        // The chain has closed the stream: it takes the place of what the path named.
        std::string reason;
        if (!output.Commit(reason)) {
            status = cli.Failure("cannot write " + reason);
        }
    }
    if (status != 0 || gStopSignal != 0) {
        output.Discard();  // a partial stream must not pass for a whole one
    }
    if (gStopSignal != 0) {
        // Cleaned up: end as the signal would have, so that the caller sees the interruption.
        const int signal = gStopSignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}
