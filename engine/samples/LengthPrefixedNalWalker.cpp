#include "engine/samples/LengthPrefixedNalWalker.h"

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/H264.h"

namespace SarvelonMediaKit {

LengthPrefixedNalWalker::LengthPrefixedNalWalker(MemoryChunkList& payload, uint32_t minimumUnitSize)
    : cursor_(payload),
      remaining_(payload.Size()),
      minimumUnitSize_(minimumUnitSize),
      length_(0),
      inUnit_(false),
      over_(false),
      last_(ResultEnd) {}

LengthPrefixedNalWalker::Result LengthPrefixedNalWalker::Next(const uint8_t* replacement) {
    if (over_) {
        return last_;
    }
    if (inUnit_) {
        cursor_.Advance(length_);
        remaining_ -= length_;
        inUnit_ = false;
    }
    if (remaining_ < uint64_t{kLengthFieldSize} + minimumUnitSize_) {
        over_ = true;
        last_ = ResultEnd;
        return last_;
    }
    MemoryChunkList::Cursor field = cursor_;
    uint8_t bytes[kLengthFieldSize];
    cursor_.Read(bytes, kLengthFieldSize);
    if (replacement) {
        field.Write(replacement, kLengthFieldSize);
    }
    remaining_ -= kLengthFieldSize;
    length_ = SV::ReadBigEndian32(bytes);
    if (length_ > remaining_) {
        over_ = true;
        last_ = ResultLengthPastPayload;
        return last_;
    }
    inUnit_ = true;
    last_ = ResultUnit;
    return last_;
}

uint8_t LengthPrefixedNalWalker::UnitType() const { return H264NalUnitType(*cursor_); }

void LengthPrefixedNalWalker::EraseUnit() {
    if (!inUnit_) {
        return;
    }
    // The cursor then stands on the next length field.
    cursor_.StepBack(kLengthFieldSize);
    cursor_.Erase(kLengthFieldSize + static_cast<uint64_t>(length_));
    remaining_ -= length_;
    inUnit_ = false;
}

}  // namespace SarvelonMediaKit
