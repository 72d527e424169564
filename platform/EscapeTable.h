#ifndef PLATFORM_ESCAPE_TABLE_H
#define PLATFORM_ESCAPE_TABLE_H
// Text put between quotation marks: what each byte becomes there. The quotation mark, the
// backslash and the control characters are spelled out; every other byte stays as it is, so
// UTF-8 passes through unchanged and '/' is never escaped. The JSON writer, the one-line
// descriptions of values in logs and the view dumps each write with a table of their own
// forms, made at compile time, so every reader keeps the text it has always been given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ns {

class EscapeTable {
public:
    // The forms, combined with |. With none: \" \\ \n \r \t, and \xhh (lower-case hex) for
    // the other bytes below 0x20.
    static constexpr unsigned kUnicode = 1;       // \u00hh, as JSON wants, in place of \xhh
    static constexpr unsigned kUpperCaseHex = 2;  // \u001F or \x1F rather than \u001f, \x1f
    static constexpr unsigned kLetters = 4;       // \b and \f rather than by their number
    static constexpr unsigned kDelete = 8;        // 0x7F spelled out too

    constexpr explicit EscapeTable(unsigned forms) : entries_() {
        const char* hex = (forms & kUpperCaseHex) != 0 ? "0123456789ABCDEF" : "0123456789abcdef";
        for (unsigned b = 0; b < 0x80; ++b) {
            if (b >= 0x20 && !(b == 0x7F && (forms & kDelete) != 0)) {
                continue;
            }
            size_t n = 0;
            entries_[b].text[n++] = '\\';
            if ((forms & kUnicode) != 0) {
                entries_[b].text[n++] = 'u';
                entries_[b].text[n++] = '0';
                entries_[b].text[n++] = '0';
            } else {
                entries_[b].text[n++] = 'x';
            }
            entries_[b].text[n++] = hex[b >> 4];
            entries_[b].text[n++] = hex[b & 15];
            entries_[b].length = static_cast<uint8_t>(n);
        }
        const struct {
            unsigned char byte;
            char letter;
            bool always;
        } letters[] = {{'"', '"', true},  {'\\', '\\', true}, {'\n', 'n', true}, {'\r', 'r', true},
                       {'\t', 't', true}, {'\b', 'b', false}, {'\f', 'f', false}};
        for (const auto& form : letters) {
            if (form.always || (forms & kLetters) != 0) {
                entries_[form.byte].text[0] = '\\';
                entries_[form.byte].text[1] = form.letter;
                entries_[form.byte].length = 2;
            }
        }
    }

    // What `byte` becomes: empty when it stays as it is.
    constexpr std::string_view operator[](unsigned char byte) const {
        return std::string_view(entries_[byte].text, entries_[byte].length);
    }

    // `text` with each byte as the table says.
    void Append(std::string& out, std::string_view text) const;
    // The same between quotation marks.
    void AppendQuoted(std::string& out, std::string_view text) const;

private:
    struct Entry {  // eight bytes: one load finds the form and its length
        char text[7] = {};
        uint8_t length = 0;
    };
    Entry entries_[256];
};

}  // namespace ns

#endif
