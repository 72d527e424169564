#include "app/PageBridgeScript.h"

#include "platform/core/Format.h"

namespace PageBridgeScript {

namespace {

// A number the page's script reads back as exactly these digits: no leading zero (which an
// older engine takes for octal, "010" being 8) and at most 15 digits (more lose precision in a
// double). Anything else goes in as a string.
bool IsPlainNumber(const std::string& text) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const size_t digits = text.size() - i;
    if (digits == 0 || digits > 15) return false;
    if (text[i] == '0' && digits > 1) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::string mediaIdArgument(const std::string& mediaID) {
    if (IsPlainNumber(mediaID)) return mediaID;
    std::string quoted = "'";
    for (size_t i = 0; i < mediaID.size(); ++i) {
        const char c = mediaID[i];
        if (c == '\\') {
            quoted += "\\\\";
        } else if (c == '\'') {
            quoted += "\\'";
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '<' && i + 1 < mediaID.size() && mediaID[i + 1] == '/') {
            // "</script>" would end the page's script element around the call.
            quoted += "<\\/";
            ++i;
        } else if (mediaID.compare(i, 3, "\xE2\x80\xA8") == 0 ||
                   mediaID.compare(i, 3, "\xE2\x80\xA9") == 0) {
            // The line and paragraph separators end a string literal in older engines.
            quoted += mediaID[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string playProgress(const std::string& mediaID, int seconds) {
    return ns::Format("__zulPlayerProxy('play_progress',%@,%i);", mediaIdArgument(mediaID),
                      seconds);
}

std::string complete(const std::string& mediaID) {
    return ns::Format("__zulPlayerProxy('complete',%@);", mediaIdArgument(mediaID));
}

std::string error(const std::string& mediaID, int code) {
    return ns::Format("__zulPlayerProxy('error',%@,%i);", mediaIdArgument(mediaID), code);
}

}  // namespace PageBridgeScript
