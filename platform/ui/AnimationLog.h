#ifndef PLATFORM_UI_ANIMATION_LOG_H
#define PLATFORM_UI_ANIMATION_LOG_H
// The animations started in the process, in order (the latest CappedLog::kMaxEntries): block
// animations when their block has run, layer animations when they are added. Tests and the
// inspector read it.

#include <string>
#include <vector>

#include "platform/ui/CappedLog.h"

namespace ui {

struct AnimationLogEntry {
    std::string kind;     // "block", "basic" or "transition"
    std::string key;      // layer animations: the key it was added under
    std::string keyPath;  // basic: the key path; transition: its type ("fade")
    double duration = 0;
    double delay = 0;        // block animations only
    double repeatCount = 0;  // HUGE_VALF (infinity) for an endless one
    bool autoreverses = false;
    std::string timing;    // "default", "linear", "easeIn", "easeOut", "easeInEaseOut"
    unsigned options = 0;  // block animations: the AnimationOptions bits
    // Layer animations: the layer's view; blocks: the first view changed in the block.
    std::string identifier;
    // Blocks: every view changed in the block, in order of first change (unnamed ones as "").
    std::vector<std::string> identifiers;
};

class AnimationLog : public CappedLog<AnimationLogEntry> {};

}  // namespace ui

#endif  // PLATFORM_UI_ANIMATION_LOG_H
