#include "engine/input/FileClient.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/DefaultBandwidth.h"

namespace SarvelonMediaKit {

namespace {

const char kFileScheme[] = "file://";
const size_t kFileSchemeLength = sizeof(kFileScheme) - 1;
// Out-of-band ranges go out in pieces of this size, with room for a header and a trailer.
const uint64_t kOutOfBandPiece = 0x10000;
const uint32_t kReadChunkRoom = 0x40;
// A read takes up to this many bytes at once, handed on over the pulls that follow: a few
// pulls' worth, so that one system call serves several while the bytes are still in the
// core's cache when the multiplexer copies them out.
const uint32_t kReadBlockBytes = 1u << 18;

}  // namespace

FileClient::FileClient(Session* session)
    : ExternalClient(session),
      mediaSize_(0),
      rangeEnd_(0),
      truncationTold_(false),
      endSent_(false) {}

FileClient::~FileClient() { file_.Close(); }

void FileClient::DropBlock() {
    if (block_.IsEmpty()) return;
    const uint64_t position = GetReadPosition().Get();  // the first byte not handed on
    block_ = MemoryChunk();
    file_.Seek(int64_t(position), 0);
}

void FileClient::DoSetName(const std::string& name, bool) {
    // Only a scheme at the very start makes a URL; the rest of the name is the path as given.
    path_ = name.compare(0, kFileSchemeLength, kFileScheme) == 0 ? name.substr(kFileSchemeLength)
                                                                 : name;
    rangeEnd_ = 0;  // a file opened again is read from its start to its end
    truncationTold_ = false;
    endSent_ = false;
    block_ = MemoryChunk();
    // A title is a regular file: a FIFO, a device or a folder named in its place is refused
    // without waiting on it, as a missing file is.
    if (!file_.Open(path_, SV::File::kReadOnly | SV::File::kBinary | SV::File::kRegularOnly)) {
        mediaSize_ = 0;  // a file open before has been closed by the attempt
        PublishError(SVStatusFileInput, name);
        return;
    }
    const int64_t size = file_.GetSize();
    mediaSize_ = size > 0 ? uint64_t(size) : 0;
    SetDefaultBandwidth(ByteAmount(0xFFFFFFFFu));
}

std::string FileClient::DoGetName() { return path_; }

void FileClient::PrePullData(ByteAmount& amount) {
    boost::shared_ptr<Component> consumer = GetConsumer();
    if (!consumer) {
        return;
    }
    if (file_.IsOpen()) {
        // Never a buffer larger than what is left and never larger than one pull's maximum.
        // At the end of the file one byte is still asked for, so the read sets the end-of-file
        // indicator; a bound within the file is never read past, not even by that byte.
        const uint64_t position = GetReadPosition();
        const uint64_t end = GetRangeEnd();
        const uint64_t left = end > position ? end - position : 0;
        const uint64_t least = end < mediaSize_ ? 0 : 1;
        const uint32_t size = uint32_t(std::min<uint64_t>(
            {uint64_t(amount.Get()), std::max<uint64_t>(left, least), uint64_t(kMaxPullBytes)}));
        if (size != 0 && GetLinkedHeadroom() == 0 && GetLinkedTailroom() == 0) {
            PullFromBlock(*consumer, size, std::max<uint64_t>(left, least));
        } else if (size != 0) {
            // Bytes wanted with room around them are read straight into their chunk, from the
            // first byte not yet handed on: the rest of a block read is dropped (read again).
            DropBlock();
            // Not cleared: the read overwrites the payload and the chunk is cut to what it
            // read (or dropped on an error), so no unwritten byte goes on.
            MemoryChunk chunk = MemoryChunk::Unset(size, GetLinkedHeadroom(), GetLinkedTailroom());
            const uint64_t read = file_.Read(chunk.Data(0), size);
            if (file_.IsError() || read > size) {
                PublishError(SVStatusFileInput, "Could not read bytes");
            } else {
                if (read < size) {
                    chunk.SetSize(uint32_t(read));
                }
                consumer->Add(chunk);
            }
        }
    }
    // The end also counts once the read position has reached the end of the range (the size
    // taken at opening without a bound): a pull that takes exactly the bytes left does not
    // raise the end-of-file indicator, and a chain that stops pulling when nothing is left
    // would otherwise never see the end. Bytes of a block read and not yet handed on come first.
    if (file_.IsOpen() && block_.IsEmpty() &&
        (GetReadPosition() >= GetRangeEnd() || file_.IsEof())) {
        // The file ended before the size it had when it was opened: it was cut short while
        // it was read. What the index promised past here will not come, and a playback that
        // went on would hand out the rest as empty: said once, before the end is passed on.
        if (GetReadPosition() < GetRangeEnd() && !truncationTold_) {
            truncationTold_ = true;
            PublishError(SVStatusMediaTruncated, "Media was truncated");
        }
        endSent_ = true;
        DoSend(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    }
}

void FileClient::PullFromBlock(Component& consumer, uint32_t size, uint64_t readable) {
    if (block_.IsEmpty()) {
        // One read for many pulls. The block's bytes go on as slices of it, so they are not
        // copied again, and a payload the consumer cuts from them may stay a slice too.
        // A pull larger than a block reads what it asks for (its size is bounded already).
        const uint32_t n =
            uint32_t(std::min<uint64_t>(readable, std::max<uint32_t>(size, kReadBlockBytes)));
        block_ = MemoryChunk::Unset(n, 0, 0);  // cut to what the read gives, as below
        const uint64_t read = file_.Read(block_.Data(0), n);
        if (file_.IsError() || read > n) {
            block_ = MemoryChunk();
            PublishError(SVStatusFileInput, "Could not read bytes");
            return;
        }
        if (read < n) {
            block_.SetSize(uint32_t(read));
        }
        if (block_.IsEmpty()) {
            block_ = MemoryChunk();
            return;
        }
    }
    const uint32_t n = std::min(size, block_.Size());
    MemoryChunk chunk = block_.Slice(0, n);
    block_.Advance(n);
    if (block_.IsEmpty()) {
        block_ = MemoryChunk();  // the slices keep the bytes
    }
    consumer.Add(chunk);
}

void FileClient::DoPullData(ByteAmount& amount) { Component::DoPullData(amount); }

ByteAmount FileClient::DoGetBufferedBytes() {
    const uint64_t position = GetReadPosition();
    const uint64_t end = GetRangeEnd();
    // Nothing is left once the end has gone out (early, for a file cut short). A range with
    // nothing in it (an empty file) has no pull that takes its last byte and brings the end
    // with it: one more pull is asked for until the end has gone out, or a chain that pulls
    // only what is left would wait for it for ever.
    if (endSent_) return ByteAmount(0);
    if (position == end && file_.IsOpen()) return ByteAmount(1);
    if (position > end || end - position > 0xFFFFFFFFu) {
        return ByteAmount(0xFFFFFFFFu);
    }
    return ByteAmount(uint32_t(end - position));
}

std::string FileClient::GetTypeName() const { return "SarvelonMediaKit::FileClient"; }

void FileClient::DoSeek(BytePosition start, BytePosition end, bool) {
    if (start.Get() > uint64_t(INT64_MAX) || !file_.Seek(int64_t(start.Get()), 0)) {
        PublishError(SVStatusFileInput, "Bad Seek Range");
        return;
    }
    block_ = MemoryChunk();  // read ahead from the old position
    // Kept as asked: a bound past the file's end reads to the end, as one of 0 does.
    rangeEnd_ = end;
    endSent_ = false;  // the new range ends with an end of its own
}

bool FileClient::DoOutOfBandRequest(BytePosition start, BytePosition end) {
    const int64_t resume = file_.Tell();
    if (start.Get() <= uint64_t(INT64_MAX) && file_.Seek(int64_t(start.Get()), 0)) {
        uint64_t remaining = end > start ? end - start : 0;
        while (remaining > 0) {
            const uint32_t n = uint32_t(std::min(remaining, kOutOfBandPiece));
            // Zeroed: its room goes to whoever adds a header or trailer, who may not write
            // all of it; out-of-band ranges are small and rare.
            MemoryChunk chunk(n, kReadChunkRoom, kReadChunkRoom);
            if (file_.Read(chunk.Data(0), n) != n) {
                break;  // a short read ends the request after what was delivered
            }
            OutOfBandData(chunk);
            remaining -= n;
        }
    }
    if (resume >= 0) {
        file_.Seek(resume, 0);
    }
    return true;
}

bool FileClient::KnowCurrentLoadedFilePosition() { return true; }

bool FileClient::KnowEndPosition() { return true; }

BytePosition FileClient::DoCurrentLoadedFilePosition() { return GetRangeEnd(); }

BytePosition FileClient::DoEndPosition() { return mediaSize_; }

BytePosition FileClient::CurrentPosition() { return GetReadPosition(); }

BytePosition FileClient::GetReadPosition() {
    // The file's offset lies past the bytes read ahead and not yet handed on.
    const int64_t position = file_.Tell();
    const uint64_t ahead = block_.Size();
    return position > 0 && uint64_t(position) >= ahead ? BytePosition(uint64_t(position) - ahead)
                                                       : BytePosition(0);
}

BytePosition FileClient::GetRangeEnd() const {
    return rangeEnd_ != 0 && rangeEnd_ < mediaSize_ ? rangeEnd_ : mediaSize_;
}

boost::shared_ptr<Component> CreateFileClient(Session* session, FileClient** raw) {
    boost::shared_ptr<FileClient> client = boost::make_shared<FileClient>(session);
    if (raw) {
        *raw = client.get();
    }
    return client;
}

}  // namespace SarvelonMediaKit
