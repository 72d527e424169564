#ifndef APP_PAGEBRIDGESCRIPT_H
#define APP_PAGEBRIDGESCRIPT_H
// The scripts by which the portal screen tells the portal page what became of a title: its
// progress, its completion and a player error, each a call of the page's own function
// __zulPlayerProxy.
//
// The media id comes from the playback information, that is from outside. A plain number
// (an optional leading "-", then "0" or up to 15 digits without a leading zero) goes in as it
// is, so the page gets the number it gave; anything else (leading zeros, which a script may
// read as octal, and longer digit runs, which a double cannot hold exactly, included) goes in
// as a single-quoted string literal, so that no id can end the call early, run script of its
// own or close the page's script element.

#include <string>

namespace PageBridgeScript {

// A plain number as it is; anything else quoted and escaped (see above).
std::string mediaIdArgument(const std::string& mediaID);

// "__zulPlayerProxy('play_progress',ID,SECONDS);"
std::string playProgress(const std::string& mediaID, int seconds);
// "__zulPlayerProxy('complete',ID);"
std::string complete(const std::string& mediaID);
// "__zulPlayerProxy('error',ID,CODE);"
std::string error(const std::string& mediaID, int code);

}  // namespace PageBridgeScript

#endif  // APP_PAGEBRIDGESCRIPT_H
