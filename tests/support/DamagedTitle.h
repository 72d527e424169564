#ifndef TESTS_SUPPORT_DAMAGEDTITLE_H
#define TESTS_SUPPORT_DAMAGEDTITLE_H

// Header-only: damaged copies of a title, with where a parser that lost sync must skip, worked
// out from the title's packet layout as walked here (no engine code): a pack is 14 bytes plus
// its stuffing (low 3 bits of byte 13), the end code 4 bytes, any other packet 6 bytes plus its
// 16-bit length (bytes 4-5).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace SvTestSupport {

// A damaged title and the one stretch a parser must skip in it: from position, count bytes.
struct DamagedTitle {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
    uint64_t count = 0;
};

// Where each packet starts, then the title's size. A clean title is packets back to back.
inline std::vector<uint64_t> PacketStarts(const std::vector<uint8_t>& b) {
    std::vector<uint64_t> starts;
    size_t at = 0;
    while (at + 6 <= b.size() || (at + 4 <= b.size() && b[at + 3] == 0xB9)) {
        if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 1) {
            ADD_FAILURE() << "no packet starts at " << at;
            break;
        }
        starts.push_back(at);
        const uint8_t id = b[at + 3];
        if (id == 0xB9) {
            at += 4;
        } else if (id == 0xBA) {
            at += 14 + (b[at + 13] & 7);
        } else {
            at += 6 + ((size_t(b[at + 4]) << 8) | b[at + 5]);
        }
    }
    EXPECT_EQ(b.size(), at) << "the packets do not fill the title";
    starts.push_back(b.size());
    return starts;
}

namespace damaged {

inline uint64_t FirstStartFrom(const std::vector<uint64_t>& starts, uint64_t position) {
    for (uint64_t start : starts) {
        if (start >= position) return start;
    }
    return starts.back();
}

// The codes a parser that lost sync takes up again at: the end code, a pack, a system header,
// the map, padding, private stream 2, streams 0xF0 and 0xF1, and every stream of the title.
inline std::set<uint8_t> SyncIds(const std::vector<uint8_t>& title,
                                 const std::vector<uint64_t>& starts) {
    std::set<uint8_t> ids{0xB9, 0xBA, 0xBB, 0xBC, 0xBE, 0xBF, 0xF0, 0xF1};
    for (size_t i = 0; i + 1 < starts.size(); ++i) ids.insert(title[starts[i] + 3]);
    return ids;
}

// Whether 00 00 01 and a sync id start anywhere in [from, to): media bytes may hold one by
// chance, and a parser that lost sync would take it for a packet.
inline bool HoldsSyncPoint(const std::vector<uint8_t>& b, uint64_t from, uint64_t to,
                           const std::set<uint8_t>& ids) {
    for (uint64_t i = from; i + 3 < to && i + 3 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && ids.count(b[i + 3])) return true;
    }
    return false;
}

// A stretch skipped up to the packet at next ends at the zeros just before it: they are read
// as part of its start code.
inline uint64_t StretchEnd(const std::vector<uint8_t>& b, uint64_t start, uint64_t next) {
    while (next > start + 1 && b[next - 1] == 0) --next;
    return next;
}

}  // namespace damaged

// Six random bytes over the start code and length of a video or audio packet from the middle
// on: the first such packet where the damage starts at its first byte and no sync point lies by
// chance in what must be skipped, up to the next packet. count 0 when there is none.
inline DamagedTitle WithRandomPacketHeader(const std::vector<uint8_t>& clean,
                                           std::mt19937& random) {
    const std::vector<uint64_t> starts = PacketStarts(clean);
    const std::set<uint8_t> ids = damaged::SyncIds(clean, starts);
    DamagedTitle out;
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        const uint64_t at = starts[i];
        const uint8_t id = clean[at + 3];
        if (at < clean.size() / 2 || ((id & 0xE0) != 0xC0 && (id & 0xF0) != 0xE0)) continue;
        out.bytes = clean;
        for (int k = 0; k < 6; ++k) out.bytes[at + k] = static_cast<uint8_t>(random());
        if (out.bytes[at] != 0 && !damaged::HoldsSyncPoint(out.bytes, at, starts[i + 1], ids)) {
            out.position = at;
            out.count = damaged::StretchEnd(out.bytes, at, starts[i + 1]) - at;
            return out;
        }
    }
    return DamagedTitle();
}

// 64 KiB of zeros from a packet start at or after the middle less 32 KiB: the first such start
// where the zeros end inside a packet, on a byte that makes no start code with them, and no
// sync point lies by chance between their end and the next packet. The parser takes the zeros
// for a long start-code prefix and skips from their start. count 0 when there is none.
inline DamagedTitle WithZeroedMiddle(const std::vector<uint8_t>& clean) {
    const uint64_t kZeros = 65536;
    const std::vector<uint64_t> starts = PacketStarts(clean);
    const std::set<uint8_t> ids = damaged::SyncIds(clean, starts);
    DamagedTitle out;
    for (uint64_t start : starts) {
        if (start + 32768 < clean.size() / 2 || start + kZeros >= clean.size()) continue;
        out.bytes = clean;
        std::fill(out.bytes.begin() + start, out.bytes.begin() + start + kZeros, 0);
        const uint64_t end = start + kZeros;
        const uint64_t following = damaged::FirstStartFrom(starts, end);
        if (following != end && out.bytes[end] != 1 &&
            !damaged::HoldsSyncPoint(out.bytes, end - 2, following, ids)) {
            out.position = start;
            out.count = damaged::StretchEnd(out.bytes, start, following) - start;
            return out;
        }
    }
    return DamagedTitle();
}

// Where each group of pictures starts: the pack just before a video packet (0xE0-0xEF) with
// data alignment set (bit 2 of PES byte 6), which in these titles opens every key frame.
inline std::vector<uint64_t> GroupOfPicturesStarts(const std::vector<uint8_t>& b) {
    const std::vector<uint64_t> starts = PacketStarts(b);
    std::vector<uint64_t> groups;
    for (size_t i = 1; i + 1 < starts.size(); ++i) {
        const uint64_t at = starts[i];
        if ((b[at + 3] & 0xF0) == 0xE0 && at + 6 < b.size() && (b[at + 6] & 0x04) != 0 &&
            b[starts[i - 1] + 3] == 0xBA) {
            groups.push_back(starts[i - 1]);
        }
    }
    return groups;
}

// The group-th group of pictures (from 0) zeroed from its pack up to the next group's pack: a
// stretch of zeros right before a pack start code, which a parser takes for stuffing and skips
// without a word. count 0 when the title has no group after that one.
inline DamagedTitle WithGroupOfPicturesZeroed(const std::vector<uint8_t>& clean, size_t group) {
    const std::vector<uint64_t> groups = GroupOfPicturesStarts(clean);
    DamagedTitle out;
    if (group + 1 >= groups.size()) return out;
    out.bytes = clean;
    std::fill(out.bytes.begin() + groups[group], out.bytes.begin() + groups[group + 1], 0);
    out.position = groups[group];
    out.count = groups[group + 1] - groups[group];
    return out;
}

}  // namespace SvTestSupport

#endif
