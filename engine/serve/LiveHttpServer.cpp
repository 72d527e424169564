#include "engine/serve/LiveHttpServer.h"

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>

#include <vector>

#include "SVLibrary/Http/ByteRange.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/core/Task.h"
#include "engine/serve/HTTPRequestReader.h"
#include "engine/serve/LiveHttpFileSource.h"

namespace SarvelonMediaKit {

namespace {

const uint32_t kTaskCategory = 8;
const uint32_t kTsPacketBytes = 188;

// Holds the server weakly: an answer that arrives after the server has gone does nothing.
class AnswerTask : public Task {
public:
    AnswerTask(StackId stackId, const boost::weak_ptr<Component>& server,
               LiveHttpServer::Answer answer, const boost::shared_ptr<LiveHttpFile>& file)
        : Task(kTaskCategory, stackId, "LiveHttpServer::TakeAnswer"),
          server_(server),
          answer_(answer),
          file_(file) {}

    bool Execute() override {
        boost::shared_ptr<Component> server = server_.lock();
        if (server) static_cast<LiveHttpServer*>(server.get())->TakeAnswer(answer_, file_);
        return false;
    }

private:
    boost::weak_ptr<Component> server_;
    LiveHttpServer::Answer answer_;
    boost::shared_ptr<LiveHttpFile> file_;
};

void StopSession(Session* session) { session->Stop(false); }

// The server asking its source on this thread, if any: an answer given inside that call is
// taken up as soon as the call returns instead of a pass later.
thread_local LiveHttpServer* tAsking = nullptr;

// Marks the server as asking for the length of one GetFile call.
class AskingMark {
public:
    explicit AskingMark(LiveHttpServer* server) : previous_(tAsking) { tAsking = server; }
    ~AskingMark() { tAsking = previous_; }

private:
    LiveHttpServer* previous_;
};

}  // namespace

LiveHttpServer::LiveHttpServer(Session* session)
    : HTTPServer(session),
      fileSource_(nullptr),
      sending_(false),
      waitingForComplete_(false),
      answer_(AnswerNone) {
    if (session != nullptr) {
        taskManager_ = session->GetTaskManager();
        // The player hung up: this connection's session has nothing more to do.
        session->SetSocketClosedHandler(boost::bind(&StopSession, session));
    }
}

LiveHttpServer::~LiveHttpServer() {
    if (SocketMaster* master = GetSocketMaster()) {
        master->SetSocketClosedHandler(SocketMaster::SocketClosedHandler());
    }
    DropCurrentFile();
}

std::string LiveHttpServer::GetTypeName() const { return "SarvelonMediaKit::LiveHttpServer"; }

void LiveHttpServer::SetFileSource(LiveHttpFileSource* fileSource) { fileSource_ = fileSource; }

void LiveHttpServer::ProcessRequest() {
    DropCurrentFile();
    const std::string& path = GetPath();
    const std::string name = path.empty() ? std::string() : path.substr(1);
    if (fileSource_ == nullptr || name.empty()) {
        SendNotFound();
        return;
    }
    // The source answers through GiveAnswer, now or later. An answer given at once is kept
    // and taken up here, once the source's call has returned (and let go of whatever it
    // held): the head and the first body bytes then go out in this pass.
    answer_ = AnswerNone;
    answerFile_.reset();
    {
        AskingMark asking(this);
        fileSource_->GetFile(name, this, shared_from_this());
    }
    const Answer answer = answer_;
    boost::shared_ptr<LiveHttpFile> file;
    file.swap(answerFile_);
    answer_ = AnswerNone;
    TakeAnswer(answer, file);
}

bool LiveHttpServer::KeepAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file) {
    if (tAsking != this) return false;
    // The first answer counts, as the first task posted would.
    if (answer_ == AnswerNone) {
        answer_ = answer;
        answerFile_ = file;
    }
    return true;
}

void LiveHttpServer::GiveAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file) {
    if (answer == AnswerNone || (answer == AnswerReady) != static_cast<bool>(file)) return;
    if (KeepAnswer(answer, file)) return;
    boost::shared_ptr<TaskManager> taskManager = taskManager_.lock();
    if (!taskManager) return;
    taskManager->AddTask(
        boost::make_shared<AnswerTask>(GetStackId(), weak_from_this(), answer, file));
}

void LiveHttpServer::FileReady(const boost::shared_ptr<LiveHttpFile>& file) {
    GiveAnswer(AnswerReady, file);
}

void LiveHttpServer::FileNotFound() {
    GiveAnswer(AnswerNotFound, boost::shared_ptr<LiveHttpFile>());
}

void LiveHttpServer::TakeAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file) {
    // Only the request waiting for an answer takes one.
    if (answer == AnswerNone || GetResponseState() != ResponseWaiting || currentFile_) return;
    if (answer == AnswerNotFound) {
        SendNotFound();
        return;
    }
    if (answer == AnswerUnavailable) {
        SendUnavailable();
        return;
    }
    currentFile_ = file;
    cursor_ = LiveHttpFile::Cursor();
    sending_ = false;
    waitingForComplete_ = false;
    // A range of a file still being written would be answered with the length of the moment
    // while the body kept growing: it waits for the file's end, except "bytes=0-", which is
    // the whole file and is served as it grows.
    if (GetMethod() == HTTPRequestReader::MethodGet && !file->IsComplete() && HasRange() &&
        !SV::ByteRange::IsWholeFromStart(GetRangeValue(), SV::ByteRange::Syntax::Lenient)) {
        waitingForComplete_ = true;
        return;  // PrePullData looks again each pass
    }
    ServeCurrentFile();
}

void LiveHttpServer::ServeCurrentFile() {
    SetNoContentLength(!currentFile_->IsComplete());
    StartResponse();
}

void LiveHttpServer::DoResponseStarted(int /*status*/) {
    if (!currentFile_ || GetMethod() != HTTPRequestReader::MethodGet) return;
    sending_ = true;
    const int32_t state = currentFile_->GetState();
    if (state == LiveHttpFile::StateComplete) {
        currentFile_->SetState(LiveHttpFile::StateCompleteServed);
    } else if (state == LiveHttpFile::StateWriting) {
        currentFile_->SetState(LiveHttpFile::StateWritingServed);
    }
}

void LiveHttpServer::DoResponseFinished() {
    if (!currentFile_) return;
    // The whole file went out: it is served, and let go. A range that ended before the end
    // keeps the file until the next request or the end of the connection.
    if (!sending_ || GetNoContentLength() || GetSentPosition() >= currentFile_->Size()) {
        DropCurrentFile();
    }
}

void LiveHttpServer::DropCurrentFile() {
    boost::shared_ptr<LiveHttpFile> file;
    file.swap(currentFile_);
    const bool sent = sending_;
    sending_ = false;
    waitingForComplete_ = false;
    cursor_ = LiveHttpFile::Cursor();
    if (file && sent) file->MarkServed();
}

void LiveHttpServer::Close() {
    DropCurrentFile();
    HTTPServer::Close();
}

void LiveHttpServer::PrePullData(ByteAmount& amount) {
    if (waitingForComplete_ && currentFile_ && currentFile_->IsComplete()) {
        waitingForComplete_ = false;
        ServeCurrentFile();
    }
    HTTPServerInternal::PrePullData(amount);
}

void LiveHttpServer::DoPullData(ByteAmount& amount) {
    if (!currentFile_ || amount == 0 || GetResponseState() != ResponseSending) return;
    boost::shared_ptr<LiveHttpFile> file = currentFile_;
    const uint64_t serial = GetResponseSerial();
    // The pass's pieces (up to a segment's worth), let go at its end: a connection that waits
    // for its player keeps no room for them.
    std::vector<MemoryChunk> pieces;
    bool atEnd = false;
    {
        // The pieces are taken under the file's lock and sent outside it, so a slow peer never
        // holds up the writer.
        SV::ScopedLock lock(*file);
        // Read before the end is tested: bytes appended after this look are read next time.
        const bool complete = file->IsComplete();
        uint32_t remaining = amount;
        while (remaining != 0) {
            MemoryChunk piece = file->Read(cursor_, remaining);
            if (piece.IsEmpty()) break;
            remaining -= piece.Size();
            pieces.push_back(piece);
        }
        atEnd = complete && file->IsAtEnd(cursor_);
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        Add(pieces[i]);
        // The response may have ended (its length reached, or the connection gone).
        if (GetResponseSerial() != serial || GetResponseState() != ResponseSending) return;
    }
    // The held body keeps its own references until it is sent.
    pieces.clear();
    // A response without length ends with the file.
    if (atEnd && GetNoContentLength()) FinishResponse();
}

void LiveHttpServer::DoTick() {
    HTTPServer::DoTick();
    // The source's answer comes as a task (GiveAnswer). A range of a growing file is different:
    // nothing tells when the file is complete, so PrePullData keeps looking each pass.
    if (GetResponseState() == ResponseWaiting && !currentFile_ && !waitingForComplete_ &&
        GetSessionDescriptor() >= 0) {
        Pump::NoteIdleUntil(-1);
    }
}

void LiveHttpServer::DoSeek(BytePosition start, BytePosition end, bool flag) {
    if (!currentFile_) return;
    currentFile_->SeekTo(cursor_, start);
    HTTPServerInternal::DoSeek(start, end, flag);
}

bool LiveHttpServer::KnowEndPosition() { return static_cast<bool>(currentFile_); }

BytePosition LiveHttpServer::DoEndPosition() {
    if (!currentFile_) return BytePosition(0);
    const uint64_t size = currentFile_->Size();
    if (currentFile_->GetSegmentNumber() != 0 && size % kTsPacketBytes != 0) {
        DebugPrint("LiveHttpServer: segment %u is %llu bytes, not whole packets\n",
                   currentFile_->GetSegmentNumber(), static_cast<unsigned long long>(size));
    }
    return BytePosition(size);
}

}  // namespace SarvelonMediaKit
