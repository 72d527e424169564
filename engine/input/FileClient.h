#ifndef ENGINE_INPUT_FILECLIENT_H
#define ENGINE_INPUT_FILECLIENT_H

#include <boost/shared_ptr.hpp>

#include <string>

#include "SVLibrary/File/File.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/ExternalClient.h"

namespace SarvelonMediaKit {

// The source at the input end of a chain when the media is a local file. Named with a plain
// path or a "file://" URL; answers positions and sizes from the file itself, hands on what the
// consumer pulls, marks the end of the file with an end-of-stream marker, moves on seek and
// serves out-of-band byte ranges at once. A seek may bound the range it starts: the client then
// stops there as it would at the end of the file, so a chain that asked for one rendition of a
// title holding several never runs on into the next.
//
// Failures (the file cannot be opened, a seek or a read is refused) are published as error
// 1013 through the component's error source; the component keeps running. A file that ends
// before the size it had when it was opened (cut short while it is read) is error 1005,
// "Media was truncated", told once before the end of stream is passed on.
class FileClient : public ExternalClient, public ErrorInfoSource {
public:
    // No pull allocates more than this, however much the consumer asks for: a saturated count
    // (a file over 4 GiB reports 0xFFFFFFFF bytes left) must not become a 4 GiB buffer.
    static constexpr uint32_t kMaxPullBytes = 1u << 20;

    explicit FileClient(Session* session);
    ~FileClient() override;

    using ExternalClient::DoSeek;

    // Opens the file, read-only and binary; a leading "file://" is dropped from the path.
    // Opening a local file lifts the process-wide default bandwidth to 0xFFFFFFFF (no limit),
    // so bitrate adaptation is not held back by a rate measured over a network.
    void DoSetName(const std::string& name, bool flag) override;
    std::string DoGetName() override;
    // Hands on up to amount bytes (bounded by the bytes left before the end of the range and
    // kMaxPullBytes), followed by an end-of-stream marker once the read position has reached
    // the end of the range (the end of the file without a bound). For a consumer that wants no
    // room around its chunks the file is read a block (256 KiB, or the pull's size when
    // larger) at a time and the chunks are slices of it; a pull may then get fewer bytes than
    // asked, the rest of a block. Every read is made on the pulling thread, so the bytes are
    // still in its core's cache when the next stage works on them (a read on another thread
    // would overlap the kernel's copy with that work, but costs more CPU than it hides); the
    // kernel reads the disk ahead of sequential reads by itself.
    void PrePullData(ByteAmount& amount) override;
    // The base body: the data has already gone on in PrePullData.
    void DoPullData(ByteAmount& amount) override;
    // The bytes left before the end of the range; 0xFFFFFFFF when that does not fit in 32 bits.
    // 0 once the end of stream has been handed on; at the end, 1 until then (the one pull an
    // empty range needs).
    ByteAmount DoGetBufferedBytes() override;
    std::string GetTypeName() const override;
    // Moves the next read to start and ends the range at second (exclusive; 0, or a position
    // at or past the end of the file, reads to the end of the file). flag is not used. A seek
    // the file refuses changes neither the position nor the end.
    void DoSeek(BytePosition start, BytePosition second, bool flag) override;
    // Delivers [start, end) through OutOfBandData in chunks of at most 64 KiB before it
    // returns, and leaves the read position where it was. Always true.
    bool DoOutOfBandRequest(BytePosition start, BytePosition end) override;
    bool KnowCurrentLoadedFilePosition() override;
    bool KnowEndPosition() override;
    // The whole range counts as loaded: its end (the file's size without a bound).
    BytePosition DoCurrentLoadedFilePosition() override;
    BytePosition DoEndPosition() override;
    BytePosition CurrentPosition() override;

    // Where the next byte handed on lies in the file (the rest of the block not counted); 0
    // without an open file.
    virtual BytePosition GetReadPosition();
    // Where reading stops: the bound of the last seek when it lies within the file, otherwise
    // the file's size.
    BytePosition GetRangeEnd() const;

private:
    // Hands on the next size bytes (fewer at the end of a block) from the block read,
    // reading a new block of up to readable bytes when it is used up.
    void PullFromBlock(Component& consumer, uint32_t size, uint64_t readable);
    // Drops the bytes of the block read and not handed on; the file stands at the first of
    // them.
    void DropBlock();

    std::string path_;
    SV::File file_;
    BytePosition mediaSize_;
    BytePosition rangeEnd_;  // 0: no bound, the file's end
    MemoryChunk block_;      // read, not yet handed on
    // The file has been found shorter than when it was opened (told once per opening).
    bool truncationTold_;
    // The end of the range has been handed on (since the last opening or seek).
    bool endSent_;
};

// Makes a file client for the session; raw, when given, receives the plain pointer. The caller
// names it with Component::SetName.
boost::shared_ptr<Component> CreateFileClient(Session* session, FileClient** raw);

}  // namespace SarvelonMediaKit

#endif
