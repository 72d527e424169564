// Feeds arbitrary bytes to the picture check, as a thumbnail answer would arrive. Whatever the
// bytes, the check ends with an answer (no crash, no read past the end, bounded memory), the
// same answer twice, and a reason whenever it refuses.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/store/ImageDecodeCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string why;
    const bool decodes = ns::ImageDecodeCheck::Decodes(bytes, &why);
    if (!decodes && why.empty()) std::abort();
    if (ns::ImageDecodeCheck::Decodes(bytes) != decodes) std::abort();
    return 0;
}
