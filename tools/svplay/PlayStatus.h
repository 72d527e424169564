#ifndef TOOLS_SVPLAY_PLAYSTATUS_H
#define TOOLS_SVPLAY_PLAYSTATUS_H

#include <string>

namespace SvTools {

// What a result of the player's entry points means, in words: the bridge's own small codes
// (1, 2, 15, 16, 20) and the engine statuses it passes through. The line a tool prints is
// "the meaning (number)", so the number stays for whoever looks it up.
class PlayStatus {
public:
    // The meaning alone; "unknown status" for a number that is neither.
    static std::string Meaning(int status);
    // "Meaning (number)".
    static std::string Text(int status);
};

}  // namespace SvTools

#endif
