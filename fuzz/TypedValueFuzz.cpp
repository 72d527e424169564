// Reads arbitrary bytes as a typed value and as a dictionary payload. Whatever reads must write
// back to bytes that read again to the very same bytes; whatever fails must leave a value that
// can still be copied, written, printed and destroyed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"

namespace {

template <typename Value>
void Check(const std::vector<uint8_t>& input) {
    Value value;
    const size_t consumed = value.Deserialize(input, 0);
    if (consumed > input.size()) {
        abort();
    }
    const Value copy(value);
    std::vector<uint8_t> once;
    copy.Serialize(once);
    std::string text;
    copy.Print("", text);
    if (consumed == 0) {
        return;
    }
    // Only repeated dictionary keys make the rewritten form shorter; nothing makes it longer.
    if (once.size() > consumed) {
        abort();
    }
    Value again;
    if (again.Deserialize(once, 0) != once.size()) {
        abort();
    }
    std::vector<uint8_t> twice;
    again.Serialize(twice);
    if (twice != once) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    Check<SV::SVTypedValue>(input);
    Check<SV::SVDictionary>(input);
    return 0;
}
