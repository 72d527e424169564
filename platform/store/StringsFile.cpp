#include "platform/store/StringsFile.h"

#include "SVLibrary/File/InputFileStream.h"
#include "SVLibrary/Util/Hex.h"
#include "platform/Utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

namespace ns {

namespace {

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16 (little or big endian, byte order mark already taken off) to UTF-8.
bool Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out, std::string& error) {
    if (bytes.size() % 2 != 0) {
        error = "UTF-16 text with an odd number of bytes";
        return false;
    }
    auto unit = [&](size_t i) -> uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    out.clear();
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t u = unit(i);
        if (IsHighSurrogate(u) && i + 2 < bytes.size() && IsLowSurrogate(unit(i + 2))) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            error = "UTF-16 text with a lone surrogate";
            return false;
        }
        AppendUtf8(out, u);
    }
    return true;
}

// The text of the file as UTF-8, whatever of the accepted encodings it came in.
bool DecodeText(std::string_view bytes, std::string& text, std::string& error) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        text.assign(bytes.substr(3));
        return true;
    }
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        return Utf16ToUtf8(bytes.substr(2), false, text, error);
    }
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        return Utf16ToUtf8(bytes.substr(2), true, text, error);
    }
    // Without a mark, an ASCII first character followed (or preceded) by a zero byte.
    if (bytes.size() >= 2 && at(0) != 0 && at(1) == 0)
        return Utf16ToUtf8(bytes, false, text, error);
    if (bytes.size() >= 2 && at(0) == 0 && at(1) != 0) return Utf16ToUtf8(bytes, true, text, error);
    text.assign(bytes);
    return true;
}

bool IsUnquotedChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("_$.:/-", c) != nullptr;
}

// Reads the decoded text token by token.
struct StringsReader {
    std::string_view text;
    size_t pos = 0;
    std::string error;

    int LineAt(size_t at) const {
        int line = 1;
        for (size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == '\n';
        return line;
    }
    bool Fail(size_t at, const std::string& why) {
        error = "line " + std::to_string(LineAt(at)) + ": " + why;
        return false;
    }

    // Skips white space and comments; false on an unterminated block comment.
    bool SkipSpace() {
        while (pos < text.size()) {
            const char c = text[pos];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos;
            } else if (text.compare(pos, 2, "/*") == 0) {
                const size_t end = text.find("*/", pos + 2);
                if (end == std::string_view::npos) return Fail(pos, "unterminated comment");
                pos = end + 2;
            } else if (text.compare(pos, 2, "//") == 0) {
                const size_t end = text.find('\n', pos);
                pos = end == std::string_view::npos ? text.size() : end + 1;
            } else {
                break;
            }
        }
        return true;
    }

    // Four hexadecimal digits after \U; the value or -1.
    long ReadHex4() {
        if (text.size() - pos < 4) return -1;
        long v = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = SV::HexDigitValue(text[pos + i]);
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        pos += 4;
        return v;
    }

    // One escape after the backslash (pos at the character after it).
    bool ReadEscape(std::string& out, size_t start) {
        if (pos >= text.size()) return Fail(start, "unterminated string");
        const char c = text[pos++];
        switch (c) {
            case 'n': out += '\n'; return true;
            case 't': out += '\t'; return true;
            case 'r': out += '\r'; return true;
            case 'a': out += '\a'; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'v': out += '\v'; return true;
            case 'U':
            case 'u': {
                const size_t at = pos - 2;
                const long unit = ReadHex4();
                if (unit < 0) return Fail(at, "\\U needs four hexadecimal digits");
                uint32_t cp = static_cast<uint32_t>(unit);
                if (IsHighSurrogate(cp)) {
                    // A pair is written as two escapes in a row.
                    const size_t save = pos;
                    if (text.compare(pos, 2, "\\U") == 0 || text.compare(pos, 2, "\\u") == 0) {
                        pos += 2;
                        const long low = ReadHex4();
                        if (low >= 0 && IsLowSurrogate(static_cast<uint32_t>(low))) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) +
                                 (static_cast<uint32_t>(low) - 0xDC00);
                        } else {
                            pos = save;
                            cp = 0xFFFD;
                        }
                    } else {
                        cp = 0xFFFD;
                    }
                } else if (IsLowSurrogate(cp)) {
                    cp = 0xFFFD;
                }
                AppendUtf8(out, cp);
                return true;
            }
            default:
                if (c >= '0' && c <= '7') {
                    uint32_t v = static_cast<uint32_t>(c - '0');
                    for (int i = 0;
                         i < 2 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7'; ++i) {
                        v = v * 8 + static_cast<uint32_t>(text[pos++] - '0');
                    }
                    AppendUtf8(out, v);
                    return true;
                }
                out += c;  // \" \\ \' and any other character stand for themselves
                return true;
        }
    }

    // A quoted or unquoted string at pos.
    bool ReadString(std::string& out) {
        out.clear();
        if (pos >= text.size()) return Fail(pos, "a string is missing at the end of the file");
        const size_t start = pos;
        if (text[pos] == '"') {
            ++pos;
            while (true) {
                const size_t stop = text.find_first_of("\"\\", pos);
                if (stop == std::string_view::npos) return Fail(start, "unterminated string");
                out.append(text.substr(pos, stop - pos));
                pos = stop + 1;
                if (text[stop] == '"') return true;
                if (!ReadEscape(out, start)) return false;
            }
        }
        while (pos < text.size() && IsUnquotedChar(text[pos])) ++pos;
        if (pos == start) {
            return Fail(start, std::string("unexpected character '") + text[start] + "'");
        }
        out.assign(text.substr(start, pos - start));
        return true;
    }
};

// Entries until the end of the text: key [= value] ; with space and comments between.
bool ReadEntries(std::string_view text, std::unordered_map<std::string, std::string>& table,
                 std::string& error) {
    StringsReader r;
    r.text = text;
    std::string key;
    std::string value;
    while (r.SkipSpace()) {
        if (r.pos >= text.size()) return true;
        if (!r.ReadString(key) || !r.SkipSpace()) break;
        if (r.pos < text.size() && text[r.pos] == ';') {  // "key"; is "key" = "key";
            ++r.pos;
            table[key] = key;
            continue;
        }
        if (r.pos >= text.size() || text[r.pos] != '=') {
            r.Fail(r.pos, "\"=\" expected after key \"" + key + "\"");
            break;
        }
        ++r.pos;
        if (!r.SkipSpace() || !r.ReadString(value) || !r.SkipSpace()) break;
        if (r.pos >= text.size() || text[r.pos] != ';') {
            r.Fail(r.pos, "\";\" expected after the value of \"" + key + "\"");
            break;
        }
        ++r.pos;
        table[key] = std::move(value);
    }
    error = r.error;
    return false;
}

}  // namespace

bool StringsFile::Load(const std::string& path, std::string* error) {
    strings_.clear();
    SV::InputFileStream in(path);
    if (!in) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<size_t>(in.gcount()));
        if (bytes.size() > kMaxFileBytes) {
            if (error) *error = path + ": larger than a strings table may be";
            return false;
        }
    }
    if (in.bad()) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    std::string why;
    if (!Parse(bytes, &why)) {
        if (error) *error = path + ": " + why;
        return false;
    }
    return true;
}

bool StringsFile::Parse(std::string_view bytes, std::string* error) {
    strings_.clear();
    std::string text;
    std::string why;
    if (bytes.size() > kMaxFileBytes) {
        why = "larger than a strings table may be";
    } else if (DecodeText(bytes, text, why)) {
        std::unordered_map<std::string, std::string> table;
        if (ReadEntries(text, table, why)) {
            strings_ = std::move(table);
            return true;
        }
    }
    if (error) *error = why;
    return false;
}

const std::string* StringsFile::Find(std::string_view key) const {
    const auto it = strings_.find(std::string(key));
    return it == strings_.end() ? nullptr : &it->second;
}

}  // namespace ns
