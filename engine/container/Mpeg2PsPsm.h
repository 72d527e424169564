#ifndef ENGINE_CONTAINER_MPEG2PSPSM_H
#define ENGINE_CONTAINER_MPEG2PSPSM_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// A program stream map (ISO/IEC 13818-1, 2.5.4), written with its CRC_32.
class Mpeg2PsPsm {
public:
    struct EsInfo {
        uint8_t elementary_stream_id = 0;
        uint8_t stream_type = 0;
        std::vector<uint8_t> descriptors;
    };

    Mpeg2PsPsm();

    void SetCurrentNextIndicator(bool current) { currentNextIndicator_ = current ? 1 : 0; }
    void SetVersion(uint8_t version) { version_ = version; }
    // Appends descriptor bytes to program_stream_info.
    void AddProgramStreamInfo(const uint8_t* bytes, uint16_t length);
    // Appends an elementary stream without descriptors.
    void AddEsInfo(uint8_t elementaryStreamId, uint8_t streamType);
    // Appends descriptor bytes to the first stream with that id; nothing when there is none.
    void AddEsDescriptor(uint8_t elementaryStreamId, const uint8_t* bytes, uint16_t length);

    const std::vector<uint8_t>& GetProgramStreamInfo() const { return programStreamInfo_; }
    const std::vector<EsInfo>& GetEsInfos() const { return elementaryStreams_; }

    // 16 + info length + the sum over the streams of 4 + their descriptor length.
    uint32_t GetSize() const;
    // The written byte count; 0 (nothing written) when the map does not fit the capacity or
    // one of its length fields cannot hold its length.
    uint32_t Write(uint8_t* out, uint32_t capacity) const;

private:
    uint8_t currentNextIndicator_;
    uint8_t version_;
    std::vector<uint8_t> programStreamInfo_;
    std::vector<EsInfo> elementaryStreams_;
};

}  // namespace SarvelonMediaKit

#endif
