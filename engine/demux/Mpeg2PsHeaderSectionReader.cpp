#include "engine/demux/Mpeg2PsHeaderSectionReader.h"

#include <boost/bind/bind.hpp>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

Mpeg2PsHeaderSectionReader::Mpeg2PsHeaderSectionReader(Mpeg2PsParserListener& listener)
    : listener_(listener),
      indexMagicSeen_(false),
      indexComplete_(false),
      longestDuration_(0),
      metadataDropRest_(false) {}

Mpeg2PsHeaderSectionReader::~Mpeg2PsHeaderSectionReader() {}

void Mpeg2PsHeaderSectionReader::SetHashEnabled(bool enabled) {
    if (!enabled) {
        hash_.reset();
        return;
    }
    if (!hash_) {
        hash_.reset(new SV::Sha256Context);
        if (SV::Sha256Init(hash_.get()) != 1) {
            hash_.reset();
        }
    }
}

Mpeg2PsHeaderSectionReader::Pack0Map& Mpeg2PsHeaderSectionReader::CreatePack0Map() {
    if (!pack0Map_) {
        pack0Map_.reset(new Pack0Map);
    }
    return *pack0Map_;
}

void Mpeg2PsHeaderSectionReader::HeaderPacketStarts(bool isMetadata, uint32_t start) {
    if (pack0Map_) {
        Pack0Map::MetaDataInfo item;
        item.start = start;
        item.isMetadata = isMetadata;
        pack0Map_->metadataItems.push_back(item);
    }
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::MediaPacketStarts(uint32_t start) {
    if (indexComplete_) {
        return Mpeg2PsResult::Ok;
    }
    if (pack0Map_) {
        pack0Map_->firstMediaPes = start;
    }
    return Complete();
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::Complete() {
    if (hash_) {
        digest_.assign(SV::kSha256DigestLength, 0);
        const int ok = SV::Sha256Final(digest_.data(), hash_.get());
        hash_.reset();
        if (ok != 1) {
            digest_.clear();
            return Mpeg2PsResult::DigestFailed;
        }
    }
    indexComplete_ = true;
    return listener_.MetadataComplete();
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::AddIndexBytes(const uint8_t* bytes, uint32_t n) {
    if (indexComplete_) {
        return Mpeg2PsResult::Ok;  // after the header section the payload is dropped
    }
    if (indexBuffer_.size() + n > kCollectorLimit) {
        indexBuffer_.clear();
        return Mpeg2PsResult::SeekTableNotStored;
    }
    indexBuffer_.insert(indexBuffer_.end(), bytes, bytes + n);
    if (!indexMagicSeen_ && indexBuffer_.size() >= 4 &&
        SV::ReadBigEndian32(indexBuffer_.data()) == Mpeg2PsFormat::kIndexMagic) {
        indexMagicSeen_ = true;
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::IndexPacketDone(
    const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap, uint32_t end) {
    if (indexBuffer_.empty()) {
        return Mpeg2PsResult::Ok;
    }
    if (indexComplete_) {
        indexBuffer_.clear();
        return Mpeg2PsResult::Ok;
    }
    boost::shared_ptr<MediaTrack> track;
    Mpeg2PsResult result = Mpeg2PsIndexEntryReader::ParseIndexEntry(indexBuffer_, hash_.get(),
                                                                    esMap, longestDuration_, track);
    if (result == Mpeg2PsResult::Ok) {
        result = listener_.OnNewTrack(track);
    }
    if (result == Mpeg2PsResult::EntryIncomplete) {
        result = Mpeg2PsResult::Ok;  // the entry continues in the next private stream 2 packet
    }
    return result != Mpeg2PsResult::Ok ? result : EndItem(end);
}

void Mpeg2PsHeaderSectionReader::StartMetadataPacket(bool aligned) {
    if (aligned) {
        metadataCollector_.clear();
    }
    metadataDropRest_ = false;
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::AddMetadataBytes(const uint8_t* bytes, uint32_t n) {
    if (metadataDropRest_) {
        return Mpeg2PsResult::Ok;
    }
    metadataCollector_.insert(metadataCollector_.end(), bytes, bytes + n);
    if (metadataCollector_.size() < 4) {
        return Mpeg2PsResult::Ok;
    }
    const uint32_t length = SV::ReadBigEndian32(metadataCollector_.data());
    if (length > kCollectorLimit) {
        // A block this large is refused rather than gathered.
        metadataCollector_.clear();
        metadataDropRest_ = true;
        return Mpeg2PsResult::BadTags;
    }
    if (length > metadataCollector_.size()) {
        return Mpeg2PsResult::Ok;  // more in the next 0xF1 packets
    }
    Mpeg2PsMetadata block(1);
    size_t consumed = 0;
    const bool ok = block.Read(metadataCollector_.data(), length, consumed);
    // The bytes after the block go with it: those collected and the rest of this packet,
    // however the packet was cut into chunks.
    metadataCollector_.clear();
    metadataDropRest_ = true;
    if (!ok) {
        return Mpeg2PsResult::BadTags;
    }
    // The reader's result is not acted on: a chapter table that fails leaves the chapters
    // read before it in place and parsing goes on.
    ReadMetadataBlock(block);
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::MetadataPacketDone(uint32_t end) { return EndItem(end); }

Mpeg2PsResult Mpeg2PsHeaderSectionReader::ReadMetadataBlock(const Mpeg2PsMetadata& block) {
    // The blocks of a table go back to the block reader itself (no nested-block handler).
    return metadataReader_.ParseMetadataBlock(
        block, chapters_,
        boost::bind(&Mpeg2PsParserListener::OnThumbnail, &listener_, boost::placeholders::_1,
                    boost::placeholders::_2),
        Mpeg2PsMetadataBlockReader::BlockHandler());
}

Mpeg2PsResult Mpeg2PsHeaderSectionReader::EndItem(uint32_t end) {
    if (!pack0Map_) {
        return Mpeg2PsResult::Ok;
    }
    if (pack0Map_->metadataItems.empty()) {
        return Mpeg2PsResult::NoMetadataItem;
    }
    pack0Map_->metadataItems.back().end = end;
    return Mpeg2PsResult::Ok;
}

}  // namespace SarvelonMediaKit
