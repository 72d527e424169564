// Property-list reader and writer: any input either fails with a reason or parses; what
// parses must be written (every value the reader makes can be written), the text written
// must parse again to an equal value, and writing that value must give the same text.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Value.h"
#include "platform/store/PropertyList.h"

namespace {

// Equality that counts NaN equal to NaN (a real "nan" reads back as NaN).
bool SameValue(const ns::Value& a, const ns::Value& b) {
    const double* x = a.AsDouble();
    const double* y = b.AsDouble();
    if (x && y && std::isnan(*x) && std::isnan(*y)) {
        return true;
    }
    if (a.IsArray() && b.IsArray()) {
        if (a.Count() != b.Count()) return false;
        for (size_t i = 0; i < a.Count(); ++i) {
            if (!SameValue(a[i], b[i])) return false;
        }
        return true;
    }
    if (a.IsDictionary() && b.IsDictionary()) {
        if (a.Count() != b.Count()) return false;
        for (const auto& [key, value] : *a.AsDictionary()) {
            const ns::Value* other = b.Find(key);
            if (!other || !SameValue(value, *other)) return false;
        }
        return true;
    }
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ns::Value value;
    std::string error;
    if (!ns::PropertyList::Parse(input, value, error)) {
        if (error.empty()) {
            __builtin_trap();
        }
        return 0;
    }
    std::string text;
    if (!ns::PropertyList::Serialize(value, text, error)) {
        __builtin_trap();
    }
    ns::Value again;
    if (!ns::PropertyList::Parse(text, again, error) || !SameValue(value, again)) {
        __builtin_trap();
    }
    std::string textAgain;
    if (!ns::PropertyList::Serialize(again, textAgain, error) || textAgain != text) {
        __builtin_trap();
    }
    return 0;
}
