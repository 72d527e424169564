#ifndef ENGINE_CONTAINER_MPEG2PSPSM_H
#define ENGINE_CONTAINER_MPEG2PSPSM_H

#include <cstdint>
#include <vector>

#include "engine/container/Mpeg2PsResult.h"

namespace SarvelonMediaKit {

// A program stream map (ISO/IEC 13818-1, 2.5.4): read from the payload of a map packet, written
// as a whole packet with its CRC_32. Also finds an audio stream's decoder set-up in the MPEG-4
// descriptors that program_stream_info or a track may carry.
class Mpeg2PsPsm {
public:
    // One entry of the elementary-stream map.
    struct EsMapEntry {
        uint8_t elementary_stream_id = 0;
        uint8_t stream_type = 0;
        std::vector<uint8_t> descriptors;  // elementary_stream_info
    };

    Mpeg2PsPsm();

    // Reads the bytes after PES_packet_length of a map packet: Mpeg2PsResult::Ok, or
    // Mpeg2PsResult::BadStreamMap when program_stream_info, the elementary-stream map with every
    // entry and its descriptors, and the four CRC_32 bytes after it do not all lie inside them; the
    // map is then left as it was. The CRC is not checked; bytes after it are ignored.
    Mpeg2PsResult Read(const uint8_t* payload, uint32_t size);

    void SetCurrentNextIndicator(bool current) { currentNextIndicator_ = current ? 1 : 0; }
    void SetVersion(uint8_t version) { version_ = version; }
    // Appends descriptor bytes to program_stream_info.
    void AddProgramStreamInfo(const uint8_t* bytes, uint16_t length);
    // Appends an elementary stream without descriptors.
    void AddEsInfo(uint8_t elementaryStreamId, uint8_t streamType);
    // Appends descriptor bytes to the first stream with that id; nothing when there is none.
    void AddEsDescriptor(uint8_t elementaryStreamId, const uint8_t* bytes, uint16_t length);

    bool GetCurrentNextIndicator() const { return currentNextIndicator_ != 0; }
    uint8_t GetVersion() const { return version_; }
    const std::vector<uint8_t>& GetProgramStreamInfo() const { return programStreamInfo_; }
    const std::vector<EsMapEntry>& GetEsMap() const { return elementaryStreams_; }

    // The streams of the map that the engine plays: the last MPEG audio stream (0xC0-0xDF, or
    // 0xBD with E-AC-3 or private data) with its stream type, and the last video stream
    // (0xE0-0xEF). What the map does not name is left as it was.
    void FindPlayedStreams(uint8_t& audioId, uint8_t& audioType, uint8_t& videoId) const;

    // 16 + info length + the sum over the streams of 4 + their descriptor length.
    uint32_t GetSize() const;
    // The written byte count; 0 (nothing written) when the map does not fit the capacity or
    // one of its length fields cannot hold its length.
    uint32_t Write(uint8_t* out, uint32_t capacity) const;

    // Finds the ES_Descriptor (ISO/IEC 14496-1) of the stream with that ES_ID in the
    // InitialObjectDescriptor of an IOD_descriptor (ISO/IEC 13818-1, 2.6.40) in
    // program_stream_info. es points into the map's bytes and stays valid until the next
    // successful Read. False when there is none or the descriptors do not hold together.
    bool FindEsDescriptor(uint8_t esId, const uint8_t*& es, uint32_t& size) const;

    // Reads the DecoderSpecificInfo (for AAC the AudioSpecificConfig) of an ES_Descriptor for
    // the stream with that ES_ID, checking every length against its bytes. False when the
    // descriptor is for another stream or does not hold together.
    static bool ReadDecoderSpecificInfo(const uint8_t* es, uint32_t size, uint8_t esId,
                                        std::vector<uint8_t>& info);

private:
    uint8_t currentNextIndicator_;
    uint8_t version_;
    std::vector<uint8_t> programStreamInfo_;
    std::vector<EsMapEntry> elementaryStreams_;
};

}  // namespace SarvelonMediaKit

#endif
