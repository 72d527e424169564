#include "platform/ui/AlertLog.h"

namespace ui {
namespace {

std::vector<AlertLogEntry>& Log() {
    static auto* log = new std::vector<AlertLogEntry>();  // never destroyed
    return *log;
}

}  // namespace

void AlertLog::Append(AlertLogEntry entry) { Log().push_back(std::move(entry)); }

const std::vector<AlertLogEntry>& AlertLog::Entries() { return Log(); }

void AlertLog::Clear() { Log().clear(); }

}  // namespace ui
