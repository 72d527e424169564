#ifndef TESTS_SUPPORT_CHAINTESTCOMPONENTS_H
#define TESTS_SUPPORT_CHAINTESTCOMPONENTS_H

// Header-only, so that the test program of engine/core uses it without linking anything above
// engine/core: the components that tests build little chains of, and the byte pattern they
// feed them.

#include <cstdint>
#include <vector>

#include "tests/support/RecordingSink.h"
#include "tests/support/RecordingStage.h"

namespace SvTestSupport {

// The bytes from position from up to to of an endless stream whose byte i is i % 251: a
// period prime to every chunk size, so a byte lost, repeated or moved shows.
inline std::vector<uint8_t> PatternBytes(uint64_t from, uint64_t to) {
    std::vector<uint8_t> bytes;
    if (to > from) bytes.reserve(static_cast<size_t>(to - from));
    for (uint64_t i = from; i < to; ++i) bytes.push_back(static_cast<uint8_t>(i % 251));
    return bytes;
}

}  // namespace SvTestSupport

#endif
