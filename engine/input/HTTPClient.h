#ifndef ENGINE_INPUT_HTTPCLIENT_H
#define ENGINE_INPUT_HTTPCLIENT_H

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/BandwidthInfoSource.h"
#include "engine/core/Component.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/input/HTTPClientInterfaceClient.h"
#include "engine/input/HTTPClientTasks.h"

namespace SV {
class SVLibraryException;
}

namespace SarvelonMediaKit {

class HTTPClientInterface;

// The source at the input end of a chain when the media comes over HTTP. It asks a transport
// for a byte range of its URL; what the transport receives on the download thread becomes
// tasks on the session's task thread (chunks, the announced end of the resource, the end of the
// transfer), so the chain only ever changes on that thread and sees ordinary chunks that end in
// an end-of-data marker.
//
// It throttles the transport to the room the chain has left (a download that is not limited,
// at most kUnlimitedReadAhead ahead), fetches byte ranges out of band
// for a consumer that asks (the demultiplexer's thumbnails), passes the transport's errors on
// as its own, notices a download that stopped delivering and re-requests it from the byte it
// had reached (warning 2000 "Data stopped arriving, will retry", withdrawn with 200 once data
// flows again), and measures the download rate for a bandwidth monitor (the seeker).
//
// A transfer that fails for a reason that may pass (the connection dropped or reset once data
// of the resource had come, or a server answered 500, 502, 503 or 504) is resumed the same
// way, with the same warning, after a pause that doubles with each failure in a row; its error
// is held back, and published only when kResumeRetries resumes in a row have failed, so a
// passing fault never reaches the session. A resume asks from a little before the byte reached
// (up to kSeamBytes) and compares that overlap with the bytes it already has: an origin whose
// resumed body does not continue them (a body shifted against its Content-Range) is asked
// again, and the failure is published as 1032 when that persists. No byte of a resume that
// failed the comparison reaches the chain.
//
// Lifetimes: a transport is always aborted, closed and awaited (bounded by kCloseWaitMs) and
// the queued data of its transfer dropped before another takes its place, so no byte of an old
// transfer reaches the chain after a new range starts. Handlers a transport still holds and
// tasks still queued never touch a client that has gone: they drop their work instead. A
// transport let go without having reported closed is cut off alone (its own guard), so the
// other transport's work and the client's queued errors go on. Handlers hold the session's task
// queue, never the session.
//
// Threads: every operation runs on the session's task thread, except the handlers the
// transports call and SetError / SetWarning / BandwidthHandlerInTask, which run on the
// download thread and only post tasks or set the transport-idle flag.
class HTTPClient : public Component,
                   public HTTPClientInterfaceClient,
                   public BandwidthInfoSource,
                   public ErrorInfoSource,
                   public ErrorInfoMonitor {
public:
    // Base of the resume threshold of a limited download, and the read-ahead assumed until the
    // transport reports its own.
    static constexpr uint32_t kReadAheadBase = 0x20000;
    // Added to the read-ahead: a limited download resumes only when the chain can take more
    // than read-ahead + this.
    static constexpr uint32_t kResumeExtra = 0x100000;
    // A stall check that finds data expected and none added counts; the check after this many
    // re-requests the data.
    static constexpr uint32_t kStallChecks = 4;
    // The longest wait for a transport to report itself closed before it is let go anyway
    // (its handlers hold nothing that could then be used after it is gone).
    static constexpr uint32_t kCloseWaitMs = 5000;
    // What a transport resumes past when the client sets no threshold of its own.
    static constexpr uint32_t kTransportResumeThreshold = 0x10000;
    // A transport that holds more allowance than the chain can take is cut back only past this
    // (one delivery may be counted as queued before the transport counts it out).
    static constexpr uint32_t kRenewalSlack = 0x10000;
    // The most room a paused transport waits for before it is granted more (see IdleRenewal).
    static constexpr uint32_t kIdleRenewalBytes = 0x100000;
    // The most a download that is not limited (no bandwidth monitor: nobody plays it at its
    // rate, the chain takes bytes as fast as it can) holds ahead of the chain, queued bytes
    // included.
    static constexpr uint32_t kUnlimitedReadAhead = 0x200000;
    // Failed resumes in a row after which a passing failure is given up and published.
    static constexpr uint32_t kResumeRetries = 5;
    // The pause before the first resume of a failure (doubled for each further failure in a
    // row), unless the process-wide setting says otherwise (SetHTTPRetryPauseMs).
    static constexpr uint32_t kRetryPauseMs = 500;
    // The longest pause between two resumes.
    static constexpr uint32_t kMaxRetryPauseMs = 8000;
    // A resume asks again for up to this many of the bytes it already has, to check that the
    // new body continues them.
    static constexpr uint32_t kSeamBytes = 4096;

    explicit HTTPClient(Session* session);
    // Aborts and closes both transports and waits for them (bounded); tasks still queued for
    // this client are dropped unrun.
    ~HTTPClient() override;

    using Component::DoSeek;
    // Both source families attach and detach by the monitor's type.
    using BandwidthInfoSource::AddMonitor;
    using BandwidthInfoSource::HasMonitor;
    using BandwidthInfoSource::RemoveMonitor;
    using ErrorInfoSource::AddMonitor;
    using ErrorInfoSource::HasMonitor;
    using ErrorInfoSource::RemoveMonitor;

    // ---- Component ----------------------------------------------------------------------

    // The name is the URL; with flag set, a fresh download of the whole resource starts
    // (posted as "HTTPClient::DoSetName").
    void DoSetName(const std::string& name, bool flag) override;
    std::string DoGetName() override;
    // Renews the transport's allowance after a pull, when it is due (UpdateAllowance).
    void PostPullData(ByteAmount& amount) override;
    // A chunk of the current transfer: advances the current position, goes into the cache (or
    // on), clears the stall count and the failures in a row, withdraws a shown stall warning,
    // renews the allowance when due. The overlap a resume asked for again is compared with the
    // bytes held instead, and only what follows it goes on; a difference fails the resume.
    void DoAdd(const MemoryChunk& chunk) override;
    // Resumes an idle transport while data is still expected; publishes the bandwidth.
    void DoTick() override;
    // The stall check (at most once a second). A retry whose transport cannot be made is
    // reported as an error and tried again at the next check; nothing is thrown. A failed
    // transfer whose error is held is resumed at the first check after its pause.
    void DoPeriodicCheck() override;
    // Detaches every bandwidth monitor; aborts, closes, awaits and releases both transports;
    // forgets a pending retry and the stall state, so a stopped client starts nothing by
    // itself until the next range request.
    void DoStop() override;
    // Downloads are limited exactly when a bandwidth monitor is attached.
    void DoLinked(bool firstTime) override;
    std::string GetTypeName() const override;
    // A download of [start, end) (end 0: to the end of the resource); repositionCache empties
    // the cache and moves it to start. When no transport can be made (the factory throws),
    // the failure is published as error 2007 and the next stall check tries again.
    void DoSeek(BytePosition start, BytePosition end, bool repositionCache) override;
    // Fetches [start, end) with a transport of its own and hands it on through OutOfBandData;
    // a request while another runs replaces it. Always true.
    bool DoOutOfBandRequest(BytePosition start, BytePosition end) override;
    bool DoOutOfBandEnd() override;
    // Takes effect at the next download start.
    void DoSetDownloadLimited(bool limited) override;
    bool KnowCurrentLoadedFilePosition() override;
    bool KnowEndPosition() override;
    // How far data has arrived: the cache's loaded position, or the current position without
    // a cache.
    BytePosition DoCurrentLoadedFilePosition() override;
    // The size the transport announced; 0 until then.
    BytePosition DoEndPosition() override;
    // Stack 1: "StatsKey_VideoStreamingBufferSize", "StatsKey_VideoStreamingBufferUsed",
    // "StatsKey_MeasuredBandwidth" (bits per second); stack 2: the two audio buffer keys. Only
    // keys already in the dictionary are written, and only while the cache's tracker lives.
    void DoGetStatistics(SV::SVDictionary& statistics) override;

    // ---- HTTPClientInterfaceClient ----------------------------------------------------------

    void HTTPClientInterfaceCreated(HTTPClientInterface* transport) override;
    // Releases the main transport when it is that one.
    void HTTPClientInterfaceDestroyed(HTTPClientInterface* transport) override;

    // ---- ErrorInfoMonitor of the transports (download thread) -----------------------------

    // Posted ("HTTPClient::SetError" / "HTTPClient::SetWarning") and published unchanged
    // through this client's own error source on the task thread.
    void SetError(SVStatus status, std::string text) override;
    void SetWarning(SVStatus status, std::string text) override;

    // The bytes that data tasks carry toward this client and that have not reached it yet
    // (any thread): the allowance leaves room for them.
    const boost::shared_ptr<std::atomic<uint64_t>>& QueuedData() const { return queuedData_; }

    // ---- Run by the tasks, on the task thread -------------------------------------------

    // Records the size of the resource the transport announced.
    void SetEndPosition(uint64_t end);
    // The transfer ended: one end-of-data marker per download start when it succeeded; a
    // failure has the next stall check re-request the data (or end the download, when every
    // byte it owes has arrived), after the pause of a held failure, or publishes the held
    // error when the resumes are used up.
    void DataDone(bool failed);
    // An error of the main transport's current transfer: held back when it may pass (see the
    // class comment), else published as it is.
    void TransportError(SVStatus status, std::string text);
    // The server refused the range asked for (416) and gave the resource's size as total (0:
    // it gave none). Nothing of the refused transfer arrived, so the request's start is where
    // the resource ends: the download ends as a complete one does, no error, nothing asked
    // again. A total past that start cannot come with a 416 (the server says there is more
    // yet refuses it): published once as the error it is, and the download is not retried
    // until the next range request or fresh start.
    void RangeRefused(uint64_t total);
    // A fresh download of the whole resource (no Range header).
    void Restart();
    // The fresh start of a newly named resource: Restart with the failures of any earlier
    // download forgotten.
    void StartFresh();
    // A bandwidth sample: 0 bytes (the transport went idle) starts a new measurement that
    // skips the reported read-ahead; otherwise the bytes are counted.
    void RecordBandwidthSample(const SV::PilTime& time, unsigned bytes);
    void DeliverOutOfBandData(MemoryChunk chunk);
    // Closes and lets go of the out-of-band transport.
    void ReleaseOutOfBandTransport();
    // The same, when the transport is still the one of that request (a newer request keeps
    // its own).
    void ReleaseOutOfBandTransportOf(uint32_t request);
    void SetErrorInTask(SVStatus status, std::string text);
    void SetWarningInTask(SVStatus status, std::string text);

    // The transport's read-ahead (posted by the main transport's handler); a limited
    // download then resumes past value + kResumeExtra (capped as LimitedResumeThreshold says).
    void SetReportedReadAhead(unsigned value);

    // ---- Called by the main transport's handler on the download thread --------------------

    // Sets transport idle to (bytes == 0) and, while a bandwidth monitor listens, posts the
    // sample ("HTTPClient::BandwidthHandlerInTask": category 1 with bytes, 8 without). The
    // flag is cleared again at every download start and when the client grants the transport
    // more than its resume threshold (it then reads again, and silence counts as a stall).
    void BandwidthHandlerInTask(const SV::PilTime& time, unsigned bytes);

    // ---- For tests and statistics -------------------------------------------------------

    BytePosition GetCurrentPosition() const { return currentPosition_; }
    BytePosition GetRequestedEnd() const { return requestedEnd_; }
    uint32_t GetStallCount() const { return stallCount_; }
    // Failed transfers in a row whose errors were held back.
    uint32_t GetFailedAttempts() const { return failedAttempts_; }
    bool IsWarningShown() const { return warningShown_; }
    bool IsRestartNeeded() const { return restartNeeded_; }
    bool IsDownloadLimited() const { return downloadLimited_; }
    bool IsTransportIdle() const { return transportIdle_.load(); }
    boost::shared_ptr<HTTPClientInterface> GetMainTransport() const { return mainTransport_; }
    boost::shared_ptr<HTTPClientInterface> GetOutOfBandTransport() const {
        return outOfBandTransport_;
    }
    // The threshold the main transport resumes past (as the client set it).
    uint32_t GetResumeThreshold() const { return resumeThreshold_; }
    // Shortens the wait for a transport to report closed (kCloseWaitMs) so tests of the
    // bounded path do not wait seconds. Task thread.
    void SetCloseWaitMs(uint32_t ms) { closeWaitMs_ = ms; }
    // The first pause of a held failure for this client (the process-wide setting otherwise).
    void SetRetryPauseMs(uint32_t ms) { retryPauseMs_ = ms; }

private:
    // Steps common to a range request and a fresh start: a new transport under a guard of its
    // own, its handlers and margins, the request, the first allowance. False when no transport
    // could be made: the failure is published as an error and restart needed is set.
    bool StartTransport(uint64_t start, uint64_t end);
    // Aborts and closes the main transport, waits (bounded) until it says it is closed, drops
    // the queued data tasks of this stack and lets the transport go; one that did not report
    // closed is cut off (its guard).
    void RetireMainTransport();
    void RetireOutOfBandTransport();
    // The stall check's retry: from the loaded position, or afresh when nothing is loaded and
    // the whole resource is wanted. False when no transport could be made.
    bool Retry();
    // A range request from the loaded position to the requested end that asks again for the
    // held bytes before it (the seam), the cache kept.
    void Resume(BytePosition loaded);
    // Keeps the last kSeamBytes bytes added, the ones a resume compares.
    void KeepTail(const unsigned char* data, uint32_t size);
    // A resumed body that does not continue the bytes held: its transfer is let go and counts
    // as a failure.
    void SeamBroken();
    // Counts a failed transfer whose error is held; schedules its resume after the pause, or
    // gives up and publishes the error once kResumeRetries resumes in a row have failed.
    void TransferFailed();
    // Whether an error of the main transport may pass and is held back.
    bool MayPass(SVStatus status) const;
    // The failures in a row, the held error and the bytes kept for a seam belong to one
    // download: a new range request or fresh start forgets them.
    void ForgetFailures();
    // Publishes a failure to make a transport as error 2007 through the client's own source.
    void PublishFailure(const SV::SVLibraryException& exception);
    // Adds the end-of-data marker of this download start.
    void SendEndOfData();
    // Withdraws the stall warning (status 200, empty text) when one is shown.
    void WithdrawStallWarning();
    // Hands on the markers at the front of the cache that no bytes precede.
    void PassHeldMarkers();
    // Aborts and closes the transport; true once it reports closed, false when the close wait
    // passed first.
    bool CloseAndWait(const boost::shared_ptr<HTTPClientInterface>& transport) const;
    // Clears the root guard (no handler or task made so far reaches this client again) and
    // arms a fresh one for what comes after.
    void RenewRootGuard();
    boost::shared_ptr<HTTPClientGuard> CurrentGuard() const;
    // Posts a task of this client (category, name, member, arguments) under the root guard.
    template <typename Member, typename... Args>
    void Post(uint32_t category, const std::string& name, Member member, const Args&... args) {
        PostTask(boost::make_shared<HTTPClientMemberTask<Member, Args...>>(
            category, GetStackId(), name, CurrentGuard(), member, args...));
    }
    // To the session's queue; nothing without a session.
    void PostTask(const boost::shared_ptr<Task>& task);
    // What the chain can take: its room, at most kUnlimitedReadAhead unless the download is
    // limited.
    ByteAmount Room();
    // The transport's allowance: the room less what is still queued, granted when RenewalDue
    // says so, or, to a transport that reported itself idle, once it passes IdleRenewal or
    // the cache has handed on every byte. An idle transport granted more than its resume
    // threshold reads again: it is no longer counted as idle.
    void UpdateAllowance();
    // Whether a reading transport that holds held bytes of allowance needs a grant of wanted:
    // it holds less than half of wanted, or more than wanted by over kRenewalSlack, or one of
    // the two is unlimited.
    static bool RenewalDue(uint32_t wanted, uint32_t held);
    // The room past which an idle transport is granted it. Without a cache, the resume
    // threshold; with one, half of the budget (the cache's, or kUnlimitedReadAhead if smaller
    // for a download that is not limited), at most kIdleRenewalBytes, and never below the
    // resume threshold.
    uint32_t IdleRenewal() const;
    // Data is still expected below the requested end, or else below the announced end, or,
    // with neither end known, until the end of data was sent.
    bool DataExpected(BytePosition loaded) const;
    // The resume threshold of a limited download: read-ahead + kResumeExtra, but below what
    // the cache can ever offer (at most half its tracker's limit).
    uint32_t LimitedResumeThreshold(uint32_t readAhead) const;
    SV::PilTime Now() const;

    boost::shared_ptr<HTTPClientInterface> mainTransport_;
    boost::shared_ptr<HTTPClientInterface> outOfBandTransport_;
    // The root guard, shared with every handler and task of this client (each transport's
    // under a guard of its own below it); cleared when the client goes or stops, so late
    // deliveries and queued tasks find nothing to act on. Read on the download thread (errors
    // and samples post under it), replaced on the task thread.
    mutable std::mutex guardLock_;
    boost::shared_ptr<HTTPClientGuard> guard_;  // under guardLock_
    // The guards of the current main and out-of-band transports. Task thread.
    boost::shared_ptr<HTTPClientGuard> mainGuard_;
    boost::shared_ptr<HTTPClientGuard> outOfBandGuard_;
    // Hears the main transport's errors (the out-of-band transport's reach this client as a
    // monitor itself); replaced with the transport. Task thread.
    boost::shared_ptr<HTTPClientTransportErrors> mainErrors_;
    // The session's task queue: what the handlers post to, without holding the session.
    boost::weak_ptr<TaskManager> taskQueue_;
    uint32_t outOfBandRequest_;  // number of the latest out-of-band request
    const uint32_t readAheadBase_;
    std::atomic<uint32_t> reportedReadAhead_;
    uint32_t resumeThreshold_;  // of the main transport
    uint32_t closeWaitMs_;
    BytePosition requestedEnd_;
    BytePosition currentPosition_;
    BytePosition totalEnd_;
    uint32_t stallCount_;
    bool warningShown_;
    std::string url_;
    bool downloadLimited_;
    // Written by the download thread, read and cleared on the task thread.
    std::atomic<bool> transportIdle_;
    // Counted up by the download thread as it posts data, down as the tasks hand it over.
    const boost::shared_ptr<std::atomic<uint64_t>> queuedData_ =
        boost::make_shared<std::atomic<uint64_t>>(0);
    bool endOfDataSent_;
    bool restartNeeded_;
    // The server refused the current request in a way that asking again cannot mend, or the
    // resumes of a failure are used up; the stall check leaves this download alone.
    bool refused_;
    // Bytes of this resource have arrived since it was named: a dropped connection from now on
    // is a failure that may pass.
    bool delivered_;
    uint32_t failedAttempts_;
    uint32_t retryPauseMs_;
    SV::PilTime retryAt_;  // a held failure is not resumed before this time
    bool errorHeld_;
    SVStatus heldStatus_;
    std::string heldText_;
    // The last bytes added, up to the current position; the resumed transfer still owes
    // seamLeft_ of them before its new bytes.
    std::vector<unsigned char> tail_;
    uint32_t seamLeft_;
};

// The first pause before a failed transfer is resumed, for every HTTP client made from now on:
// HTTPClient::kRetryPauseMs unless the environment variable SV_HTTP_RETRY_PAUSE_MS (read once)
// or a call says otherwise. Tests of whole programs shorten it. Process-wide; any thread.
uint32_t GetHTTPRetryPauseMs();
void SetHTTPRetryPauseMs(uint32_t ms);

// Makes an HTTP client for the session; raw, when given, receives the plain pointer. The
// caller names it with Component::SetName(URL, true) to start the download.
boost::shared_ptr<Component> CreateHTTPClient(Session* session, HTTPClient** raw);

}  // namespace SarvelonMediaKit

#endif
