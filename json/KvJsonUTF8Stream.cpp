#include "json/KvJsonUTF8Stream.h"

#include <cstring>

namespace {

// Bytes that end a plain run inside a string: control characters, '"' and '\\'.
struct StopTable {
    bool stop[256];
    constexpr StopTable() : stop() {
        for (int i = 0; i < 0x20; ++i) {
            stop[i] = true;
        }
        stop[static_cast<unsigned char>('"')] = true;
        stop[static_cast<unsigned char>('\\')] = true;
    }
};
constexpr StopTable kStops;

}  // namespace

KvJsonUTF8Stream::KvJsonUTF8Stream() {
    data_.reserve(4096);
    bytes_ = reinterpret_cast<const unsigned char*>(data_.data());
}

// Makes the stream's own buffer hold `length` bytes from `unread` (which may point into that
// buffer itself) and read from it with the cursor at 0.
void KvJsonUTF8Stream::own(const unsigned char* unread, size_t length) {
    const char* from = reinterpret_cast<const char*>(unread);
    if (!borrowed_ && length > 0) {
        data_.erase(0, static_cast<size_t>(from - data_.data()));
    } else {
        data_.assign(from, length);
    }
    data_.resize(length);
    bytes_ = reinterpret_cast<const unsigned char*>(data_.data());
    length_ = length;
    borrowed_ = false;
    index_ = 0;
}

void KvJsonUTF8Stream::appendData(const void* bytes, size_t length) {
    const size_t unread = index_ < length_ ? length_ - index_ : 0;
    if (unread == 0) {
        data_.clear();
        bytes_ = static_cast<const unsigned char*>(bytes);
        length_ = length;
        borrowed_ = true;
        index_ = 0;
        return;
    }
    own(bytes_ + index_, unread);
    if (length > 0) {
        data_.append(static_cast<const char*>(bytes), length);
        bytes_ = reinterpret_cast<const unsigned char*>(data_.data());
        length_ = data_.size();
    }
}

void KvJsonUTF8Stream::keepUnreadBytes() {
    const size_t unread = index_ < length_ ? length_ - index_ : 0;
    if (borrowed_ || index_ > 0) {
        own(bytes_ + index_, unread);
    }
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Flags (in the byte's high bit) the bytes of `word` that are control characters, '"' or
// '\\'. A flag can be false only above a true one, so "none" and "the lowest" are exact.
inline uint64_t StopBytes(uint64_t word) {
    const uint64_t quote = word ^ (kOnes * '"');
    const uint64_t backslash = word ^ (kOnes * '\\');
    // Bytes from 0x80 up are excluded by ~word (XOR with ASCII keeps their high bit).
    return ((word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes)) & ~word & kHighBits;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

// findStringStop that also ORs every byte before the stop into `high`, so that a string of
// plain ASCII needs no second look for UTF-8.
inline size_t FindStop(const unsigned char* bytes, size_t i, size_t length, uint64_t& high) {
    if (kLittleEndian) {
        for (; length - i >= 8; i += 8) {
            uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            if (const uint64_t stops = StopBytes(word)) {
                // The lowest flagged byte comes first in memory.
                const unsigned offset = static_cast<unsigned>(__builtin_ctzll(stops)) / 8;
                high |= word & ((uint64_t{1} << (offset * 8)) - 1);
                return i + offset;
            }
            high |= word;
        }
    }
    while (i < length && !kStops.stop[bytes[i]]) {
        high |= bytes[i];
        ++i;
    }
    return i;
}

}  // namespace

size_t KvJsonUTF8Stream::findStringStop(const unsigned char* bytes, size_t i, size_t length) {
    uint64_t high = 0;
    return FindStop(bytes, i, length, high);
}

KvJsonUTF8Stream::FragmentResult KvJsonUTF8Stream::getStringFragment(std::string_view& fragment) {
    const unsigned char* const data = bytes_;
    const size_t end = length_;
    const size_t start = index_;
    uint64_t high = 0;
    const size_t i = FindStop(data, start, end, high);
    size_t valid = i - start;
    if ((high & kHighBits) != 0) {
        bool broken = false;
        valid = validUTF8Prefix(data + start, i - start, broken);
        // Before a stopping byte every character must be whole.
        if (broken || (i < end && valid != i - start)) {
            return FragmentBroken;
        }
    }
    fragment = std::string_view(reinterpret_cast<const char*>(data + start), valid);
    index_ = start + valid;
    return i < end ? FragmentStopped : FragmentAtEnd;
}

bool KvJsonUTF8Stream::isASCII(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    uint64_t high = 0;
    for (; length - i >= 8; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        high |= word;
    }
    for (; i < length; ++i) {
        high |= bytes[i];
    }
    return (high & kHighBits) == 0;
}

bool KvJsonUTF8Stream::skipCharacters(const char* chars, size_t n) {
    if (!haveRemainingCharacters(n) || std::memcmp(bytes_ + index_, chars, n) != 0) {
        return false;
    }
    index_ += n;
    return true;
}

bool KvJsonUTF8Stream::isValidUTF8(const unsigned char* s, size_t length) {
    if (isASCII(s, length)) {
        return true;
    }
    bool broken = false;
    return validUTF8Prefix(s, length, broken) == length;
}

size_t KvJsonUTF8Stream::validUTF8Prefix(const unsigned char* s, size_t length, bool& broken) {
    broken = false;
    size_t i = 0;
    while (i < length) {
        // Runs of ASCII a word at a time.
        while (length - i >= 8) {
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & kHighBits) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= length) {
            break;
        }
        const unsigned char b = s[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t need;
        unsigned char low = 0x80;  // allowed range of the first continuation byte
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) {
                low = 0xA0;  // no overlong three-byte forms
            } else if (b == 0xED) {
                high = 0x9F;  // no UTF-16 surrogates
            }
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) {
                low = 0x90;  // no overlong four-byte forms
            } else if (b == 0xF4) {
                high = 0x8F;  // nothing above U+10FFFF
            }
        } else {
            broken = true;
            return i;
        }
        for (size_t k = 1; k <= need; ++k) {
            if (i + k >= length) {
                return i;  // cut short by the end: not (yet) malformed
            }
            const unsigned char next = s[i + k];
            if (k == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80) {
                broken = true;
                return i;
            }
        }
        i += need + 1;
    }
    return i;
}
