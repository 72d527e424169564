#ifndef PLATFORM_STORE_PROPERTYLIST_H
#define PLATFORM_STORE_PROPERTYLIST_H
// XML property lists: the settings format of the bundle (Info.plist and the service
// configuration), of the user defaults and of the keychain stand-in.
//
// Elements and the ns::Value kinds they map to:
//   <dict> (<key>name</key> then a value, repeated)  Dictionary (a repeated key: the last wins)
//   <array>                                          Array
//   <string>                                         String
//   <integer> (decimal, optional sign)               Int, or UInt above the signed range
//   <real> (decimal, "nan", "inf", "+infinity"...)   Double (a Decimal is written as a real)
//   <true/>, <false/>                                Bool
//   <data> (base64, white space ignored)             Data
//   <date> (YYYY-MM-DDTHH:MM:SSZ, UTC)               Date
// Null has no element: writing a null anywhere fails.
//
// Reading goes through libxml2 with the network off and without loading a DTD or any external
// entity. Character references (&#13;, &#x41;) and the predefined entities are expanded (the
// writer itself emits &#13; for a carriage return); any other entity reference is refused
// rather than expanded, and libxml2's limits on depth and entity amplification stay on.
// Documents larger than kMaxDocumentSize are refused before parsing.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace ns {

class PropertyList {
public:
    static constexpr size_t kMaxDocumentSize = 8 * 1024 * 1024;
    // Containers nested deeper than this are refused when writing (libxml2 refuses deeper
    // documents when reading).
    static constexpr size_t kMaxDepth = 200;

    // Parses a whole document (root <plist> holding one value, or a value element as root).
    // On failure answers false with a reason that names the line; `out` is left untouched.
    static bool Parse(std::string_view xml, Value& out, std::string& error);

    // Writes `value` as a document: XML declaration, <plist version="1.0">, the value with
    // children indented by tabs, one element per line; empty containers as <dict/> and <array/>,
    // data as one line of base64, reals in their shortest exact form. Fails on null, on text
    // that is not valid UTF-8 or holds characters XML cannot carry, and on too deep nesting.
    static bool Serialize(const Value& value, std::string& out, std::string& error);

    // The same for files; WriteFile replaces the file atomically with the given mode.
    static bool ReadFile(const std::string& path, Value& out, std::string& error,
                         bool* missing = nullptr);
    static bool WriteFile(const std::string& path, const Value& value, mode_t mode,
                          std::string& error);
};

}  // namespace ns

#endif  // PLATFORM_STORE_PROPERTYLIST_H
