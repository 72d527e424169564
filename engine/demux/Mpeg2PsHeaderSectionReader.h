#ifndef ENGINE_DEMUX_MPEG2PSHEADERSECTIONREADER_H
#define ENGINE_DEMUX_MPEG2PSHEADERSECTIONREADER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "SVLibrary/Util/Sha256.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/core/MemoryChunk.h"
#include "engine/demux/Mpeg2PsParserListener.h"

namespace SarvelonMediaKit {

// The header section of a title as the program-stream parser meets it, up to the first media
// packet: the index entries gathered from the private stream 2 payloads and read into tracks
// (with the index digest over them), the metadata blocks gathered from the stream 0xF1
// payloads and read into chapters and thumbnails, and, on request, the pack-0 map of where
// these packets lie. The parser hands it the payload bytes and tells it where packets start
// and end; tracks and thumbnails go to the parser's listener. Owned by its parser, on the
// parser's thread.
class Mpeg2PsHeaderSectionReader {
public:
    // Largest metadata block or index entry gathered from the header packets. A length field
    // asking for more is refused instead of buffering without bound.
    static constexpr uint32_t kCollectorLimit = 16u << 20;

    typedef Mpeg2PsMetadataBlockReader::Chapter Chapter;

    // Where the header records lie in the bytes of the first pack(s), for an owner that keeps
    // them. A position counts from the first byte kept in bytes.
    struct Pack0Map {
        struct MetaDataInfo {
            uint32_t start = 0;       // position of the packet's 00 00 01
            uint32_t end = 0;         // position just past its payload
            bool isMetadata = false;  // stream 0xF1 (true) or private stream 2 (false)
        };
        MemoryChunk bytes;  // every chunk parsed while the map exists, up to the index's end
        uint32_t packStart = 0;
        std::vector<MetaDataInfo> metadataItems;
        uint32_t firstMediaPes = 0;
    };

    explicit Mpeg2PsHeaderSectionReader(Mpeg2PsParserListener& listener);
    ~Mpeg2PsHeaderSectionReader();
    Mpeg2PsHeaderSectionReader(const Mpeg2PsHeaderSectionReader&) = delete;
    Mpeg2PsHeaderSectionReader& operator=(const Mpeg2PsHeaderSectionReader&) = delete;

    // The index digest: true starts a SHA-256 over the index entries (unless one runs), false
    // drops it. GetIndexDigest is 32 bytes once the index is complete with a digest running.
    void SetHashEnabled(bool enabled);
    const std::vector<uint8_t>& GetIndexDigest() const { return digest_; }

    bool IsIndexComplete() const { return indexComplete_; }
    bool IsIndexMagicSeen() const { return indexMagicSeen_; }
    uint32_t GetLongestDuration() const { return longestDuration_; }
    const std::vector<Chapter>& GetChapters() const { return chapters_; }

    // Keeps the first pack(s) from now on; the map lives as long as the reader.
    Pack0Map& CreatePack0Map();
    Pack0Map* GetPack0Map() const { return pack0Map_.get(); }

    // A private stream 2 or 0xF1 packet starts at position start.
    void HeaderPacketStarts(bool isMetadata, uint32_t start);
    // A media packet starts at position start: the first one completes the index (Complete).
    Mpeg2PsResult MediaPacketStarts(uint32_t start);
    // Finishes the digest, marks the index complete and tells the listener (MetadataComplete).
    Mpeg2PsResult Complete();

    // Private stream 2 payload: gathered while the index is not complete.
    Mpeg2PsResult AddIndexBytes(const uint8_t* bytes, uint32_t n);
    // The private stream 2 packet ended at position end: reads the entry when it is whole.
    Mpeg2PsResult IndexPacketDone(const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap, uint32_t end);

    // A stream 0xF1 packet: an aligned one starts a new block, an unaligned one continues it.
    void StartMetadataPacket(bool aligned);
    // Stream 0xF1 payload: a block is read as soon as it is whole; what follows it in the
    // packet goes with it.
    Mpeg2PsResult AddMetadataBytes(const uint8_t* bytes, uint32_t n);
    // The 0xF1 packet ended at position end.
    Mpeg2PsResult MetadataPacketDone(uint32_t end);

    // The parser was reset: a partly gathered index entry is dropped.
    void Reset() { indexBuffer_.clear(); }

private:
    Mpeg2PsResult ReadMetadataBlock(const Mpeg2PsMetadata& block);
    Mpeg2PsResult EndItem(uint32_t end);

    Mpeg2PsParserListener& listener_;
    bool indexMagicSeen_;
    bool indexComplete_;
    uint32_t longestDuration_;
    std::vector<Chapter> chapters_;
    Mpeg2PsMetadataBlockReader metadataReader_;
    std::unique_ptr<SV::Sha256Context> hash_;
    std::vector<uint8_t> digest_;
    std::unique_ptr<Pack0Map> pack0Map_;
    std::vector<uint8_t> indexBuffer_;        // private stream 2 payload of the open entry
    std::vector<uint8_t> metadataCollector_;  // stream 0xF1 payload of the open block
    bool metadataDropRest_;  // a block was read from this 0xF1 packet: skip the rest of it
};

}  // namespace SarvelonMediaKit

#endif
