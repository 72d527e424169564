// Feeds arbitrary bytes to the strings-table reader. A table it accepts is written out again
// with every key and value quoted (quotes, backslashes and control characters escaped) and
// must read back as the same table.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/store/StringsFile.h"

namespace {

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\U%04x", static_cast<unsigned char>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ns::StringsFile table;
    std::string error;
    if (!table.Parse(std::string_view(reinterpret_cast<const char*>(data), size), &error)) {
        if (error.empty() || !table.Empty()) __builtin_trap();
        return 0;
    }
    std::string written = "/* again */\n";
    for (const auto& entry : table.Entries()) {
        written += Quoted(entry.first) + " = " + Quoted(entry.second) + "; // entry\n";
    }
    ns::StringsFile again;
    if (!again.Parse(written, &error) || again.Entries() != table.Entries()) __builtin_trap();
    return 0;
}
