#ifndef TESTS_SUPPORT_HANDMADESTREAMS_H
#define TESTS_SUPPORT_HANDMADESTREAMS_H

// Elementary streams written bit by bit, with no encoder, so that a test knows every byte of its
// media and can pin what the tools make of them whatever ffmpeg version is installed.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SvGolden {

using Bytes = std::vector<uint8_t>;

// MSB-first bit writer with H.264's Exp-Golomb codes (ITU-T H.264, 9.1).
class BitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            Bit((value >> i) & 1);
        }
    }
    void Bit(uint32_t bit) {
        current_ = static_cast<uint8_t>((current_ << 1) | (bit & 1));
        if (++filled_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            filled_ = 0;
        }
    }
    // ue(v): value + 1 in binary, after as many zero bits as it has bits less one.
    void Ue(uint32_t value) {
        const uint64_t coded = uint64_t{value} + 1;
        int length = 0;
        while ((coded >> length) > 1) {
            ++length;
        }
        Bits(0, length);
        for (int i = length; i >= 0; --i) {
            Bit(static_cast<uint32_t>((coded >> i) & 1));
        }
    }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    Bytes Finish() {
        Bit(1);
        while (filled_ != 0) {
            Bit(0);
        }
        return bytes_;
    }

private:
    Bytes bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// A NAL unit with its four-byte Annex B start code: forbidden_zero_bit 0, nal_ref_idc,
// nal_unit_type, then the payload (which must hold no 00 00 0x run).
inline Bytes Nal(uint8_t refIdc, uint8_t type, const Bytes& payload) {
    Bytes nal = {0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>((refIdc << 5) | type)};
    nal.insert(nal.end(), payload.begin(), payload.end());
    return nal;
}

// Sequence parameter set of a 320x240 Baseline picture at level 3.0, 25 frames a second.
inline Bytes Sps() {
    BitWriter w;
    w.Bits(66, 8);    // profile_idc: Baseline
    w.Bits(0xC0, 8);  // constraint_set0_flag, constraint_set1_flag, reserved zero bits
    w.Bits(30, 8);    // level_idc 3.0
    w.Ue(0);          // seq_parameter_set_id
    w.Ue(0);          // log2_max_frame_num_minus4
    w.Ue(0);          // pic_order_cnt_type 0
    w.Ue(0);          // log2_max_pic_order_cnt_lsb_minus4
    w.Ue(1);          // max_num_ref_frames
    w.Bit(0);         // gaps_in_frame_num_value_allowed_flag
    w.Ue(19);         // pic_width_in_mbs_minus1: 20 macroblocks, 320 pixels
    w.Ue(14);         // pic_height_in_map_units_minus1: 15 macroblocks, 240 pixels
    w.Bit(1);         // frame_mbs_only_flag
    w.Bit(1);         // direct_8x8_inference_flag
    w.Bit(0);         // frame_cropping_flag
    w.Bit(1);         // vui_parameters_present_flag
    w.Bit(1);         //   aspect_ratio_info_present_flag
    w.Bits(1, 8);     //   aspect_ratio_idc 1: square pixels
    w.Bit(0);         //   overscan_info_present_flag
    w.Bit(0);         //   video_signal_type_present_flag
    w.Bit(0);         //   chroma_loc_info_present_flag
    w.Bit(1);         //   timing_info_present_flag
    w.Bits(1, 32);    //   num_units_in_tick
    w.Bits(50, 32);   //   time_scale: 50 ticks a second, two per frame
    w.Bit(1);         //   fixed_frame_rate_flag
    w.Bit(0);         //   nal_hrd_parameters_present_flag
    w.Bit(0);         //   vcl_hrd_parameters_present_flag
    w.Bit(0);         //   pic_struct_present_flag
    w.Bit(0);         //   bitstream_restriction_flag
    return Nal(3, 7, w.Finish());
}

// Picture parameter set 0 over SPS 0, CAVLC.
inline Bytes Pps() {
    BitWriter w;
    w.Ue(0);       // pic_parameter_set_id
    w.Ue(0);       // seq_parameter_set_id
    w.Bit(0);      // entropy_coding_mode_flag: CAVLC
    w.Bit(0);      // bottom_field_pic_order_in_frame_present_flag
    w.Ue(0);       // num_slice_groups_minus1
    w.Ue(0);       // num_ref_idx_l0_default_active_minus1
    w.Ue(0);       // num_ref_idx_l1_default_active_minus1
    w.Bit(0);      // weighted_pred_flag
    w.Bits(0, 2);  // weighted_bipred_idc
    w.Ue(0);       // pic_init_qp_minus26: se(v) 0 is coded as ue(v) 0
    w.Ue(0);       // pic_init_qs_minus26: se(v) 0
    w.Ue(0);       // chroma_qp_index_offset: se(v) 0
    w.Bit(1);      // deblocking_filter_control_present_flag
    w.Bit(0);      // constrained_intra_pred_flag
    w.Bit(0);      // redundant_pic_cnt_present_flag
    return Nal(3, 8, w.Finish());
}

// Filler bytes that never form a start code: no zero byte at all.
inline Bytes Pattern(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
        if (b == 0) {
            b = 0x5A;
        }
    }
    return bytes;
}

// A coded slice: first_mb_in_slice 0, the slice type, PPS 0, frame_num, then filler for the
// slice data. An IDR slice (type 5) also carries idr_pic_id 0.
inline Bytes Slice(bool idr, uint32_t sliceType, uint32_t frameNum, uint32_t pocLsb, size_t size,
                   uint32_t seed) {
    BitWriter w;
    w.Ue(0);              // first_mb_in_slice
    w.Ue(sliceType);      // slice_type (5 = I, 7 = I all slices, 0 = P, 1 = B)
    w.Ue(0);              // pic_parameter_set_id
    w.Bits(frameNum, 4);  // frame_num, log2_max_frame_num = 4
    if (idr) {
        w.Ue(0);  // idr_pic_id
    }
    w.Bits(pocLsb, 4);  // pic_order_cnt_lsb, log2_max_pic_order_cnt_lsb = 4
    Bytes payload = w.Finish();
    const Bytes filler = Pattern(size, seed);
    payload.insert(payload.end(), filler.begin(), filler.end());
    return Nal(idr ? 3 : 2, idr ? 5 : 1, payload);
}

// An ADTS frame (ISO/IEC 13818-7): AAC LC, 48 kHz, two channels, no CRC, around a payload of
// the given size.
inline Bytes AdtsFrame(size_t payloadSize, uint32_t seed) {
    const size_t length = 7 + payloadSize;
    Bytes frame = {
        0xFF,  // syncword 0xFFF ...
        0xF1,  // ... ID 0 (MPEG-4), layer 00, protection_absent 1
        // profile 01 (LC), sampling_frequency_index 3 (48 kHz), private 0, channel config 2 (hi)
        0x4C,
        // channel config 2 (lo 2 bits 10), original 0, home 0, copyright bits 0, length 12-11
        static_cast<uint8_t>(0x80 | ((length >> 11) & 0x03)),
        static_cast<uint8_t>(length >> 3),                    // frame_length 10-3
        static_cast<uint8_t>(((length & 0x07) << 5) | 0x1F),  // length 2-0, fullness 10-6
        0xFC,  // buffer fullness 5-0 (0x7FF: variable rate), one raw data block
    };
    const Bytes payload = Pattern(payloadSize, seed);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace SvGolden

#endif
