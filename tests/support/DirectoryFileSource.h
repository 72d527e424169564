#ifndef TESTS_SUPPORT_DIRECTORYFILESOURCE_H
#define TESTS_SUPPORT_DIRECTORYFILESOURCE_H

#include <boost/shared_ptr.hpp>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/serve/LiveHttpFile.h"
#include "engine/serve/LiveHttpFileSource.h"

namespace SvTestSupport {

// Serves the regular files of one folder by their base name, complete, in chunks of
// kChunkBytes (so reads cross chunk borders); a name that is not a plain file of the folder is
// not found at once. One file object per name is shared by every connection that asks for it,
// and it is handed out only once it is complete: a connection that asks while another loads
// the name waits for that load.
// A name can also stand for a file being written: StartGrowing makes it, Grow appends to it
// and Complete ends it, as a segmenter does with its newest segment.
class DirectoryFileSource : public SarvelonMediaKit::LiveHttpFileSource {
public:
    static const size_t kChunkBytes = 4000;
    // Larger files are not served.
    static const size_t kMaxFileBytes = 64 << 20;

    explicit DirectoryFileSource(const std::string& directory);
    ~DirectoryFileSource() override;

    void GetFile(const std::string& name, SarvelonMediaKit::LiveHttpServer* requester,
                 boost::shared_ptr<SarvelonMediaKit::Component> requesterHandle) override;
    void FileStateChanged(SarvelonMediaKit::LiveHttpFile* file) override;

    // A file of the name being written (state 1), empty so far; it takes the place of a file
    // of that name in the folder.
    boost::shared_ptr<SarvelonMediaKit::LiveHttpFile> StartGrowing(const std::string& name,
                                                                   uint32_t segmentNumber);
    void Grow(const std::string& name, const std::string& bytes);
    void Complete(const std::string& name);

    // Every state rise reported, as (name, state), in order.
    std::vector<std::pair<std::string, int>> StateChanges();
    // The state of the named file, -1 when it has not been asked for.
    int StateOf(const std::string& name);

private:
    boost::shared_ptr<SarvelonMediaKit::LiveHttpFile> Load(const std::string& name);
    // Reads the named file of the folder into a new file object; null when it is not there.
    boost::shared_ptr<SarvelonMediaKit::LiveHttpFile> Read(const std::string& name);

    const std::string directory_;
    std::mutex mutex_;
    std::map<std::string, boost::shared_ptr<SarvelonMediaKit::LiveHttpFile>> files_;
    std::map<const SarvelonMediaKit::LiveHttpFile*, std::string> names_;
    std::set<std::string> loading_;  // names being read; files_ gets them once complete
    std::condition_variable loaded_;
    std::vector<std::pair<std::string, int>> changes_;
};

}  // namespace SvTestSupport

#endif
