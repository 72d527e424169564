#include "platform/ui/AnimationLog.h"

namespace ui {
namespace {

std::vector<AnimationLogEntry>& Log() {
    static auto* log = new std::vector<AnimationLogEntry>();  // never destroyed
    return *log;
}

}  // namespace

void AnimationLog::Append(AnimationLogEntry entry) { Log().push_back(std::move(entry)); }

const std::vector<AnimationLogEntry>& AnimationLog::Entries() { return Log(); }

void AnimationLog::Clear() { Log().clear(); }

}  // namespace ui
