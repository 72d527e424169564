#include "platform/core/UUID.h"

#include <errno.h>
#include <sys/random.h>

#include <stdexcept>

namespace ns {

UUID UUID::Random() {
    Bytes bytes;
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("no random bytes for a UUID (getrandom failed)");
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 10
    return UUID(bytes);
}

std::optional<UUID> UUID::Parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Bytes bytes{};
    size_t b = 0;
    // The hyphens sit between whole bytes, so the digits always come in aligned pairs.
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            char c = text[i];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                return std::nullopt;
            value = value * 16 + digit;
        }
        bytes[b++] = static_cast<uint8_t>(value);
    }
    return UUID(bytes);
}

std::string UUID::String() const {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kDigits[bytes_[i] >> 4];
        out += kDigits[bytes_[i] & 0x0F];
    }
    return out;
}

}  // namespace ns
