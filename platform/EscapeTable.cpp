#include "platform/EscapeTable.h"

namespace ns {

void EscapeTable::Append(std::string& out, std::string_view text) const {
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = 0; i < text.size(); ++i) {
        const std::string_view escape = (*this)[static_cast<unsigned char>(text[i])];
        if (!escape.empty()) {
            out.append(text, run, i - run);
            out += escape;
            run = i + 1;
        }
    }
    out.append(text, run, text.size() - run);
}

void EscapeTable::AppendQuoted(std::string& out, std::string_view text) const {
    out += '"';
    Append(out, text);
    out += '"';
}

}  // namespace ns
