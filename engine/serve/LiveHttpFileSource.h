#ifndef ENGINE_SERVE_LIVEHTTPFILESOURCE_H
#define ENGINE_SERVE_LIVEHTTPFILESOURCE_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <string>

namespace SarvelonMediaKit {

class Component;
class LiveHttpFile;
class LiveHttpServer;

// Where the live server gets its files by name (the HLS segmenter, or a folder in the tests),
// and the listener of the files it makes.
class LiveHttpFileSource {
public:
    LiveHttpFileSource();
    virtual ~LiveHttpFileSource();

    // Answers the request for name, now or later, through requester->GiveAnswer (or its
    // FileReady, FileNotFound): the file, "not found" when it will never have it, or
    // "unavailable" when it cannot make it. Called on the requester's session thread. A source
    // that answers later keeps requesterHandle only weakly and calls the requester only while
    // the handle still locks.
    virtual void GetFile(const std::string& name, LiveHttpServer* requester,
                         boost::shared_ptr<Component> requesterHandle) = 0;
    // A file this source made rose to a new state; on the thread that raised it. Nothing by
    // default.
    virtual void FileStateChanged(LiveHttpFile* file);

protected:
    // The one server waiting for a file that does not exist yet, for sources that answer later.
    LiveHttpServer* waitingRequester_;
    boost::weak_ptr<Component> waitingRequesterHandle_;
};

}  // namespace SarvelonMediaKit

#endif
