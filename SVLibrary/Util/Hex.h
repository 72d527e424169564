#ifndef SVLIBRARY_UTIL_HEX_H
#define SVLIBRARY_UTIL_HEX_H

#include <string>
#include <vector>

namespace SV {

// The value of one hexadecimal digit (either case), or -1 when c is not one.
int HexDigitValue(char c);

// Two hexadecimal digits per byte, high half first, either case. An empty or odd-length text,
// or one with any other character, gives an empty vector: never a partial result.
std::vector<unsigned char> HexToBytes(const std::string& text);

// Two lower-case digits per byte, high half first.
std::string BytesToHex(const std::vector<unsigned char>& bytes);

}  // namespace SV

#endif
