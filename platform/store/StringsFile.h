#ifndef PLATFORM_STORE_STRINGSFILE_H
#define PLATFORM_STORE_STRINGSFILE_H
// A table of localised texts as the bundle keeps them, one file per table and language:
//
//     /* Sign-in screen */
//     "Login-SignIn" = "Sign in";
//     "Login-Message" = "Say \"hello\"\nthen go on"; // a comment to the end of the line
//     Unquoted-Key = "plain keys of letters, digits and _$.:/- need no quotes";
//     "Same";                        (short for "Same" = "Same";)
//
// Quoted strings take the escapes \" \\ \' \n \t \r \a \b \f \v, \U or \u with four
// hexadecimal digits (UTF-16 code units; a surrogate pair makes one character, a lone surrogate
// becomes U+FFFD), and one to three octal digits. Any other escaped character stands for
// itself. The file may be UTF-8 (with or without a byte order mark) or UTF-16 with a byte order
// mark, or UTF-16 without one when its first character is ASCII. A key given twice keeps its
// last value.
//
// A malformed file (unterminated string or comment, a missing "=" or ";", bad UTF-16) is refused
// whole with a message naming the line: a half-read table would show some texts and keys in
// place of others without any sign of why.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ns {

class StringsFile {
public:
    // Larger files are refused: a strings table is a few kilobytes.
    static constexpr size_t kMaxFileBytes = 8u << 20;

    // Reads the file at path. False (the table then empty) when it cannot be read, is larger
    // than kMaxFileBytes or is malformed; error (if given) then says why.
    bool Load(const std::string& path, std::string* error = nullptr);
    // Reads a table from the bytes of a file; as Load.
    bool Parse(std::string_view bytes, std::string* error = nullptr);

    // The text for key, or nullptr when the table has none.
    const std::string* Find(std::string_view key) const;
    size_t Size() const { return strings_.size(); }
    const std::unordered_map<std::string, std::string>& Entries() const { return strings_; }
    bool Empty() const { return strings_.empty(); }

private:
    std::unordered_map<std::string, std::string> strings_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_STRINGSFILE_H
