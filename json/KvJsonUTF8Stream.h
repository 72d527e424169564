#ifndef JSON_KVJSONUTF8STREAM_H
#define JSON_KVJSONUTF8STREAM_H
// Byte cursor over a growing buffer of UTF-8 JSON input. Input arrives in pieces through
// appendData; the bytes before the cursor are dropped at the next append, so the buffer only
// ever holds the unfinished token plus what has not been read yet.
//
// When nothing is left over from earlier pieces, the new bytes are read where they stand
// instead of being copied; the reader then calls keepUnreadBytes before the caller's bytes go
// away (the stream parser does so at the end of every parse call).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class KvJsonUTF8Stream {
public:
    KvJsonUTF8Stream();

    // Drops the consumed bytes (before the cursor, which becomes 0), then appends.
    void appendData(const void* bytes, size_t length);
    // Copies the bytes not read yet into the stream's own buffer (dropping the consumed ones,
    // the cursor becomes 0), so that bytes given to appendData may go away.
    void keepUnreadBytes();

    // The byte at the cursor without moving; false at the end.
    bool getUnichar(unsigned char& ch) const {
        if (index_ >= length_) {
            return false;
        }
        ch = bytes_[index_];
        return true;
    }
    // Moves the cursor forward by one, then reads there; false (cursor already moved) past
    // the end.
    bool getNextUnichar(unsigned char& ch) {
        ++index_;
        return getUnichar(ch);
    }

    enum FragmentResult {
        FragmentStopped,  // a byte that ends the run follows (not consumed)
        FragmentAtEnd,    // the buffer ended first
        FragmentBroken,   // the bytes are not UTF-8
    };
    // Moves over the bytes of a string that need no attention: everything from 0x20 up except
    // the quotation mark and the backslash. `fragment` holds the bytes moved over (valid only
    // until the next append), always whole UTF-8 characters: at the end of the buffer a
    // character that is cut short is left in place for the next call.
    FragmentResult getStringFragment(std::string_view& fragment);

    void skip() { ++index_; }
    void skipWhitespace() {
        while (index_ < length_) {
            const unsigned char ch = bytes_[index_];
            if (ch != ' ' && ch != '\n' && ch != '\r' && ch != '\t') {
                break;
            }
            ++index_;
        }
    }
    bool haveRemainingCharacters(size_t n) const { return length_ - index_ >= n; }
    // Moves over `n` bytes equal to `bytes`; false (not moved) when they differ. Callers check
    // first that n bytes remain.
    bool skipCharacters(const char* bytes, size_t n);

    size_t index() const { return index_; }
    void setIndex(size_t index) { index_ = index; }
    const unsigned char* bytes() const { return bytes_; }
    size_t length() const { return length_; }

    // The position of the first byte from `i` on that a JSON string cannot hold as it is (a
    // control character, '"' or '\\'), or `length` when there is none.
    static size_t findStringStop(const unsigned char* bytes, size_t i, size_t length);

    // Well-formed UTF-8 after RFC 3629: no overlong forms, no surrogates, nothing above
    // U+10FFFF.
    static bool isValidUTF8(const unsigned char* bytes, size_t length);
    // The length of the longest prefix made of whole well-formed characters. `broken` tells
    // whether what follows it is malformed (rather than a character cut by the end).
    static size_t validUTF8Prefix(const unsigned char* bytes, size_t length, bool& broken);
    static bool isASCII(const unsigned char* bytes, size_t length);

private:
    void own(const unsigned char* unread, size_t length);

    std::string data_;  // the stream's own bytes
    // What is read: data_, or the caller's bytes while they are read in place.
    const unsigned char* bytes_ = nullptr;
    size_t length_ = 0;
    bool borrowed_ = false;
    size_t index_ = 0;
};

#endif  // JSON_KVJSONUTF8STREAM_H
