#ifndef ENGINE_SERVE_LIVEHTTPSERVER_H
#define ENGINE_SERVE_LIVEHTTPSERVER_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <string>
#include <vector>

#include "engine/core/TaskManager.h"
#include "engine/serve/HTTPServer.h"
#include "engine/serve/LiveHttpFile.h"

namespace SarvelonMediaKit {

class LiveHttpFileSource;

// The server the system player talks to: the only component of a serving session, one per
// connection. Each GET or HEAD names a file, which it asks of its file source and serves once
// the source hands it over (FileReady), also while the file is still being written.
//
// A complete file is served with its length (whole, or the one range asked for). A file still
// being written is served without length and the connection is closed after its last byte; a
// "bytes=0-" range on it is the same answer, and any other range waits until the file is
// complete. Each server reads with a cursor of its own, so any number of connections may read
// one file. A file the server starts to send counts as served once the server lets go of it,
// at its end or not (a new request, the peer gone), so a source that waits for its files to be
// served is never left waiting.
//
// The server stops its session when its connection closes (through the socket master's
// closed-socket handler).
class LiveHttpServer : public HTTPServer {
public:
    explicit LiveHttpServer(Session* session);
    ~LiveHttpServer() override;

    void SetFileSource(LiveHttpFileSource* fileSource);

    // What a file source answers to the request: the file, "not found" (404), or "unavailable"
    // (it cannot be given now, the request waited too long for it, say: 503, and the
    // connection is closed). AnswerNone: no answer yet.
    enum Answer { AnswerNone, AnswerReady, AnswerNotFound, AnswerUnavailable };
    // The source's answer (any thread; file only with AnswerReady): taken up on the server's
    // session thread.
    void GiveAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file);
    // The same, as a source that only ever has a file or never will says it.
    void FileReady(const boost::shared_ptr<LiveHttpFile>& file);
    void FileNotFound();
    // Takes the answer up, on the session thread; only a request still waiting takes one.
    void TakeAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file);

    // Component.
    std::string GetTypeName() const override;
    void PrePullData(ByteAmount& amount) override;
    void DoPullData(ByteAmount& amount) override;
    // A request waiting for its file is answered with a post: the pump need not look again
    // until then.
    void DoTick() override;
    using HTTPServerInternal::DoSeek;
    void DoSeek(BytePosition start, BytePosition end, bool flag) override;
    bool KnowEndPosition() override;
    BytePosition DoEndPosition() override;

    // HTTPServerInternal.
    void ProcessRequest() override;
    void Close() override;

protected:
    void DoResponseStarted(int status) override;
    void DoResponseFinished() override;

private:
    // Keeps an answer the source gives inside this server's own GetFile call (true), to be
    // taken up when that call returns; false on any other call.
    bool KeepAnswer(Answer answer, const boost::shared_ptr<LiveHttpFile>& file);
    // Starts the answer with the current file as it stands.
    void ServeCurrentFile();
    // Lets the current file go; one whose sending had begun counts as served.
    void DropCurrentFile();

    LiveHttpFileSource* fileSource_;
    boost::shared_ptr<LiveHttpFile> currentFile_;
    LiveHttpFile::Cursor cursor_;
    bool sending_;             // the body of currentFile_ has begun to go out
    bool waitingForComplete_;  // a range on a growing file: answered once it is complete
    // An answer given inside GetFile (see ProcessRequest); session thread only.
    Answer answer_;
    boost::shared_ptr<LiveHttpFile> answerFile_;
    // FileReady posts here; the session may be gone by the time a source answers.
    boost::weak_ptr<TaskManager> taskManager_;
};

}  // namespace SarvelonMediaKit

#endif
