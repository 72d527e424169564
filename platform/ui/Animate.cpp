#include "platform/ui/Animate.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/AnimationLog.h"
#include "platform/ui/Loop.h"
#include "platform/ui/View.h"

namespace ui {
namespace {

struct Block {
    std::vector<const View*> views;
    std::vector<std::string> identifiers;
};

// Open blocks, innermost last (main thread only).
std::vector<Block>& Blocks() {
    static auto* blocks = new std::vector<Block>();  // never destroyed
    return *blocks;
}

std::string CurveName(unsigned options) {
    switch (options & AnimationOptions::CurveMask) {
        case AnimationOptions::CurveEaseIn: return "easeIn";
        case AnimationOptions::CurveEaseOut: return "easeOut";
        case AnimationOptions::CurveLinear: return "linear";
        default: return "easeInEaseOut";
    }
}

}  // namespace

void NoteChangeForAnimationBlock(View& view) {
    if (Blocks().empty()) {
        return;
    }
    // A change counts for every open block: an outer block also animates what nested
    // blocks change.
    for (Block& block : Blocks()) {
        if (std::find(block.views.begin(), block.views.end(), &view) == block.views.end()) {
            block.views.push_back(&view);
            block.identifiers.push_back(view.Identifier());
        }
    }
}

bool InsideAnimationBlock() { return !Blocks().empty(); }

void Animate(double duration, double delay, unsigned options,
             const std::function<void()>& animations,
             std::function<void(bool finished)> completion) {
    duration = duration > 0 ? duration : 0;
    delay = delay > 0 ? delay : 0;
    Blocks().emplace_back();
    if (animations) {
        animations();
    }
    Block block = std::move(Blocks().back());
    Blocks().pop_back();

    AnimationLogEntry log;
    log.kind = "block";
    log.duration = duration;
    log.delay = delay;
    log.timing = CurveName(options);
    log.options = options;
    if (!block.identifiers.empty()) {
        log.identifier = block.identifiers.front();
    }
    log.identifiers = std::move(block.identifiers);
    AnimationLog::Append(std::move(log));

    if (completion) {
        Loop().AfterDelay(SecondsToDuration(delay + duration),
                          [completion = std::move(completion)] { completion(true); });
    }
}

void Animate(double duration, const std::function<void()>& animations,
             std::function<void(bool finished)> completion) {
    Animate(duration, 0, AnimationOptions::None, animations, std::move(completion));
}

}  // namespace ui
