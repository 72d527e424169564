#include "tools/mktitle/LimitedSink.h"

#include <algorithm>
#include <utility>

namespace SvTools {

LimitedSink::LimitedSink(ByteSink& sink, uint64_t limit, std::function<void(uint64_t)> progress)
    : sink_(sink), limit_(limit), progress_(std::move(progress)) {}

void LimitedSink::Write(const uint8_t* data, size_t size) {
    const uint64_t room = limit_ - std::min(limit_, written_);
    const uint64_t keep = std::min<uint64_t>(size, room);
    if (keep > 0) {
        sink_.Write(data, static_cast<size_t>(keep));
    }
    written_ += size;
    if (progress_) {
        progress_(std::min(written_, limit_));
    }
}

}  // namespace SvTools
