#ifndef TOOLS_MKTITLE_LIMITEDSINK_H
#define TOOLS_MKTITLE_LIMITEDSINK_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tools/mktitle/ByteSink.h"

namespace SvTools {

// Passes the first `limit` bytes on to another sink and drops the rest, counting all that went
// by; progress, when given, hears the bytes passed on so far.
class LimitedSink : public ByteSink {
public:
    LimitedSink(ByteSink& sink, uint64_t limit, std::function<void(uint64_t)> progress = {});

    void Write(const uint8_t* data, size_t size) override;
    uint64_t Written() const { return written_; }

private:
    ByteSink& sink_;
    uint64_t limit_;
    std::function<void(uint64_t)> progress_;
    uint64_t written_ = 0;
};

}  // namespace SvTools

#endif
