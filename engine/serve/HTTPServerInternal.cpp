#include "engine/serve/HTTPServerInternal.h"

#include <limits.h>

#include "SVLibrary/Http/ByteRange.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/StringFormat.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/serve/HTTPRequestReader.h"

namespace SarvelonMediaKit {

const size_t HTTPServerInternal::kMaxHeadBytes;
const size_t HTTPServerInternal::kMaxQueuedBytes;

namespace {

// The download client's data tasks: a new range makes the queued ones stale.
const uint32_t kDownloadTaskCategory = 1;
// Body pieces held back at most before they are sent anyway: the system's limit of pieces per
// send, so that a pass's pull of many small chunks (a segment's packets) goes out in as few
// sends as it can.
const size_t kMaxHeldPieces = IOV_MAX;
// The room for held pieces kept from one send to the next.
const size_t kKeptPieceRoom = 64;

}  // namespace

HTTPServerInternal::HTTPServerInternal(Session* session)
    : Component(session),
      state_(ResponseIdle),
      processing_(false),
      serial_(0),
      bodyToSkip_(0),
      method_(HTTPRequestReader::MethodOther),
      hasRange_(false),
      keepAlive_(false),
      noContentLength_(false),
      rangeStart_(0),
      rangeEnd_(0),
      sentPosition_(0),
      pulling_(false),
      pullSerial_(0),
      pullPosition_(0) {}

HTTPServerInternal::~HTTPServerInternal() {}

std::string HTTPServerInternal::GetTypeName() const { return "SarvelonMediaKit::HTTPServer"; }

ByteAmount HTTPServerInternal::DoGetBytesWanted() { return ByteAmount(0xFFFFFFFFu); }

void HTTPServerInternal::SetNoContentLength(bool noContentLength) {
    noContentLength_ = noContentLength;
    if (noContentLength) keepAlive_ = false;
}

void HTTPServerInternal::HandleRequestData(MemoryChunk chunk) {
    if (state_ == ResponseClosed || chunk.IsEmpty()) return;
    input_.append(reinterpret_cast<const char*>(chunk.Data()), chunk.Size());
    ProcessInput();
}

void HTTPServerInternal::ProcessInput() {
    if (processing_) return;
    processing_ = true;
    while (state_ == ResponseIdle) {
        if (bodyToSkip_ > 0) {
            const size_t skip =
                bodyToSkip_ < input_.size() ? static_cast<size_t>(bodyToSkip_) : input_.size();
            input_.erase(0, skip);
            bodyToSkip_ -= skip;
            if (bodyToSkip_ > 0) break;
        }
        // Line ends between requests are tolerated.
        size_t blank = 0;
        while (blank < input_.size() && (input_[blank] == '\r' || input_[blank] == '\n')) ++blank;
        input_.erase(0, blank);
        if (input_.empty()) break;

        const size_t window = input_.size() < kMaxHeadBytes ? input_.size() : kMaxHeadBytes;
        const size_t end = HTTPRequestReader::FindHeadEnd(input_.data(), window);
        if (end == 0) {
            if (input_.size() >= kMaxHeadBytes) {
                ++serial_;
                input_.clear();
                SetState(ResponseWaiting);
                SendEmptyResponse("HTTP/1.1 431 Request Header Fields Too Large", "", true);
            }
            break;  // the rest of the head is still to come
        }
        HTTPRequestReader reader;
        const bool valid = reader.Parse(input_.data(), end);
        input_.erase(0, end);
        StartRequest(reader, valid);
    }
    processing_ = false;
    if (state_ != ResponseClosed && input_.size() > kMaxQueuedBytes) {
        DebugPrint("HTTPServer: more than %u bytes of requests queued, closing\n",
                   static_cast<unsigned>(kMaxQueuedBytes));
        Close();
    }
}

void HTTPServerInternal::StartRequest(const HTTPRequestReader& reader, bool valid) {
    ++serial_;
    SetState(ResponseWaiting);
    method_ = reader.GetMethod();
    path_ = reader.GetPath();
    hasRange_ = reader.HasHeader("Range");
    range_ = reader.GetHeader("Range");
    noContentLength_ = false;
    rangeStart_ = 0;
    rangeEnd_ = 0;
    sentPosition_ = 0;
    uint64_t bodyLength = 0;
    if (!valid || !reader.GetContentLength(&bodyLength)) {
        SendEmptyResponse("HTTP/1.1 400 Bad Request", "", true);
        return;
    }
    bodyToSkip_ = bodyLength;
    // Only names of the loopback server itself are answered: a web page that had its own name
    // resolve to 127.0.0.1 must not read what is served here. A request without a host (an
    // HTTP/1.0 client) names nothing else and is served.
    const bool loopbackHost = reader.HasAbsoluteTarget()
                                  ? HTTPRequestReader::IsLoopbackHost(reader.GetAuthority())
                                  : !reader.HasHeader("Host") ||
                                        HTTPRequestReader::IsLoopbackHost(reader.GetHeader("Host"));
    if (!loopbackHost) {
        SendEmptyResponse("HTTP/1.1 403 Forbidden", "", true);
        return;
    }
    // A body sent in chunks cannot be skipped without reading it: the connection ends with
    // this answer.
    const bool framed = !reader.HasHeader("Transfer-Encoding");
    keepAlive_ =
        framed && !reader.HeaderHasToken("Connection", "close") &&
        (reader.GetMinorVersion() >= 1 || reader.HeaderHasToken("Connection", "keep-alive"));
    if (method_ == HTTPRequestReader::MethodGet || method_ == HTTPRequestReader::MethodHead) {
        ProcessRequest();
        // An answer that is not there yet (a segment still being cut) comes as a post: it is
        // taken up as soon as it comes rather than after the pass's interval, so the player
        // waits for what it asked and not for the pump's clock as well.
        if (state_ == ResponseWaiting) Pump::NoteWaitingForPost();
        return;
    }
    SendEmptyResponse("HTTP/1.1 405 Method Not Allowed", "Allow: GET, HEAD\r\n", false);
}

void HTTPServerInternal::ProcessRequest() { StartResponse(); }

int HTTPServerInternal::StartResponse() {
    if (state_ != ResponseWaiting) return 0;
    int status = 200;
    std::string head;
    if (noContentLength_) {
        rangeStart_ = 0;
        rangeEnd_ = 0;
        head = "HTTP/1.1 200 OK\r\nCache-Control: no-store\r\n";
    } else {
        const uint64_t total = EndPosition();
        const SV::ByteRange range =
            hasRange_ ? SV::ByteRange::Resolve(range_, total, SV::ByteRange::Syntax::Lenient)
                      : SV::ByteRange();
        if (range.GetKind() == SV::ByteRange::Kind::Unsatisfiable) {
            SendEmptyResponse("HTTP/1.1 416 Range Not Satisfiable",
                              (SV::StringFormat("Content-Range: bytes */%1%\r\n") % total).Str(),
                              false);
            return 416;
        }
        if (range.GetKind() == SV::ByteRange::Kind::Satisfiable) {
            status = 206;
            rangeStart_ = range.First();
            rangeEnd_ = range.Last() + 1;
            head = "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: ";
            head += std::to_string(rangeEnd_ - rangeStart_);
            head += "\r\nContent-Range: bytes ";
            head += std::to_string(rangeStart_);
            head += '-';
            head += std::to_string(range.Last());
            head += '/';
            head += std::to_string(total);
            head += "\r\nCache-Control: no-store\r\n";
        } else {
            rangeStart_ = 0;
            rangeEnd_ = total;
            head = "HTTP/1.1 200 OK\r\nContent-Length: ";
            head += std::to_string(total);
            head += "\r\nAccept-Ranges: bytes\r\nCache-Control: no-store\r\n";
        }
    }
    if (!contentType_.empty()) {
        head += "Content-Type: ";
        head += contentType_;
        head += "\r\n";
    }
    head += ConnectionField();
    head += "\r\n";
    // A head whose body follows waits for the body's first part, to go out with it in one send
    // at the end of this pass (a packet and a wake-up of the player fewer per response), when
    // the pass is sure to send what it holds.
    const bool bodyFollows =
        method_ == HTTPRequestReader::MethodGet && (noContentLength_ || rangeEnd_ > rangeStart_);
    if (bodyFollows && heldHead_.empty() && HoldsHeadUntilPassEnd()) {
        heldHead_.swap(head);
        iovec piece = {&heldHead_[0], heldHead_.size()};
        heldPieces_.push_back(piece);
    } else if (!Send(head)) {
        return 0;
    }
    SetState(ResponseSending);
    sentPosition_ = rangeStart_;
    DoResponseStarted(status);
    if (state_ != ResponseSending) return status;
    if (method_ == HTTPRequestReader::MethodHead) {
        FinishResponse();
        return status;
    }
    SeekFilePosition(BytePosition(rangeStart_), BytePosition(rangeEnd_), true);
    if (state_ == ResponseSending && !noContentLength_ && sentPosition_ >= rangeEnd_) {
        FinishResponse();  // an empty body
    }
    return status;
}

void HTTPServerInternal::DoSeek(BytePosition start, BytePosition end, bool flag) {
    if (session_ != nullptr) {
        session_->SetPosition(start, StackIdAny);
        session_->RemoveTasks(kDownloadTaskCategory, StackIdAny);
    }
    Component::DoSeek(start, end, flag);
}

void HTTPServerInternal::PrePullData(ByteAmount& amount) {
    pulling_ = true;
    pullSerial_ = serial_;
    pullPosition_ = sentPosition_;
    if (state_ != ResponseSending || method_ != HTTPRequestReader::MethodGet) {
        amount = 0;
        return;
    }
    if (noContentLength_) return;
    const uint64_t owed = rangeEnd_ > sentPosition_ ? rangeEnd_ - sentPosition_ : 0;
    if (owed < amount) amount = static_cast<uint32_t>(owed);
}

void HTTPServerInternal::PostPullData(ByteAmount& /*amount*/) {
    pulling_ = false;
    if (!SendHeldBody()) return;
    // The peer took this pass's part of the body and more is owed: the next part need not
    // wait for the pump's interval.
    if (state_ == ResponseSending && serial_ == pullSerial_ && sentPosition_ > pullPosition_ &&
        (noContentLength_ || sentPosition_ < rangeEnd_)) {
        Pump::NoteMoreOutputReady();
    }
}

void HTTPServerInternal::DoTick() { SendHeldBody(); }

bool HTTPServerInternal::HoldsHeadUntilPassEnd() const { return false; }

bool HTTPServerInternal::SendPiecesToPeer(const iovec* pieces, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!SendToPeer(pieces[i].iov_base, pieces[i].iov_len)) return false;
    }
    return true;
}

bool HTTPServerInternal::SendHeldBody() {
    if (heldPieces_.empty()) return true;
    // Taken out first: a failure closes the connection, which must find nothing held.
    std::vector<MemoryChunk> chunks;
    std::vector<iovec> pieces;
    chunks.swap(heldChunks_);
    pieces.swap(heldPieces_);
    const bool sent = SendPiecesToPeer(pieces.data(), pieces.size());
    // The vectors keep their room for the next pass, unless a large pull grew them: a
    // connection that waits for its player holds no more than a small pass's room.
    chunks.clear();
    pieces.clear();
    heldHead_.clear();
    if (pieces.capacity() <= kKeptPieceRoom) {
        heldChunks_.swap(chunks);
        heldPieces_.swap(pieces);
    }
    if (!sent) Close();
    return sent;
}

void HTTPServerInternal::DoAdd(const MemoryChunk& chunk) {
    if (state_ != ResponseSending || method_ != HTTPRequestReader::MethodGet) return;
    uint64_t size = chunk.Size();
    if (!noContentLength_) {
        const uint64_t owed = rangeEnd_ > sentPosition_ ? rangeEnd_ - sentPosition_ : 0;
        if (size > owed) size = owed;  // never past the length announced
    }
    if (size != 0) {
        heldChunks_.push_back(chunk);
        iovec piece = {const_cast<uint8_t*>(chunk.Data()), static_cast<size_t>(size)};
        heldPieces_.push_back(piece);
        sentPosition_ += size;
        // Outside a pump pass nothing would send them later.
        if ((!pulling_ || heldPieces_.size() >= kMaxHeldPieces) && !SendHeldBody()) return;
    }
    if (!noContentLength_ && sentPosition_ >= rangeEnd_) {
        if (!SendHeldBody()) return;
        FinishResponse();
    }
}

void HTTPServerInternal::SendNotFound() {
    if (state_ != ResponseWaiting) return;
    SendEmptyResponse("HTTP/1.1 404 Not Found", "", false);
}

void HTTPServerInternal::SendUnavailable() {
    if (state_ != ResponseWaiting) return;
    SendEmptyResponse("HTTP/1.1 503 Service Unavailable", "", true);
}

void HTTPServerInternal::SendEmptyResponse(const std::string& statusLine, const std::string& fields,
                                           bool close) {
    if (close) keepAlive_ = false;
    if (!Send(statusLine + "\r\n" + fields + "Content-Length: 0\r\n" + ConnectionField() +
              "\r\n")) {
        return;
    }
    SetState(ResponseSending);
    FinishResponse();
}

void HTTPServerInternal::FinishResponse() {
    if (state_ == ResponseClosed) return;
    DoResponseFinished();
    if (state_ == ResponseClosed) return;
    SetState(ResponseIdle);
    if (!keepAlive_) {
        Close();
        return;
    }
    ProcessInput();
    // Everything asked is answered: the player's next request, a post, is taken up as soon as
    // it comes rather than after the pass's interval.
    if (state_ == ResponseIdle) Pump::NoteWaitingForPost();
}

void HTTPServerInternal::Close() {
    if (state_ == ResponseClosed) return;
    // What the peer was already given still goes out before the end.
    if (!heldPieces_.empty()) SendHeldBody();
    if (state_ == ResponseClosed) return;
    SetState(ResponseClosed);
    input_.clear();
    CloseConnection();
}

void HTTPServerInternal::SetState(ResponseState state) {
    const bool wasInProgress = state_ == ResponseWaiting || state_ == ResponseSending;
    state_ = state;
    const bool inProgress = state_ == ResponseWaiting || state_ == ResponseSending;
    if (inProgress != wasInProgress) DoRequestInProgress(inProgress);
}

void HTTPServerInternal::DoRequestInProgress(bool /*inProgress*/) {}

void HTTPServerInternal::DoResponseStarted(int /*status*/) {}

void HTTPServerInternal::DoResponseFinished() {}

std::string HTTPServerInternal::ConnectionField() const {
    return keepAlive_ ? "Connection: Keep-Alive\r\n" : "Connection: close\r\n";
}

bool HTTPServerInternal::Send(const std::string& bytes) {
    if (!SendHeldBody()) return false;
    if (SendToPeer(bytes.data(), bytes.size())) return true;
    Close();
    return false;
}

}  // namespace SarvelonMediaKit
