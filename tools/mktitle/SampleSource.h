#ifndef TOOLS_MKTITLE_SAMPLESOURCE_H
#define TOOLS_MKTITLE_SAMPLESOURCE_H

#include <cstdint>
#include <vector>

namespace SvTools {

// Hands out the bytes of one rendition's samples, each kind in decode order, as the title is
// written: the sample table says how many there are and how large each is.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    // The bytes of the next video access unit or audio frame; valid until the next call for the
    // same kind. Raises std::runtime_error when there is none or it cannot be read.
    virtual const std::vector<uint8_t>& Next(bool video) = 0;
};

}  // namespace SvTools

#endif
