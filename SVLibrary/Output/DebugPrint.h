#ifndef SVLIBRARY_OUTPUT_DEBUGPRINT_H
#define SVLIBRARY_OUTPUT_DEBUGPRINT_H

// The engine's debug trace. Its texts document what the code is doing but are never output;
// the format attribute still lets the compiler check every call.
inline void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void DebugPrint(const char*, ...) {}

#endif
