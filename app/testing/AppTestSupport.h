#ifndef APP_TESTING_APPTESTSUPPORT_H
#define APP_TESTING_APPTESTSUPPORT_H
// Header-only helpers of the application's tests: the message part of log lines, a bundle
// folder of a test's own, property-list and subtitle documents, and the clock moved on while an
// answer trickles in.

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/Driver.h"
#include "tests/support/TemporaryDirectory.h"

namespace AppTestSupport {

// The message of a log line: what follows "Process[pid:tid] ", without the line break.
inline std::string Message(const std::string& line) {
    const size_t start = line.find("] ");
    std::string message = start == std::string::npos ? line : line.substr(start + 2);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return message;
}

// The messages of the lines that begin with prefix ("[UDID]"), in order.
inline std::vector<std::string> Messages(const std::vector<std::string>& lines,
                                         const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        const std::string message = Message(line);
        if (message.compare(0, prefix.size(), prefix) == 0) out.push_back(message);
    }
    return out;
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else {
            out += c;
        }
    }
    return out;
}

// A property list holding one dictionary of texts.
inline std::string PlistOfTexts(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& entry : entries) {
        xml += "\t<key>" + XmlEscaped(entry.first) + "</key>\n\t<string>" +
               XmlEscaped(entry.second) + "</string>\n";
    }
    return xml + "</dict>\n</plist>\n";
}

// A TTML document with the given cues inside its one div.
inline std::string TtmlWithCues(const std::string& cues) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<tt xmlns=\"http://www.w3.org/ns/ttml\" "
           "xmlns:tts=\"http://www.w3.org/ns/ttml#styling\" xml:lang=\"en\">\n"
           "<body><div>\n" +
           cues + "</div></body></tt>\n";
}

// Moves the driver's manual clock on `step` seconds at a time (timers fire at their own times)
// until condition() holds (true) or `seconds` have passed (false). Before each step `loop` runs
// a few short real waits, so that what arrives in real time (an origin's answer trickling in a
// byte now and then) keeps arriving while the clock moves, as it would over the same seconds.
inline bool AdvanceWhileArriving(ui::Driver& driver, ns::RunLoop& loop,
                                 const std::function<bool()>& condition, double seconds,
                                 double step = 0.5) {
    for (double moved = 0;; moved += step) {
        for (int i = 0; i < 3; ++i) {
            loop.RunOnce(std::chrono::milliseconds(2));
            if (condition()) return true;
        }
        if (moved + step > seconds + 1e-9) return false;
        driver.Advance(step);
        if (condition()) return true;
    }
}

}  // namespace AppTestSupport

#endif  // APP_TESTING_APPTESTSUPPORT_H
