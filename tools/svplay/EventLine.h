#ifndef TOOLS_SVPLAY_EVENTLINE_H
#define TOOLS_SVPLAY_EVENTLINE_H

#include <string>

#include "platform/Value.h"

namespace SvTools {

// One readable line per player event, so that a person (or a script with grep) can follow a
// playback: "event SViOsApiEvent_Playing {SVAssetPathKey=/media/a.svm, SVAssetTypeKey=1}".
//
// Values are written as their kind reads best: numbers and booleans as text, strings bare
// unless they would be misread (empty, or holding a space, quote, comma, '=', a bracket or a
// control character: then quoted, with \" \\ \n \t and \xNN escapes), arrays in [..],
// dictionaries in {..} with their keys in order, bytes as "<N bytes>" (a picture is not text).
class EventLine {
public:
    static std::string Format(const std::string& eventName, const ns::Dictionary& attributes);
    static std::string Describe(const ns::Value& value);
    static std::string Describe(const ns::Dictionary& dictionary);

private:
    static std::string Text(const std::string& text);
};

}  // namespace SvTools

#endif
