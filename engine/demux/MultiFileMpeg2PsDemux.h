#ifndef ENGINE_DEMUX_MULTIFILEMPEG2PSDEMUX_H
#define ENGINE_DEMUX_MULTIFILEMPEG2PSDEMUX_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/demux/Mpeg2PsDemux.h"

namespace SarvelonMediaKit {

class Session;

// The demultiplexer at the end of one file's preload chain when a title is spread over several
// files: it reads that file's index and publishes the file's tracks as any Mpeg2PsDemux does.
// Its own additions are the index digest, which the loader compares with the digest the
// manifest gives for the file, and a type of its own for those chains.
class MultiFileMpeg2PsDemux : public Mpeg2PsDemux {
public:
    explicit MultiFileMpeg2PsDemux(Session* session);
    ~MultiFileMpeg2PsDemux() override;

    // Keeps the digest running when a change of consumer makes a new parser.
    void DoLinked(bool firstTime) override;

    // Whether the SHA-256 of the index entries is computed while the index is read. Set before
    // the first bytes arrive.
    void SetHashEnabled(bool enabled);
    bool IsHashEnabled() const { return hashEnabled_; }
    // The 32-byte digest once the index is complete with the digest on; empty otherwise. Read
    // on the task thread, or once the session has stopped.
    std::vector<uint8_t> GetIndexDigest() const;

private:
    bool hashEnabled_;
};

// Makes the demultiplexer for the session; raw, when given, receives the plain pointer.
boost::shared_ptr<MultiFileMpeg2PsDemux> CreateMultiFileMpeg2PsDemux(Session* session,
                                                                     MultiFileMpeg2PsDemux** raw);

}  // namespace SarvelonMediaKit

#endif
