#ifndef SVLIBRARY_UTIL_LIBRARYVERSION_H
#define SVLIBRARY_UTIL_LIBRARYVERSION_H

namespace SV {

// The engine library's version text, "6.0.0.12556" (static storage).
const char* GetLibraryVersion();

}  // namespace SV

#endif
