#ifndef ENGINE_DEMUX_INDEXDIGESTTESTSUPPORT_H
#define ENGINE_DEMUX_INDEXDIGESTTESTSUPPORT_H

// The index digest of a title worked out from the file's bytes with OpenSSL, not with the
// engine's parser or its digest code: the oracle for the demultiplexer's digest and for the
// hashes that manifests give.

#include <openssl/evp.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace SarvelonMediaKit {
namespace test {

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// The payloads of the private stream 2 packets (stream id 0xBF) that precede the first audio
// or video packet, in file order: a title's index entries, when each fits one packet, as every
// fixture title here is made. The walk follows ISO/IEC 13818-1: pack headers are 14 bytes plus
// their stuffing (low 3 bits of byte 13), every other packet is 6 bytes plus its 16-bit
// big-endian length. A packet cut short by the end of the bytes ends the walk.
inline std::vector<std::vector<uint8_t>> IndexPackets(const std::vector<uint8_t>& title) {
    std::vector<std::vector<uint8_t>> packets;
    for (size_t i = 0; i + 6 <= title.size();) {
        if (title[i] != 0 || title[i + 1] != 0 || title[i + 2] != 1) {
            ++i;
            continue;
        }
        const uint8_t id = title[i + 3];
        if (id == 0xBA) {
            if (i + 14 > title.size()) break;
            i += 14 + (title[i + 13] & 7);
            continue;
        }
        if (id >= 0xC0 && id <= 0xEF) break;  // the first media packet
        const size_t length = (size_t(title[i + 4]) << 8) | title[i + 5];
        if (i + 6 + length > title.size()) break;
        if (id == 0xBF) packets.emplace_back(title.begin() + i + 6, title.begin() + i + 6 + length);
        i += 6 + length;
    }
    return packets;
}

// SHA-256 over those payloads, in hex.
inline std::string IndexDigestHex(const std::string& path) {
    const std::vector<std::vector<uint8_t>> packets = IndexPackets(ReadBytes(path));
    if (packets.empty()) throw std::runtime_error("no index entries in " + path);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    for (const std::vector<uint8_t>& packet : packets) {
        EVP_DigestUpdate(context, packet.data(), packet.size());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context, digest, &size);
    EVP_MD_CTX_free(context);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return hex;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
